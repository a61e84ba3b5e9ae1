#pragma once

#include <QtCore/QCache>
#include <QtCore/QHash>
#include <QtCore/QElapsedTimer>
#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QTimer>
#include <QtCore/QSize>
#include <QtCore/QUrl>
#include <QtGui/QImage>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the pictures messages link to (avatars, chart and video thumbnails) once each and
// keeps them decoded at the sizes asked for; SVG is drawn at that size, so it stays sharp. Only
// what the address policy allows is fetched, over the network and within its limits; refused
// pictures say why. A picture that did not come is fetched again after a while, longer each
// time, while someone still asks for it, and at once when the service is back.
class ImageCache : public QObject
{
    Q_OBJECT

public:
    explicit ImageCache(QObject* parent = nullptr);
    ~ImageCache() override;

    // The picture scaled to fit size (device pixels), or a null image while it is on its way
    // or when it could not be had; asking starts the download.
    QImage image(const QUrl& url, const QSize& size);
    // Why the picture at url is not shown; empty unless it was refused.
    QString refusal(const QUrl& url) const { return m_refusals.value(url); }
    // Downloads under way.
    int pendingCount() const { return m_pending.size(); }
    // The last download of the picture at url failed; it is tried again later.
    bool hasFailed(const QUrl& url) const { return m_failures.contains(url); }
    // The wait before the first retry of a failed picture, doubled at each failure up to longest.
    void setRetryDelays(int firstMs, int longestMs);

public slots:
    // The service answers again: failed pictures are fetched anew, the ones asked for at once.
    void retryFailed();

signals:
    // A download starts: the only way a picture comes in.
    void fetching(const QUrl& url);
    void imageReady(const QUrl& url);

private slots:
    void onMetaDataChanged();
    void onReadyRead();
    void onRedirected(const QUrl& target);
    void onFinished();
    void onRetryDue();

private:
    struct Failure
    {
        qint64 dueMs = 0;   // on the cache's clock
        int delayMs = 0;    // the wait that led to dueMs
        bool wanted = false; // asked for since it failed
    };

    void fetch(const QUrl& url);
    void refuse(const QUrl& url, const QString& refusal);
    // Stops a download for a reason of the policy's.
    void refuse(QNetworkReply* reply, const QString& refusal);
    void fail(const QUrl& url);
    void keepScaled(const QString& key, const QImage& image);
    void scheduleRetry();
    QImage decode(const QUrl& url, const QByteArray& data, const QSize& size);

    QNetworkAccessManager* m_network;
    QCache<QUrl, QByteArray> m_data; // the files, by size, to decode again at other sizes
    QHash<QString, QImage> m_scaled; // by size and address
    qint64 m_scaledBytes = 0;
    QHash<QNetworkReply*, QUrl> m_pending;
    QHash<QUrl, Failure> m_failures;
    QHash<QUrl, QString> m_refusals; // for good: the same address gets the same answer
    QElapsedTimer m_clock;
    QTimer m_retryTimer;
    int m_firstRetryMs = 60 * 1000;
    int m_longestRetryMs = 30 * 60 * 1000;
};
