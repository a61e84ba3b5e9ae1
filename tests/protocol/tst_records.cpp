#include "testsupport.h"

#include "common/jsonparser.h"
#include "ventaridecoders.h"
#include "ventaritypes.h"

#include <QtTest/QtTest>

#include <ctime>

using namespace Ventari;

namespace {

const char* const validUser =
    R"({"id":1,"username":"trader","name":"A Trader","join_date":"2012-01-02","avatar_url":"http://a/1.png"})";

QVariant json(const QString& text)
{
    return Common::JsonParser().parse(text.toUtf8());
}

// A valid input of each decoder; the message list's second element is no message.
QVariant baseFor(const QString& decoder)
{
    const QString message = QStringLiteral(R"({"id":5,"body":"hi","created_at":"2013-05-06T07:08:09Z","user":%1})")
                                .arg(QLatin1String(validUser));
    if (decoder == QLatin1String("reply"))
        return json(QStringLiteral(R"({"response":{"status":200}})"));
    if (decoder == QLatin1String("message"))
        return json(message);
    if (decoder == QLatin1String("messages"))
        return json(QLatin1Char('[') + message + QStringLiteral(", 5]"));
    if (decoder == QLatin1String("user"))
        return json(QLatin1String(validUser));
    if (decoder == QLatin1String("symbol"))
        return json(QStringLiteral(R"({"id":3,"symbol":"AAPL","title":"Apple"})"));
    return QVariantList();
}

// Sets (path=json) or removes (-path) one member of nested maps; an empty path is the root.
void edit(QVariant& root, const QString& change)
{
    const bool remove = change.startsWith(QLatin1Char('-'));
    const int equals = change.indexOf(QLatin1Char('='));
    const QString path = remove ? change.mid(1) : change.left(equals);
    if (path.isEmpty()) {
        root = json(change.mid(equals + 1));
        return;
    }
    QVariantMap map = root.toMap();
    const int slash = path.indexOf(QLatin1Char('/'));
    if (slash >= 0) {
        QVariant inner = map.value(path.left(slash));
        edit(inner, (remove ? QStringLiteral("-") : QString()) + change.mid(remove ? slash + 2 : slash + 1));
        map.insert(path.left(slash), inner);
    } else if (remove) {
        map.remove(path);
    } else {
        map.insert(path, json(change.mid(equals + 1)));
    }
    root = map;
}

void useZone(const QByteArray& zone)
{
    zone.isNull() ? qunsetenv("TZ") : qputenv("TZ", zone);
    tzset();
}

Message decodeEdited(const QStringList& changes)
{
    QVariant root = baseFor(QStringLiteral("message"));
    for (const QString& change : changes)
        edit(root, change);
    return decodeMessage(root.toMap());
}

} // namespace

// The service records and the decoding of replies into them.
class tst_Records : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { useZone(m_zone); }
    void failures_data();
    void failures();
    void fullMessage();
    void createdAtKeepsItsDigitsInEveryZone();
    void userInfoConversionsAndEquality();

private:
    const QByteArray m_zone = qgetenv("TZ");
};

