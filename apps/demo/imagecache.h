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
// keeps them decoded at the sizes asked for; SVG is drawn at that size, so it stays sharp.
class ImageCache : public QObject
{
    Q_OBJECT

public:
    explicit ImageCache(QObject* parent = nullptr);
    ~ImageCache() override;

    // The picture scaled to fit size (device pixels), or a null image while it is on its way
    // or when it could not be had; asking starts the download.
    QImage image(const QUrl& url, const QSize& size);
    // Downloads under way.
    int pendingCount() const { return m_pending.size(); }

signals:
    void imageReady(const QUrl& url);

private slots:
    void onFinished();

private:
    void fetch(const QUrl& url);
    QImage decode(const QByteArray& data, const QSize& size) const;

    QNetworkAccessManager* m_network;
    QHash<QUrl, QByteArray> m_data;
    QHash<QString, QImage> m_scaled; // by size and address
    QHash<QNetworkReply*, QUrl> m_pending;
    QSet<QUrl> m_failed;
};
