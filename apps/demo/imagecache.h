#pragma once

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QSet>
#include <QtCore/QSize>
#include <QtCore/QUrl>
#include <QtGui/QImage>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches the pictures messages link to (avatars, chart and video thumbnails) once each and
// keeps them decoded at the sizes asked for; SVG is drawn at that size, so it stays sharp. Only
// what the address policy allows is fetched, over the network and within its limits; refused
// pictures say why.
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

signals:
    // A download starts: the only way a picture comes in.
    void fetching(const QUrl& url);
    void imageReady(const QUrl& url);

private slots:
    void onMetaDataChanged();
    void onReadyRead();
    void onRedirected(const QUrl& target);
    void onFinished();

private:
    void fetch(const QUrl& url);
    void refuse(const QUrl& url, const QString& refusal);
    // Stops a download for a reason of the policy's.
    void refuse(QNetworkReply* reply, const QString& refusal);
    QImage decode(const QUrl& url, const QByteArray& data, const QSize& size);

    QNetworkAccessManager* m_network;
    QHash<QUrl, QByteArray> m_data;
    QHash<QString, QImage> m_scaled; // by size and address
    QHash<QNetworkReply*, QUrl> m_pending;
    QSet<QUrl> m_failed;
    QHash<QUrl, QString> m_refusals;
};