void tst_Records::failures_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("expected");

    // expected: "ok", or for a reply its status and error text, or the decoding failure.
    auto row = [](const char* name, const char* decoder, const QStringList& changes, const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(decoder) << changes << QString::fromLatin1(expected);
    };
    row("no errors", "reply", {}, "200: ");
    row("two errors", "reply", {R"(errors=[{"message":"a"},{"message":"b"}])"}, "200: a, b");
    row("empty one between", "reply", {R"(errors=[{"message":"a"},{"message":""},{"message":"b"}])"}, "200: a, , b");
    row("empty first leaves no trace", "reply", {R"(errors=[{"message":""},{"message":"b"}])"}, "200: b");
    row("errors inside response not read", "reply", {R"(response/errors=[{"message":"x"}])", "response/status=422"}, "422: ");
    row("no response", "reply", {"-response"}, "Response doesn't contain response field");
    row("response not a map", "reply", {"response=[200]"}, "Response is not a map");
    row("no status", "reply", {"-response/status"}, "Response doesn't contain status number");
    row("errors not a list", "reply", {R"(errors={"message":"a"})"}, "Response errors is not a list");
    row("error not a map", "reply", {R"(errors=["a"])"}, "Errors wrong format");
    row("error without text", "reply", {R"(errors=[{"message":"a"},{"text":"b"}])"}, "Errors doesn't contain error text");

    row("message without id", "message", {"-id"}, "Message doesn't contain id");
    row("message without body", "message", {"-body"}, "Message doesn't contain body");
    row("message without time", "message", {"-created_at"}, "Message doesn't contain created time");
    row("time with a space for T", "message", {R"(created_at="2013-05-06 07:08:09Z")"}, "Message contains wrong date time format");
    row("impossible day", "message", {R"(created_at="2013-02-29T07:08:09Z")"}, "Message contains wrong date time format");
    row("leap day", "message", {R"(created_at="2016-02-29T23:59:59Z")"}, "ok");
    row("hour 24", "message", {R"(created_at="2013-05-06T24:00:00Z")"}, "Message contains wrong date time format");
    row("year 0", "message", {R"(created_at="0000-05-06T07:08:09Z")"}, "Message contains wrong date time format");
    row("digit that is not ASCII", "message", {QString::fromUtf8("created_at=\"2013-05-06T07:08:0\xd9\xa9Z\"")},
        "Message contains wrong date time format");
    row("message without user", "message", {"-user"}, "Response doesn't contain avatar url");
    row("entities not a map", "message", {"entities=[]"}, "Entities is not a map");
    row("chart not a map", "message", {R"(entities={"chart":"x"})"}, "Charts isn't a map");
    row("video not a map", "message", {R"(entities={"video":1})"}, "Video isn't a map");
    row("broken video beside a chart", "message", {R"(entities={"chart":{},"video":1})"}, "ok");
    row("likes total 0, ids not a list", "message", {R"(likes={"total":0,"user_ids":"x"})"}, "ok");
    row("likes not a map", "message", {"likes=3"}, "Likes is not a map");
    row("likes without total", "message", {R"(likes={"user_ids":[1]})"}, "Likes doesn't contain total");
    row("likes without ids", "message", {R"(likes={"total":2})"}, "Likes non-zero, but there's no user ids");
    row("like ids not a list", "message", {R"(likes={"total":1,"user_ids":"1"})"}, "Likes non-zero, but their format is not a list");
    row("like id with a fraction", "message", {R"(likes={"total":1,"user_ids":[1.5]})"}, "Id is not a int");
    row("symbols not a list", "message", {R"(symbols={"id":1})"}, "Symbols is not a list");
    row("symbol not a map", "message", {"symbols=[1]"}, "Symbol is not a map");
    row("time format before user", "message", {R"(created_at="x")", "-user"}, "Message contains wrong date time format");
    row("user before entities", "message", {"-user/name", "entities=1"}, "Response doesn't contain name");
    row("message list with one element not a map", "messages", {}, "Message has wrong format");

    row("user without avatar", "user", {"-avatar_url"}, "Response doesn't contain avatar url");
    row("user without join date", "user", {"-join_date"}, "Response doesn't contain join date");
    row("user without id", "user", {"-id"}, "Response doesn't contain user id");
    row("user without name", "user", {"-name"}, "Response doesn't contain name");
    row("user without user name", "user", {"-username"}, "Response doesn't contain user name");

    row("valid symbol", "symbol", {}, "ok");
    row("symbol without id", "symbol", {"-id"}, "Symbol doesn't contain id");
    row("symbol without symbol", "symbol", {"-symbol"}, "Symbol doesn't contain symbol");
    row("symbol without title", "symbol", {"-title"}, "Symbol doesn't contain title");
    row("watch list element a number", "watchlists", {"=[5]"}, "Watch list doesn't contain id");
    row("watch list without name", "watchlists", {R"(=[{"id":1}])"}, "Watch list doesn't contain name");
}

void tst_Records::failures()
{
    QFETCH(QString, decoder);
    QFETCH(QStringList, changes);
    QFETCH(QString, expected);
    QVariant input = baseFor(decoder);
    for (const QString& change : changes)
        edit(input, change);
    QString outcome = QStringLiteral("ok");
    try {
        if (decoder == QLatin1String("reply")) {
            const ResponseError error = decodeResponseError(input.toMap());
            outcome = QStringLiteral("%1: %2").arg(error.status).arg(error.errorText);
        } else if (decoder == QLatin1String("message")) {
            decodeMessage(input.toMap());
        } else if (decoder == QLatin1String("messages")) {
            decodeMessages(input.toList());
        } else if (decoder == QLatin1String("user")) {
            decodeUserInfo(input.toMap());
        } else if (decoder == QLatin1String("symbol")) {
            decodeSymbolInfo(input.toMap());
        } else {
            decodeWatchLists(input.toList());
        }
    } catch (const FormatException& e) {
        outcome = e.message;
    }
    QCOMPARE(outcome, expected);
}

