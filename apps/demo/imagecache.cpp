#include "imagecache.h"

#include "addresspolicy.h"

#include <QtCore/QBuffer>
#include <QtGui/QImageReader>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtNetwork/QNetworkRequest>

namespace {

// Decoded sizes kept before they are dropped; a few screens of messages, or a few large charts.
const int maximumScaled = 600;
const qint64 maximumScaledBytes = 96 * 1024 * 1024;
// Downloaded files kept to decode again at other sizes; the least used go first.
const int maximumDataBytes = 48 * 1024 * 1024;
// A picture that moves no data for this long is given up.
const int transferTimeoutMs = 30 * 1000;
const int maximumRedirects = 5;

} // namespace

ImageCache::ImageCache(QObject* parent)
    : QObject(parent)
    , m_network(new QNetworkAccessManager(this))
{
    m_data.setMaxCost(maximumDataBytes);
    m_clock.start();
    m_retryTimer.setSingleShot(true);
    connect(&m_retryTimer, &QTimer::timeout, this, &ImageCache::onRetryDue);
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
    if (url.isEmpty() || size.isEmpty() || m_refusals.contains(url))
        return QImage();
    const auto failure = m_failures.find(url);
    if (failure != m_failures.end()) {
        if (failure->dueMs > m_clock.elapsed()) {
            if (!failure->wanted) {
                failure->wanted = true;
                scheduleRetry();
            }
            return QImage();
        }
        // Its wait is over: asking fetches it again.
        fetch(url);
        return QImage();
    }
    const QString key = QStringLiteral("%1x%2 %3").arg(size.width()).arg(size.height()).arg(url.toString());
    const auto scaled = m_scaled.constFind(key);
    if (scaled != m_scaled.constEnd())
        return scaled.value();
    const QByteArray* data = m_data.object(url);
    if (!data) {
        fetch(url);
        return QImage();
    }
    // A copy: a refused picture leaves the cache, and its file with it, while it is decoded.
    const QImage decoded = decode(url, QByteArray(*data), size);
    if (!decoded.isNull())
        keepScaled(key, decoded);
    return decoded;
}

void ImageCache::setRetryDelays(int firstMs, int longestMs)
{
    m_firstRetryMs = qMax(0, firstMs);
    m_longestRetryMs = qMax(m_firstRetryMs, longestMs);
}

void ImageCache::retryFailed()
{
    const qint64 now = m_clock.elapsed();
    QList<QUrl> wanted;
    for (auto it = m_failures.begin(); it != m_failures.end(); ++it) {
        it->dueMs = now;
        it->delayMs = 0;
        if (it->wanted)
            wanted << it.key();
    }
    for (const QUrl& url : qAsConst(wanted))
        fetch(url);
}

void ImageCache::fetch(const QUrl& url)
{
    for (const QUrl& pending : qAsConst(m_pending)) {
        if (pending == url)
            return;
    }
    if (m_data.contains(url))
        return;
    // While it is on its way again, no retry is due.
    const auto failure = m_failures.find(url);
    if (failure != m_failures.end())
        failure->wanted = false;
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
    if (m_refusals.contains(url)) {
        m_failures.remove(url);
    } else if (data.isEmpty()) {
        fail(url);
    } else {
        m_failures.remove(url);
        m_data.insert(url, new QByteArray(data), int(data.size()));
    }
    emit imageReady(url);
}

// The pictures asked for since they failed, whose wait is over.
void ImageCache::onRetryDue()
{
    const qint64 now = m_clock.elapsed();
    QList<QUrl> due;
    for (auto it = m_failures.cbegin(); it != m_failures.cend(); ++it) {
        if (it->wanted && it->dueMs <= now)
            due << it.key();
    }
    for (const QUrl& url : qAsConst(due))
        fetch(url);
    scheduleRetry();
}

void ImageCache::refuse(const QUrl& url, const QString& refusal)
{
    m_refusals.insert(url, refusal);
    m_failures.remove(url);
    m_data.remove(url);
}

void ImageCache::refuse(QNetworkReply* reply, const QString& refusal)
{
    refuse(m_pending.value(reply), refusal);
    // Aborting finishes the reply at once; its handler finds the refusal.
    reply->abort();
}

// Nobody waits for the picture right now: it is fetched again once asked for after its wait.
void ImageCache::fail(const QUrl& url)
{
    Failure& failure = m_failures[url];
    failure.delayMs = failure.delayMs == 0 ? m_firstRetryMs : qMin(failure.delayMs * 2, m_longestRetryMs);
    failure.dueMs = m_clock.elapsed() + failure.delayMs;
    failure.wanted = false;
}

void ImageCache::keepScaled(const QString& key, const QImage& image)
{
    if (m_scaled.size() >= maximumScaled || m_scaledBytes + image.sizeInBytes() > maximumScaledBytes) {
        m_scaled.clear();
        m_scaledBytes = 0;
    }
    m_scaled.insert(key, image);
    m_scaledBytes += image.sizeInBytes();
}

void ImageCache::scheduleRetry()
{
    qint64 next = -1;
    for (const Failure& failure : qAsConst(m_failures)) {
        if (failure.wanted && (next < 0 || failure.dueMs < next))
            next = failure.dueMs;
    }
    if (next < 0) {
        m_retryTimer.stop();
        return;
    }
    const int wait = int(qBound(qint64(0), next - m_clock.elapsed(), qint64(m_longestRetryMs)));
    if (!m_retryTimer.isActive() || m_retryTimer.remainingTime() > wait)
        m_retryTimer.start(wait);
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
    if ((image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}
