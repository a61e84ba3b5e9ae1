#include "imagecache.h"

#include "addresspolicy.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

namespace {

// Decoded sizes kept before the oldest are dropped; a few screens of messages.
const int maximumScaled = 600;
// A picture that moves no data for this long is given up.
const int transferTimeoutMs = 30 * 1000;
const int maximumRedirects = 5;

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
    if (url.isEmpty() || size.isEmpty() || m_failed.contains(url))
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
    const QImage decoded = decode(url, data.value(), size);
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
    // Never a local file or anything else Qt would read on this thread: a pipe would stop the desk.
    const QString refused = AddressPolicy::refusal(url, AddressPolicy::Use::Load);
    if (!refused.isEmpty()) {
        refuse(url, refused);
        return;
    }
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(maximumRedirects);
    request.setTransferTimeout(transferTimeoutMs);
    emit fetching(url);
    QNetworkReply* reply = m_network->get(request);
    m_pending.insert(reply, url);
    connect(reply, &QNetworkReply::metaDataChanged, this, &ImageCache::onMetaDataChanged);
    connect(reply, &QNetworkReply::readyRead, this, &ImageCache::onReadyRead);
    connect(reply, &QNetworkReply::redirected, this, &ImageCache::onRedirected);
    connect(reply, &QNetworkReply::finished, this, &ImageCache::onFinished);
}

void ImageCache::onMetaDataChanged()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || !m_pending.contains(reply))
        return;
    bool known = false;
    const qint64 declared = reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(&known);
    const QString refused = AddressPolicy::downloadRefusal(known ? declared : -1, reply->bytesAvailable());
    if (!refused.isEmpty())
        refuse(reply, refused);
}

// The length a reply declares may be missing or wrong, and a compressed body grows as it is
// unpacked: what has come in counts.
void ImageCache::onReadyRead()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || !m_pending.contains(reply))
        return;
    const QString refused = AddressPolicy::downloadRefusal(-1, reply->bytesAvailable());
    if (!refused.isEmpty())
        refuse(reply, refused);
}

void ImageCache::onRedirected(const QUrl& target)
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || !m_pending.contains(reply))
        return;
    const QString refused = AddressPolicy::redirectRefusal(reply->url(), reply->url().resolved(target));
    if (refused.isEmpty())
        emit reply->redirectAllowed();
    else
        refuse(reply, refused);
}

void ImageCache::onFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply || !m_pending.contains(reply))
        return;
    reply->deleteLater();
    const QUrl url = m_pending.take(reply);
    const QByteArray data = reply->error() == QNetworkReply::NoError ? reply->readAll() : QByteArray();
    if (data.isEmpty() || m_refusals.contains(url))
        m_failed.insert(url);
    else
        m_data.insert(url, data);
    emit imageReady(url);
}

void ImageCache::refuse(const QUrl& url, const QString& refusal)
{
    m_refusals.insert(url, refusal);
    m_failed.insert(url);
}

void ImageCache::refuse(QNetworkReply* reply, const QString& refusal)
{
    refuse(m_pending.value(reply), refusal);
    // Aborting finishes the reply at once; its handler finds the refusal.
    reply->abort();
}

QImage ImageCache::decode(const QUrl& url, const QByteArray& data, const QSize& size)
{
    QBuffer buffer;
    buffer.setData(data);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer);
    if (!reader.canRead()) {
        refuse(url, QStringLiteral("it is not a picture the desk can read"));
        return QImage();
    }
    const QSize natural = reader.size();
    const bool drawing = reader.format().startsWith("svg");
    // Qt 5 has no allocation limit of its own: the size a picture declares is checked before any
    // pixel is read. Drawings are only ever drawn at the size asked for.
    if (!drawing) {
        const QString refused = AddressPolicy::pictureRefusal(natural);
        if (!refused.isEmpty()) {
            refuse(url, refused);
            return QImage();
        }
    }
    // Pictures shrink to fit; only drawings grow, since pixels would blur.
    if (natural.isValid() && (drawing || natural.width() > size.width() || natural.height() > size.height()))
        reader.setScaledSize(natural.scaled(size, Qt::KeepAspectRatio));
    else if (drawing)
        reader.setScaledSize(size);
    QImage image = reader.read();
    if (image.isNull()) {
        refuse(url, QStringLiteral("the picture could not be decoded: %1").arg(reader.errorString()));
        return image;
    }
    if (!image.isNull() && (image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