void tst_Records::fullMessage()
{
    const Message message = decodeEdited(
        {QString::fromUtf8("body=\"Caf\xc3\xa9 \xe2\x82\xac $AAPL\""),
         R"(symbols=[{"id":3,"symbol":"AAPL","title":"Apple","is_following":true},{"id":4,"symbol":"EURUSD","title":"Euro"}])",
         R"(likes={"total":3,"user_ids":[7,8,7]})", R"(user/is_following=true)",
         R"(entities={"video":{"thumb":"vt","url":"u"},"chart":{"thumb":"t","large":"l","original":"o"}})"});

    QCOMPARE(QStringLiteral("%1 %2 %3").arg(message.id).arg(message.body, message.createdAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))),
             QStringLiteral("5 Caf\u00e9 \u20ac $AAPL 2013-05-06 07:08:09"));
    QStringList symbols;
    for (const SymbolInfo& symbol : message.symbols)
        symbols << QStringLiteral("%1 %2 %3 %4").arg(symbol.id).arg(symbol.symbol, symbol.title).arg(symbol.isFollowing);
    QCOMPARE(symbols, (QStringList{"3 AAPL Apple 1", "4 EURUSD Euro 0"}));
    QCOMPARE(message.likes, (QSet<int>{7, 8}));
    const UserInfo& user = message.user;
    QCOMPARE(QStringLiteral("%1 %2|%3|%4|%5 %6").arg(user.id).arg(user.username, user.name, user.avatarUrl)
                 .arg(user.joinDate.date().toString(Qt::ISODate)).arg(user.isFollowing),
             QStringLiteral("1 trader|A Trader|http://a/1.png|2012-01-02 1"));
    // A join date that does not parse is no error.
    QVERIFY(decodeEdited({R"(user/join_date="2013-02-29")"}).user.joinDate.isNull());
    // A chart wins over a video.
    QCOMPARE(QStringList(message.chart.cbegin(), message.chart.cend()), (QStringList{"t", "l", "o"}));
    QCOMPARE(QStringList(message.video.cbegin(), message.video.cend()), (QStringList{"", "", "", ""}));

    const Message withVideo = decodeEdited({R"(entities={"video":{"thumb":"vt","duration":"1:00","video":"v","url":"u"}})"});
    QCOMPARE(QStringList(withVideo.video.cbegin(), withVideo.video.cend()), (QStringList{"vt", "1:00", "v", "u"}));
    QCOMPARE(decodeMessages(QVariantList{baseFor("message"), baseFor("message")}).size(), 2);
}

void tst_Records::createdAtKeepsItsDigitsInEveryZone()
{
    for (const char* zone : {"Europe/Berlin", "America/New_York", "Asia/Tokyo"}) {
        useZone(zone);
        // 02:30 does not exist in Berlin on that night, nor 02:15 in New York on 2013-03-10.
        for (const char* text : {"2013-03-31T02:30:00Z", "2013-03-10T02:15:00Z", "2013-10-27T02:30:00Z"}) {
            const QDateTime createdAt = decodeEdited({QStringLiteral("created_at=\"%1\"").arg(QLatin1String(text))}).createdAt;
            QCOMPARE(createdAt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")), QString::fromLatin1(text));
        }
    }
}

void tst_Records::userInfoConversionsAndEquality()
{
    UserInfo info = decodeUserInfo(baseFor(QStringLiteral("user")).toMap());
    info.isFollowing = true;

    const QVariant stored = userInfoToVariant(info);
    QCOMPARE(stored.toMap().keys(), (QStringList{"avatarPath", "dateJoin", "id", "name", "username"}));
    const UserInfo restored = userInfoFromVariant(stored);
    QVERIFY(restored == info);
    QVERIFY(!restored.isFollowing);
    QCOMPARE(restored.joinDate, info.joinDate);

    // Every field but isFollowing takes part in the comparison.
    for (int field = 0; field < 5; ++field) {
        UserInfo other = restored;
        switch (field) {
        case 0: other.id = 2; break;
        case 1: other.username = "x"; break;
        case 2: other.name = "x"; break;
        case 3: other.joinDate = other.joinDate.addDays(1); break;
        case 4: other.avatarUrl = "x"; break;
        }
        QVERIFY2(other != info && !(other == info), qPrintable(QString::number(field)));
    }
}

QTEST_GUILESS_MAIN(tst_Records)
#include "tst_records.moc"
