#include "ventariuserinfoaction.h"

#include "remotesettings.h"

namespace Ventari {

VentariUserInfoAction::VentariUserInfoAction()
    : VentariAbstractAction(RequiresUser, Get, 1)
{
}

QUrl VentariUserInfoAction::url()
{
    return QUrl(remoteSetting("userInfoUrl").toString());
}

bool VentariUserInfoAction::processData(const QVariantMap& reply)
{
    return VentariAbstractAction::processData(reply) && decodeResult([&] {
        emit userInfoReceived(decodeUserInfo(reply.value(QStringLiteral("user")).toMap()));
    });
}

} // namespace Ventari
