#include "imagecache.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

namespace {

// Pictures beyond this are not a thumbnail: refused rather than decoded.
const qint64 maximumBytes = 4 * 1024 * 1024;
// Decoded sizes kept before the oldest are dropped; a few screens of messages.
const int maximumScaled = 600;

} // namespace

ImageCache::ImageCache(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
}

ImageCache::~ImageCache()
{
    for (QNetworkReply* reply : m_pending.keys()) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

QImage ImageCache::image(const QUrl& url, const QSize& size)
{
    if (!url.isValid() || url.isEmpty() || size.isEmpty() || m_failed.contains(url))
        return QImage();
    const QString key = QStringLiteral("%1x%2 %3").arg(size.width()).arg(size.height()).arg(url.toString());
    const auto scaled = m_scaled.constFind(key);
    if (scaled != m_scaled.constEnd())
        return scaled.value();
    const auto data = m_data.constFind(url);
    if (data == m_data.constEnd()) {
        fetch(url);
        return QImage();
    }
    const QImage decoded = decode(data.value(), size);
    if (decoded.isNull()) {
        m_failed.insert(url);
        return decoded;
    }
    if (m_scaled.size() >= maximumScaled)
        m_scaled.clear();
    m_scaled.insert(key, decoded);
    return decoded;
}

void ImageCache::fetch(const QUrl& url)
{
    for (const QUrl& pending : qAsConst(m_pending)) {
        if (pending == url)
            return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::NoLessSafeRedirectPolicy);
    QNetworkReply* reply = m_network->get(request);
    m_pending.insert(reply, url);
    connect(reply, &QNetworkReply::finished, this, &ImageCache::onFinished);
}

void ImageCache::onFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    reply->deleteLater();
    const QUrl url = m_pending.take(reply);
    const QByteArray data = reply->error() == QNetworkReply::NoError ? reply->read(maximumBytes + 1) : QByteArray();
    if (data.isEmpty() || data.size() > maximumBytes)
        m_failed.insert(url);
    else
        m_data.insert(url, data);
    emit imageReady(url);
}

QImage ImageCache::decode(const QByteArray& data, const QSize& size) const
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    // Pictures shrink to fit; only drawings grow, since pixels would blur.
    const QSize natural = reader.size();
    const bool drawing = reader.format().startsWith("svg");
    if (natural.isValid() && (drawing || natural.width() > size.width() || natural.height() > size.height()))
        reader.setScaledSize(natural.scaled(size, Qt::KeepAspectRatio));
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
