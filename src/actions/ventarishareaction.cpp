#include "ventarishareaction.h"

#include "remotesettings.h"

#include <QtCore/QBuffer>
#include <QtCore/QUrlQuery>
#include <QtGui/QImageWriter>

namespace Ventari {
namespace {

const QByteArray crlf = QByteArrayLiteral("\r\n");
const QByteArray boundaryLine = QByteArrayLiteral("--margin\r\n");

} // namespace

VentariShareAction::VentariShareAction(const QString& text, const QImage& image, int inReplyToMessageId)
    : VentariAbstractAction(RequiresUser, Post, 0)
    , m_text(text)
    , m_image(image)
    , m_inReplyToMessageId(inReplyToMessageId)
{
}

QUrl VentariShareAction::url()
{
    return QUrl(remoteSetting("shareUrl").toString());
}

QNetworkRequest VentariShareAction::createRequest()
{
    const QByteArray& content = body();
    QNetworkRequest request = VentariAbstractAction::createRequest();
    if (!m_image.isNull()) {
        request.setRawHeader("Content-Type", "multipart/form-data; boundary=margin");
        request.setRawHeader("Content-Length", QByteArray::number(content.size()));
    }
    return request;
}

QByteArray VentariShareAction::postData()
{
    return body();
}

QByteArray VentariShareAction::encodeJpeg(const QImage& image)
{
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "JPG").write(image);
    return jpeg;
}

// Built once: a resent request carries the token of its first sending in a multipart body.
const QByteArray& VentariShareAction::body()
{
    if (m_body.isEmpty())
        m_body = m_image.isNull() ? formBody() : multipartBody();
    return m_body;
}

QByteArray VentariShareAction::formBody() const
{
    // The text is taken literally (a "%" of its own is no escape), and an empty one keeps its "=".
    QString text = m_text.isNull() ? QStringLiteral("") : m_text;
    text.replace(QLatin1Char('%'), QLatin1String("%25"));
    QUrlQuery query;
    query.addQueryItem(QStringLiteral("body"), text);
    if (m_inReplyToMessageId != -1)
        query.addQueryItem(QStringLiteral("in_reply_to_message_id"), QString::number(m_inReplyToMessageId));
    // Form readers take "+" for a blank and some take ";" for a separator.
    return query.query(QUrl::FullyEncoded).toLatin1().replace("+", "%2B").replace(";", "%3B");
}

QByteArray VentariShareAction::multipartBody() const
{
    QByteArray content = boundaryLine;
    auto addField = [&content](const QByteArray& name, const QByteArray& value) {
        content += "Content-Disposition: form-data; name=\"" + name + '"' + crlf + crlf;
        content += value + crlf + boundaryLine;
    };
    addField("action", "script.php");
    addField("access_token", accessToken());
    addField("body", m_text.toUtf8());
    if (m_inReplyToMessageId != -1)
        addField("in_reply_to_message_id", QByteArray::number(m_inReplyToMessageId));
    content += "Content-Disposition: form-data; name=\"chart\"; filename=\"chart.jpg\"" + crlf;
    content += "Content-Type: image/jpeg" + crlf + crlf;
    content += encodeJpeg(m_image);
    content += crlf + "--margin--" + crlf + '.' + crlf;
    return content;
}

} // namespace Ventari
