#pragma once

#include "testhost.h"

#include <QtCore/QBuffer>
#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtGui/QImage>
#include <QtGui/QImageWriter>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtTest/QTest>

#include <memory>

namespace SharingTest {

// The emulator's address for a path of its API.
inline QString apiUrl(const QString& path)
{
    return QString::fromStdString(sharedEmulator().baseUrl()) + QStringLiteral("api/2/") + path;
}

// What a GET of the address brings back, read the way any HTTP client would; empty on failure.
inline QByteArray download(const QString& url)
{
    QNetworkAccessManager manager;
    std::unique_ptr<QNetworkReply> reply(manager.get(QNetworkRequest(QUrl(url))));
    if (!QTest::qWaitFor([&] { return reply->isFinished(); }, 10000) || reply->error() != QNetworkReply::NoError)
        return QByteArray();
    return reply->readAll();
}

// The newest message of one of the service's streams ("streams/user/alice.json").
inline QJsonObject newestMessage(const QString& stream)
{
    const QJsonArray messages = QJsonDocument::fromJson(download(apiUrl(stream))).object().value(QStringLiteral("messages")).toArray();
    return messages.isEmpty() ? QJsonObject() : messages.first().toObject();
}

// The JPEG as Qt's image writer makes it at its default quality.
inline QByteArray jpegOf(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "JPG");
    writer.write(image);
    return bytes;
}

} // namespace SharingTest
