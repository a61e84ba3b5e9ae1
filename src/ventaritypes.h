#pragma once

#include "ventariglobal.h"

#include <QtCore/QDateTime>
#include <QtCore/QList>
#include <QtCore/QMetaType>
#include <QtCore/QSet>
#include <QtCore/QString>
#include <QtCore/QVariant>

#include <array>

// The records exchanged with the Ventari service, as plain copyable values.
namespace Ventari {

// A symbol as the service describes it, in the service's notation.
struct VENTARI_EXPORT SymbolInfo
{
    int id = -1;
    QString symbol;
    QString title;
    bool isFollowing = false;
};

using SymbolInfos = QList<SymbolInfo>;

// A service user.
struct VENTARI_EXPORT UserInfo
{
    int id = -1;
    QString username;
    QString name;
    QDateTime joinDate;
    QString avatarUrl;
    bool isFollowing = false;

    // Whether the current user follows this one is not part of the user's identity.
    bool operator==(const UserInfo& other) const;
    bool operator!=(const UserInfo& other) const { return !(*this == other); }
};

// One stream message.
struct VENTARI_EXPORT Message
{
    enum ChartField { ChartThumb, ChartLarge, ChartOriginal, ChartFieldCount };
    enum VideoField { VideoThumb, VideoDuration, VideoVideo, VideoUrl, VideoFieldCount };

    int id = -1;
    QString body;
    QDateTime createdAt;
    SymbolInfos symbols;
    QSet<int> likes; // ids of the users who liked it
    std::array<QString, ChartFieldCount> chart;
    std::array<QString, VideoFieldCount> video;
    UserInfo user;
};

using Messages = QList<Message>;

struct VENTARI_EXPORT WatchListItem
{
    WatchListItem() = default;
    WatchListItem(int id, const QString& name)
        : id(id)
        , name(name)
    {
    }

    int id = -1;
    QString name;
};

using WatchLists = QList<WatchListItem>;

// The outcome of a request: the service's status (200 success), -1 for a network failure,
// -2 for a reply that could not be decoded.
struct VENTARI_EXPORT ResponseError
{
    ResponseError() = default;
    ResponseError(int status, const QString& errorText)
        : status(status)
        , errorText(errorText)
    {
    }

    // Whether the same request may succeed later: the service could not be reached, failed on its
    // side or was too busy, rather than refusing the request itself.
    bool isTransient() const;

    int status = 0;
    QString errorText;
    // Qt's QNetworkReply::NetworkError of a request that failed on the way; 0 when the service answered.
    int networkError = 0;
};

// The authorized user as kept in the settings; isFollowing is not stored.
VENTARI_EXPORT QVariant userInfoToVariant(const UserInfo& info);
VENTARI_EXPORT UserInfo userInfoFromVariant(const QVariant& value);

// Registers the records under the names that signal signatures spell; runs at library load
// and may be called again.
VENTARI_EXPORT void registerMetaTypes();

} // namespace Ventari

Q_DECLARE_METATYPE(Ventari::SymbolInfo)
Q_DECLARE_METATYPE(Ventari::UserInfo)
Q_DECLARE_METATYPE(Ventari::Message)
Q_DECLARE_METATYPE(Ventari::WatchListItem)
Q_DECLARE_METATYPE(Ventari::ResponseError)
