#include "ventaridecoders.h"

#include <QtCore/QDate>

#include <array>

namespace Ventari {
namespace {

bool isMap(const QVariant& value) { return value.userType() == QMetaType::QVariantMap; }
bool isList(const QVariant& value) { return value.userType() == QMetaType::QVariantList; }
bool isInt(const QVariant& value) { return value.userType() == QMetaType::Int; }

[[noreturn]] void fail(const char* message)
{
    throw FormatException(QString::fromLatin1(message));
}

// The value under key, which the record cannot do without.
QVariant required(const QVariantMap& map, const QString& key, const char* failure)
{
    const auto it = map.constFind(key);
    if (it == map.constEnd())
        fail(failure);
    return it.value();
}

// The texts under keys, in order, into fields; missing keys give empty texts.
template <std::size_t N>
void readTexts(const QVariantMap& map, const char* const (&keys)[N], std::array<QString, N>& fields)
{
    for (std::size_t i = 0; i < N; ++i)
        fields[i] = map.value(QLatin1String(keys[i])).toString();
}

// Each element must be a map; one that is not fails the whole list.
template <typename Record>
QList<Record> decodeMaps(const QVariantList& list, const char* failure, Record (*decode)(const QVariantMap&))
{
    QList<Record> records;
    records.reserve(list.size());
    for (const QVariant& value : list) {
        if (!isMap(value))
            fail(failure);
        records.append(decode(value.toMap()));
    }
    return records;
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
    const QVariant response = required(reply, QStringLiteral("response"), "Response doesn't contain response field");
    if (!isMap(response))
        fail("Response is not a map");

    ResponseError result;
    result.status =
        required(response.toMap(), QStringLiteral("status"), "Response doesn't contain status number").toInt();

    const QVariant errors = reply.value(QStringLiteral("errors"));
    if (reply.contains(QStringLiteral("errors")) && !isList(errors))
        fail("Response errors is not a list");
    for (const QVariant& error : errors.toList()) {
        if (!isMap(error))
            fail("Errors wrong format");
        const QString text =
            required(error.toMap(), QStringLiteral("message"), "Errors doesn't contain error text").toString();
        if (!result.errorText.isEmpty())
            result.errorText += QLatin1String(", ");
        result.errorText += text;
    }
    return result;
}

Message decodeMessage(const QVariantMap& map)
{
    Message message;
    message.id = required(map, QStringLiteral("id"), "Message doesn't contain id").toInt();
    message.body = required(map, QStringLiteral("body"), "Message doesn't contain body").toString();
    message.createdAt =
        readCreatedAt(required(map, QStringLiteral("created_at"), "Message doesn't contain created time").toString());
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
            static const char* const chartKeys[] = {"thumb", "large", "original"};
            readTexts(chart.toMap(), chartKeys, message.chart);
        } else if (entitiesMap.contains(QStringLiteral("video"))) {
            const QVariant video = entitiesMap.value(QStringLiteral("video"));
            if (!isMap(video))
                fail("Video isn't a map");
            static const char* const videoKeys[] = {"thumb", "duration", "video", "url"};
            readTexts(video.toMap(), videoKeys, message.video);
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
        const QVariant userIds =
            required(likesMap, QStringLiteral("user_ids"), "Likes non-zero, but there's no user ids");
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
    return decodeMaps(list, "Message has wrong format", &decodeMessage);
}

UserInfo decodeUserInfo(const QVariantMap& map)
{
    UserInfo info;
    info.avatarUrl = required(map, QStringLiteral("avatar_url"), "Response doesn't contain avatar url").toString();
    info.joinDate =
        readJoinDate(required(map, QStringLiteral("join_date"), "Response doesn't contain join date").toString());
    info.id = required(map, QStringLiteral("id"), "Response doesn't contain user id").toInt();
    info.name = required(map, QStringLiteral("name"), "Response doesn't contain name").toString();
    info.username = required(map, QStringLiteral("username"), "Response doesn't contain user name").toString();
    info.isFollowing = map.value(QStringLiteral("is_following")).toBool();
    return info;
}

SymbolInfo decodeSymbolInfo(const QVariantMap& map)
{
    SymbolInfo info;
    info.id = required(map, QStringLiteral("id"), "Symbol doesn't contain id").toInt();
    info.symbol = required(map, QStringLiteral("symbol"), "Symbol doesn't contain symbol").toString();
    info.title = required(map, QStringLiteral("title"), "Symbol doesn't contain title").toString();
    info.isFollowing = map.value(QStringLiteral("is_following")).toBool();
    return info;
}

SymbolInfos decodeSymbolInfos(const QVariantList& list)
{
    return decodeMaps(list, "Symbol is not a map", &decodeSymbolInfo);
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
        const int id = required(map, QStringLiteral("id"), "Watch list doesn't contain id").toInt();
        const QString name = required(map, QStringLiteral("name"), "Watch list doesn't contain name").toString();
        lists.append(WatchListItem(id, name));
    }
    return lists;
}

} // namespace Ventari
