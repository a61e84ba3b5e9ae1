#include "ventariabstractaction.h"

#include "common/jsonparser.h"
#include "ventaridecoders.h"

#include <QtCore/QUrlQuery>

namespace Ventari {

VentariAbstractAction::VentariAbstractAction(int authorizationMode, int method, int priority)
    : m_authorizationMode(authorizationMode)
    , m_priority(priority)
    , m_method(method)
{
}

QNetworkRequest VentariAbstractAction::createRequest()
{
    QUrl address = url();
    if (m_authorizationMode != NeverSendToken && !m_accessToken.isEmpty()) {
        QUrlQuery query(address);
        query.addQueryItem(QStringLiteral("access_token"), QString::fromUtf8(m_accessToken));
        address.setQuery(query);
    }
    QNetworkRequest request(address);
    // Every post but a multipart share is a form; Qt would guess and warn about it.
    if (m_method != Get)
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("application/x-www-form-urlencoded"));
    return request;
}

QByteArray VentariAbstractAction::postData()
{
    return QByteArray();
}

bool VentariAbstractAction::processData(const QVariantMap& reply)
{
    ResponseError status;
    if (!decodeResult([&] { status = decodeResponseError(reply); }))
        return false;
    if (status.status != 200) {
        reportError(status);
        return false;
    }
    emit success();
    return true;
}

void VentariAbstractAction::processReply(const QByteArray& body)
{
    const QVariantMap reply = Common::JsonParser().parseNoThrow(body).toMap();
    processData(reply);
    deleteLater();
}

void VentariAbstractAction::reportError(const ResponseError& e)
{
    emit error(e);
    deleteLater();
}

void VentariAbstractAction::reportFormatError(const QString& message)
{
    reportError(ResponseError(-2, QStringLiteral("Server response error: ") + message));
}

} // namespace Ventari
