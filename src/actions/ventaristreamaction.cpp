#include "ventaristreamaction.h"

#include "common/reports.h"
#include "remotesettings.h"
#include "streams/iventaristream.h"

#include <QtCore/QUrlQuery>

namespace Ventari {

VentariStreamAction::VentariStreamAction(IVentariStream* stream, const QByteArray& streamValue, int filterIndex,
                                         int priority)
    : VentariAbstractAction(stream ? stream->authorizationMode() : int(RequiresUser), Get, priority)
    , m_stream(stream)
    , m_streamValue(streamValue)
    , m_filterIndex(filterIndex)
{
    VR_ASSERT(stream);
}

QUrl VentariStreamAction::url()
{
    if (!m_stream)
        return QUrl();
    // The value fills the lowest place marker of the whole address, which is the path's "%1" as
    // long as the base address has none of its own.
    QString text = remoteSetting("streamApiUrl").toString() + QStringLiteral("streams/") + m_stream->jsonPath();
    if (!m_streamValue.isEmpty())
        text = text.arg(QString::fromUtf8(m_streamValue));
    QUrl address(text);

    QUrlQuery query;
    const StreamFilters filters = m_stream->filters();
    const QString filter = VR_ASSERT(m_filterIndex >= 0 && m_filterIndex < filters.size())
        ? filters.at(m_filterIndex).value
        : QString();
    if (!filter.isEmpty())
        query.addQueryItem(QStringLiteral("filter"), filter);
    if (m_maxId != -1)
        query.addQueryItem(QStringLiteral("max"), QString::number(m_maxId));
    if (!query.isEmpty())
        address.setQuery(query);
    return address;
}

bool VentariStreamAction::processData(const QVariantMap& reply)
{
    if (!VentariAbstractAction::processData(reply))
        return false;
    try {
        reportSubject(reply);
    } catch (const FormatException& e) {
        // A broken subject costs only its two reports; the page is still delivered.
        VR_LOG(0, 2) << "Parse error: " << e.message;
    }
    return decodeResult([&] {
        emit dataObtained(decodeMessages(reply.value(QStringLiteral("messages")).toList()));
    });
}

// Throws FormatException before reporting anything when the subject cannot be read.
void VentariStreamAction::reportSubject(const QVariantMap& reply)
{
    const QString user = QStringLiteral("user");
    const QString symbol = QStringLiteral("symbol");
    if (reply.contains(user)) {
        const UserInfo info = decodeUserInfo(reply.value(user).toMap());
        emit following(info.isFollowing);
        emit streamId(info.id);
    } else if (reply.contains(symbol)) {
        const SymbolInfo info = decodeSymbolInfo(reply.value(symbol).toMap());
        emit following(info.isFollowing);
        emit streamId(info.id);
    }
}

} // namespace Ventari
