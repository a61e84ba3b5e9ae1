#include "ventarilikeunlikeaction.h"

#include "remotesettings.h"

#include <QtCore/QUrlQuery>

namespace Ventari {

VentariLikeUnlikeAction::VentariLikeUnlikeAction(int operation, int messageId)
    : VentariAbstractAction(RequiresUser, Post, 0)
    , m_operation(operation)
    , m_messageId(messageId)
{
}

QUrl VentariLikeUnlikeAction::url()
{
    QUrl address(remoteSetting(m_operation != Like ? "unlikeUrl" : "likeUrl").toString());
    QUrlQuery query(address);
    query.addQueryItem(QStringLiteral("id"), QString::number(m_messageId));
    address.setQuery(query);
    return address;
}

bool VentariLikeUnlikeAction::processData(const QVariantMap& reply)
{
    return VentariAbstractAction::processData(reply) && decodeResult([&] {
        emit done(decodeMessage(reply.value(QStringLiteral("message")).toMap()));
    });
}

} // namespace Ventari
