#include "ventaridecoders.h"

#include <QtCore/QDate>

namespace Ventari {
namespace {

bool isMap(const QVariant& value) { return value.userType() == QMetaType::QVariantMap; }
bool isList(const QVariant& value) { return value.userType() == QMetaType::QVariantList; }
bool isInt(const QVariant& value) { return value.userType() == QMetaType::Int; }

[[noreturn]] void fail(const char* message)
{
    throw FormatException(QString::fromLatin1(message));
}

// The value of count ASCII digits, or -1.
int digits(const QChar* text, int count)
{
    int value = 0;
    for (int i = 0; i < count; ++i) {
        const ushort c = text[i].unicode();
        if (c < '0' || c > '9')
            return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

// Reads "yyyy-MM-dd" written with plain digits, as the service writes it, without the cost of
// QDateTime's format parser; gives up on anything else, which that parser then reads. The date is
// invalid exactly when the parser would refuse it.
bool readPlainDate(const QChar* text, QDate* date)
{
    if (text[4] != QLatin1Char('-') || text[7] != QLatin1Char('-'))
        return false;
    const int year = digits(text, 4);
    const int month = digits(text + 5, 2);
    const int day = digits(text + 8, 2);
    if (year <= 0 || month < 0 || day < 0)
        return false;
    *date = QDate(year, month, day);
    return true;
}

// "yyyy-MM-ddTHH:mm:ssZ" with T and Z literal. The digits are kept as they stand; reading them
// as UTC keeps every wall-clock time valid, whatever the local zone's daylight-saving gaps are.
QDateTime readCreatedAt(const QString& text)
{
    if (text.size() == 20) {
        const QChar* p = text.constData();
        QDate date;
        if (p[10] == QLatin1Char('T') && p[13] == QLatin1Char(':') && p[16] == QLatin1Char(':')
            && p[19] == QLatin1Char('Z') && readPlainDate(p, &date)) {
            const int hour = digits(p + 11, 2);
            const int minute = digits(p + 14, 2);
            const int second = digits(p + 17, 2);
            if (hour >= 0 && minute >= 0 && second >= 0) {
                const QTime time(hour, minute, second);
                return date.isValid() && time.isValid() ? QDateTime(date, time, Qt::UTC) : QDateTime();
            }
        }
    }
    return QDateTime::fromString(text + QLatin1String(" UTC"), QStringLiteral("yyyy-MM-ddTHH:mm:ssZ t"));
}

// A join date is a day; it is kept as midnight UTC so that its digits never shift.
QDateTime readJoinDate(const QString& text)
{
    QDate date;
    if (text.size() != 10 || !readPlainDate(text.constData(), &date))
        date = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
    return date.isValid() ? QDateTime(date, QTime(0, 0), Qt::UTC) : QDateTime();
}

} // namespace

ResponseError decodeResponseError(const QVariantMap& reply)
{
    if (!reply.contains(QStringLiteral("response")))
        fail("Response doesn't contain response field");
    const QVariant response = reply.value(QStringLiteral("response"));
    if (!isMap(response))
        fail("Response is not a map");
    const QVariantMap responseMap = response.toMap();
    if (!responseMap.contains(QStringLiteral("status")))
        fail("Response doesn't contain status number");

    ResponseError result;
    result.status = responseMap.value(QStringLiteral("status")).toInt();

    const QVariant errors = reply.value(QStringLiteral("errors"));
    if (reply.contains(QStringLiteral("errors")) && !isList(errors))
        fail("Response errors is not a list");
    for (const QVariant& error : errors.toList()) {
        if (!isMap(error))
            fail("Errors wrong format");
        const QVariantMap errorMap = error.toMap();
        if (!errorMap.contains(QStringLiteral("message")))
            fail("Errors doesn't contain error text");
        if (!result.errorText.isEmpty())
            result.errorText += QLatin1String(", ");
        result.errorText += errorMap.value(QStringLiteral("message")).toString();
    }
    return result;
}

Message decodeMessage(const QVariantMap& map)
{
    Message message;
    if (!map.contains(QStringLiteral("id")))
        fail("Message doesn't contain id");
    message.id = map.value(QStringLiteral("id")).toInt();
    if (!map.contains(QStringLiteral("body")))
        fail("Message doesn't contain body");
    message.body = map.value(QStringLiteral("body")).toString();
    if (!map.contains(QStringLiteral("created_at")))
        fail("Message doesn't contain created time");
    message.createdAt = readCreatedAt(map.value(QStringLiteral("created_at")).toString());
    if (!message.createdAt.isValid())
        fail("Message contains wrong date time format");

    message.user = decodeUserInfo(map.value(QStringLiteral("user")).toMap());

    if (map.contains(QStringLiteral("entities"))) {
        const QVariant entities = map.value(QStringLiteral("entities"));
        if (!isMap(entities))
            fail("Entities is not a map");
        const QVariantMap entitiesMap = entities.toMap();
        if (entitiesMap.contains(QStringLiteral("chart"))) {
            const QVariant chart = entitiesMap.value(QStringLiteral("chart"));
            if (!isMap(chart))
                fail("Charts isn't a map");
            const QVariantMap chartMap = chart.toMap();
            message.chart[Message::ChartThumb] = chartMap.value(QStringLiteral("thumb")).toString();
            message.chart[Message::ChartLarge] = chartMap.value(QStringLiteral("large")).toString();
            message.chart[Message::ChartOriginal] = chartMap.value(QStringLiteral("original")).toString();
        } else if (entitiesMap.contains(QStringLiteral("video"))) {
            const QVariant video = entitiesMap.value(QStringLiteral("video"));
            if (!isMap(video))
                fail("Video isn't a map");
            const QVariantMap videoMap = video.toMap();
            message.video[Message::VideoThumb] = videoMap.value(QStringLiteral("thumb")).toString();
            message.video[Message::VideoDuration] = videoMap.value(QStringLiteral("duration")).toString();
            message.video[Message::VideoVideo] = videoMap.value(QStringLiteral("video")).toString();
            message.video[Message::VideoUrl] = videoMap.value(QStringLiteral("url")).toString();
        }
    }

    const QVariant likes = map.value(QStringLiteral("likes"));
    const QVariantMap likesMap = likes.toMap();
    if (map.contains(QStringLiteral("likes"))) {
        if (!isMap(likes))
            fail("Likes is not a map");
        if (!likesMap.contains(QStringLiteral("total")))
            fail("Likes doesn't contain total");
    }
    if (likesMap.value(QStringLiteral("total")).toInt() != 0) {
        if (!likesMap.contains(QStringLiteral("user_ids")))
            fail("Likes non-zero, but there's no user ids");
        const QVariant userIds = likesMap.value(QStringLiteral("user_ids"));
        if (!isList(userIds))
            fail("Likes non-zero, but their format is not a list");
        message.likes = decodeLikedUserIds(userIds.toList());
    }

    const QVariant symbols = map.value(QStringLiteral("symbols"));
    if (map.contains(QStringLiteral("symbols")) && !isList(symbols))
        fail("Symbols is not a list");
    message.symbols = decodeSymbolInfos(symbols.toList());
    return message;
}

Messages decodeMessages(const QVariantList& list)
{
    Messages messages;
    messages.reserve(list.size());
    for (const QVariant& value : list) {
        if (!isMap(value))
            fail("Message has wrong format");
        messages.append(decodeMessage(value.toMap()));
    }
    return messages;
}

UserInfo decodeUserInfo(const QVariantMap& map)
{
    UserInfo info;
    if (!map.contains(QStringLiteral("avatar_url")))
        fail("Response doesn't contain avatar url");
    info.avatarUrl = map.value(QStringLiteral("avatar_url")).toString();
    if (!map.contains(QStringLiteral("join_date")))
        fail("Response doesn't contain join date");
    info.joinDate = readJoinDate(map.value(QStringLiteral("join_date")).toString());
    if (!map.contains(QStringLiteral("id")))
        fail("Response doesn't contain user id");
    info.id = map.value(QStringLiteral("id")).toInt();
    if (!map.contains(QStringLiteral("name")))
        fail("Response doesn't contain name");
    info.name = map.value(QStringLiteral("name")).toString();
    if (!map.contains(QStringLiteral("username")))
        fail("Response doesn't contain user name");
    info.username = map.value(QStringLiteral("username")).toString();
    info.isFollowing = map.value(QStringLiteral("is_following")).toBool();
    return info;
}

SymbolInfo decodeSymbolInfo(const QVariantMap& map)
{
    SymbolInfo info;
    if (!map.contains(QStringLiteral("id")))
        fail("Symbol doesn't contain id");
    info.id = map.value(QStringLiteral("id")).toInt();
    if (!map.contains(QStringLiteral("symbol")))
        fail("Symbol doesn't contain symbol");
    info.symbol = map.value(QStringLiteral("symbol")).toString();
    if (!map.contains(QStringLiteral("title")))
        fail("Symbol doesn't contain title");
    info.title = map.value(QStringLiteral("title")).toString();
    info.isFollowing = map.value(QStringLiteral("is_following")).toBool();
    return info;
}

SymbolInfos decodeSymbolInfos(const QVariantList& list)
{
    SymbolInfos symbols;
    symbols.reserve(list.size());
    for (const QVariant& value : list) {
        if (!isMap(value))
            fail("Symbol is not a map");
        symbols.append(decodeSymbolInfo(value.toMap()));
    }
    return symbols;
}

QSet<int> decodeLikedUserIds(const QVariantList& list)
{
    QSet<int> ids;
    for (const QVariant& value : list) {
        if (!isInt(value))
            fail("Id is not a int");
        ids.insert(value.toInt());
    }
    return ids;
}

WatchLists decodeWatchLists(const QVariantList& list)
{
    WatchLists lists;
    lists.reserve(list.size());
    for (const QVariant& value : list) {
        const QVariantMap map = value.toMap(); // a non-map element reads as an empty map
        if (!map.contains(QStringLiteral("id")))
            fail("Watch list doesn't contain id");
        if (!map.contains(QStringLiteral("name")))
            fail("Watch list doesn't contain name");
        lists.append(WatchListItem(map.value(QStringLiteral("id")).toInt(), map.value(QStringLiteral("name")).toString()));
    }
    return lists;
}

} // namespace Ventari
