#include "testsupport.h"

#include "common/jsonparser.h"
#include "ventaridecoders.h"
#include "ventaritypes.h"

#include <QtTest/QtTest>

#include <ctime>

using namespace Ventari;

namespace Ventari {

// Carries every record through signals spelled the way the actions spell them.
class SignalProbe : public QObject
{
    Q_OBJECT

public:
    Messages messages;
    Message message;
    ResponseError lastError;
    UserInfo user;
    WatchLists lists;
    int received = 0;

signals:
    void done(Ventari::Message message);
    void dataObtained(Ventari::Messages messages);
    void error(ResponseError error);
    void userInfoReceived(UserInfo info);
    void watchListsReceived(WatchLists lists);

public slots:
    void onDone(Ventari::Message value) { message = value; ++received; }
    void onData(Ventari::Messages value) { messages = value; ++received; }
    void onError(ResponseError value) { lastError = value; ++received; }
    void onUserInfo(UserInfo value) { user = value; ++received; }
    void onWatchLists(WatchLists value) { lists = value; ++received; }
};

} // namespace Ventari

namespace {

const char* const validUser =
    R"({"id":1,"username":"trader","name":"A Trader","join_date":"2012-01-02","avatar_url":"http://a/1.png"})";

QVariant json(const QString& text)
{
    return Common::JsonParser().parse(text.toUtf8());
}

QString messageText()
{
    return QStringLiteral(R"({"id":5,"body":"hi","created_at":"2013-05-06T07:08:09Z","user":%1})")
        .arg(QLatin1String(validUser));
}

QVariant baseFor(const QString& decoder)
{
    const QString message = messageText();
    if (decoder == QLatin1String("reply"))
        return json(QStringLiteral(R"({"response":{"status":200}})"));
    if (decoder == QLatin1String("message"))
        return json(message);
    if (decoder == QLatin1String("messages"))
        return json(QLatin1Char('[') + message + QLatin1Char(']'));
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
    const QVariant value = remove ? QVariant() : json(change.mid(equals + 1));
    if (path.isEmpty()) {
        root = value;
        return;
    }
    const int slash = path.indexOf(QLatin1Char('/'));
    QVariantMap map = root.toMap();
    if (slash >= 0) {
        QVariant inner = map.value(path.left(slash));
        edit(inner, (remove ? QStringLiteral("-") : QString()) + change.mid(remove ? slash + 2 : slash + 1));
        map.insert(path.left(slash), inner);
    } else if (remove) {
        map.remove(path);
    } else {
        map.insert(path, value);
    }
    root = map;
}

// Runs a decoder and gives "ok" or the FormatException's message.
QString decode(const QString& decoder, const QVariant& input)
{
    try {
        if (decoder == QLatin1String("reply"))
            decodeResponseError(input.toMap());
        else if (decoder == QLatin1String("message"))
            decodeMessage(input.toMap());
        else if (decoder == QLatin1String("messages"))
            decodeMessages(input.toList());
        else if (decoder == QLatin1String("user"))
            decodeUserInfo(input.toMap());
        else if (decoder == QLatin1String("symbol"))
            decodeSymbolInfo(input.toMap());
        else if (decoder == QLatin1String("symbols"))
            decodeSymbolInfos(input.toList());
        else if (decoder == QLatin1String("likes"))
            decodeLikedUserIds(input.toList());
        else if (decoder == QLatin1String("watchlists"))
            decodeWatchLists(input.toList());
        else
            return QStringLiteral("unknown decoder");
    } catch (const FormatException& e) {
        return e.message;
    }
    return QStringLiteral("ok");
}

Message decodeMessageText(const QString& extraMembers)
{
    QVariant root = baseFor(QStringLiteral("message"));
    for (const QString& change : extraMembers.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        edit(root, change);
    return decodeMessage(root.toMap());
}

// Sets the process's local time zone for a scope.
class LocalTimeZone
{
public:
    explicit LocalTimeZone(const QByteArray& zone)
        : m_previous(qgetenv("TZ"))
        , m_hadPrevious(qEnvironmentVariableIsSet("TZ"))
    {
        qputenv("TZ", zone);
        tzset();
    }
    ~LocalTimeZone()
    {
        if (m_hadPrevious)
            qputenv("TZ", m_previous);
        else
            qunsetenv("TZ");
        tzset();
    }

private:
    QByteArray m_previous;
    bool m_hadPrevious;
};

} // namespace

// The service records and the decoding of replies into them.
class tst_Records : public QObject
{
    Q_OBJECT

private slots:
    void failures_data();
    void failures();
    void fullMessage();
    void likes_data();
    void likes();
    void entities_data();
    void entities();
    void createdAtKeepsItsDigitsInEveryZone();
    void datesAgreeWithQtFormatParsing();
    void joinDate_data();
    void joinDate();
    void responseError_data();
    void responseError();
    void nonJsonReplyHasNoResponseField();
    void symbolsAndWatchLists();
    void userInfoConversionsAndEquality();
    void metaTypeNames();
    void signalsCarryRecordsAcrossQueuedConnections();
};

void tst_Records::failures_data()
{
    QTest::addColumn<QString>("decoder");
    QTest::addColumn<QStringList>("changes");
    QTest::addColumn<QString>("expected");

    auto row = [](const char* name, const char* decoder, const QStringList& changes, const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(decoder) << changes << QString::fromLatin1(expected);
    };

    row("valid reply", "reply", {}, "ok");
    row("no response", "reply", {"-response"}, "Response doesn't contain response field");
    row("response not a map", "reply", {"response=[200]"}, "Response is not a map");
    row("no status", "reply", {"-response/status"}, "Response doesn't contain status number");
    row("errors not a list", "reply", {R"(errors={"message":"a"})"}, "Response errors is not a list");
    row("errors null", "reply", {"errors=null"}, "Response errors is not a list");
    row("error not a map", "reply", {R"(errors=["a"])"}, "Errors wrong format");
    row("error without text", "reply", {R"(errors=[{"message":"a"},{"text":"b"}])"},
        "Errors doesn't contain error text");
    row("response checked before errors", "reply", {"response=1", "errors=2"}, "Response is not a map");

    row("valid message", "message", {}, "ok");
    row("message without id", "message", {"-id"}, "Message doesn't contain id");
    row("message without body", "message", {"-body"}, "Message doesn't contain body");
    row("message without time", "message", {"-created_at"}, "Message doesn't contain created time");
    row("time with a space for T", "message", {R"(created_at="2013-05-06 07:08:09Z")"},
        "Message contains wrong date time format");
    row("time without Z", "message", {R"(created_at="2013-05-06T07:08:09")"},
        "Message contains wrong date time format");
    row("impossible day", "message", {R"(created_at="2013-02-30T07:08:09Z")"},
        "Message contains wrong date time format");
    row("message without user", "message", {"-user"}, "Response doesn't contain avatar url");
    row("user not a map", "message", {"user=[1]"}, "Response doesn't contain avatar url");
    row("entities not a map", "message", {"entities=[]"}, "Entities is not a map");
    row("chart not a map", "message", {R"(entities={"chart":"x"})"}, "Charts isn't a map");
    row("video not a map", "message", {R"(entities={"video":1})"}, "Video isn't a map");
    row("broken video beside a chart", "message", {R"(entities={"chart":{},"video":1})"}, "ok");
    row("likes not a map", "message", {"likes=3"}, "Likes is not a map");
    row("likes without total", "message", {R"(likes={"user_ids":[1]})"}, "Likes doesn't contain total");
    row("likes without ids", "message", {R"(likes={"total":2})"}, "Likes non-zero, but there's no user ids");
    row("like ids not a list", "message", {R"(likes={"total":1,"user_ids":"1"})"},
        "Likes non-zero, but their format is not a list");
    row("like id with a fraction", "message", {R"(likes={"total":1,"user_ids":[1.5]})"}, "Id is not a int");
    row("symbols not a list", "message", {R"(symbols={"id":1})"}, "Symbols is not a list");
    row("symbol not a map", "message", {"symbols=[1]"}, "Symbol is not a map");
    row("symbol of a message without title", "message", {R"(symbols=[{"id":1,"symbol":"A"}])"},
        "Symbol doesn't contain title");
    row("id before body", "message", {"-id", "-body"}, "Message doesn't contain id");
    row("time format before user", "message", {R"(created_at="x")", "-user"},
        "Message contains wrong date time format");
    row("user before entities", "message", {"-user/name", "entities=1"}, "Response doesn't contain name");
    row("entities before likes", "message", {"entities=1", "likes=1"}, "Entities is not a map");
    row("likes before symbols", "message", {"likes=1", "symbols=1"}, "Likes is not a map");

    row("message list element not a map", "messages", {QStringLiteral("=[%1, 5]").arg(messageText())},
        "Message has wrong format");
    row("message list with a broken message", "messages", {R"(=[{"id":1}])"}, "Message doesn't contain body");

    row("valid user", "user", {}, "ok");
    row("user without avatar", "user", {"-avatar_url"}, "Response doesn't contain avatar url");
    row("user without join date", "user", {"-join_date"}, "Response doesn't contain join date");
    row("user without id", "user", {"-id"}, "Response doesn't contain user id");
    row("user without name", "user", {"-name"}, "Response doesn't contain name");
    row("user without user name", "user", {"-username"}, "Response doesn't contain user name");
    row("avatar before the rest", "user", {"-username", "-name", "-id", "-join_date", "-avatar_url"},
        "Response doesn't contain avatar url");
    row("id before name", "user", {"-username", "-name", "-id"}, "Response doesn't contain user id");

    row("valid symbol", "symbol", {}, "ok");
    row("symbol without id", "symbol", {"-id"}, "Symbol doesn't contain id");
    row("symbol without symbol", "symbol", {"-symbol"}, "Symbol doesn't contain symbol");
    row("symbol without title", "symbol", {"-title"}, "Symbol doesn't contain title");
    row("symbol list element not a map", "symbols", {R"(=[{"id":1,"symbol":"A","title":"T"},"A"])"},
        "Symbol is not a map");

    row("liked ids", "likes", {"=[1,2,2]"}, "ok");
    row("liked id as text", "likes", {R"(=[1,"2"])"}, "Id is not a int");
    row("liked id with a fraction", "likes", {"=[2.5]"}, "Id is not a int");

    row("watch list element a number", "watchlists", {"=[5]"}, "Watch list doesn't contain id");
    row("watch list without name", "watchlists", {R"(=[{"id":1}])"}, "Watch list doesn't contain name");
    row("watch lists valid", "watchlists", {R"(=[{"id":1,"name":"A"}])"}, "ok");
}

void tst_Records::failures()
{
    QFETCH(QString, decoder);
    QFETCH(QStringList, changes);
    QFETCH(QString, expected);
    QVariant input = baseFor(decoder);
    for (const QString& change : changes)
        edit(input, change);
    QCOMPARE(decode(decoder, input), expected);
}

void tst_Records::fullMessage()
{
    const Message message = decodeMessageText(QString::fromUtf8(
        "body=\"Caf\xc3\xa9 \xe2\x82\xac $AAPL\";"
        R"(symbols=[{"id":3,"symbol":"AAPL","title":"Apple","is_following":true},{"id":4,"symbol":"EURUSD","title":"Euro"}];)"
        R"(likes={"total":3,"user_ids":[7,8,7]};)"
        R"(entities={"chart":{"thumb":"t","large":"l","original":"o"},"video":{"thumb":"vt"}};)"
        R"(user/is_following=true)"));

    QCOMPARE(message.id, 5);
    QCOMPARE(message.body, QStringLiteral("Caf\u00e9 \u20ac $AAPL"));
    QCOMPARE(message.createdAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), QStringLiteral("2013-05-06 07:08:09"));
    QCOMPARE(message.createdAt.timeSpec(), Qt::UTC);
    QCOMPARE(message.symbols.size(), 2);
    QCOMPARE(message.symbols.at(0).id, 3);
    QCOMPARE(message.symbols.at(0).symbol, QStringLiteral("AAPL"));
    QCOMPARE(message.symbols.at(0).title, QStringLiteral("Apple"));
    QCOMPARE(message.symbols.at(0).isFollowing, true);
    QCOMPARE(message.symbols.at(1).symbol, QStringLiteral("EURUSD"));
    QCOMPARE(message.symbols.at(1).isFollowing, false);
    QCOMPARE(message.likes, (QSet<int>{7, 8}));
    QCOMPARE(message.chart[Message::ChartThumb], QStringLiteral("t"));
    QCOMPARE(message.chart[Message::ChartLarge], QStringLiteral("l"));
    QCOMPARE(message.chart[Message::ChartOriginal], QStringLiteral("o"));
    for (const QString& field : message.video)
        QVERIFY(field.isEmpty());
    QCOMPARE(message.user.id, 1);
    QCOMPARE(message.user.username, QStringLiteral("trader"));
    QCOMPARE(message.user.name, QStringLiteral("A Trader"));
    QCOMPARE(message.user.avatarUrl, QStringLiteral("http://a/1.png"));
    QCOMPARE(message.user.joinDate, QDateTime(QDate(2012, 1, 2), QTime(0, 0), Qt::UTC));
    QCOMPARE(message.user.isFollowing, true);

    const Messages list = decodeMessages(json(QStringLiteral("[%1,%1]").arg(messageText())).toList());
    QCOMPARE(list.size(), 2);
    QCOMPARE(list.at(1).body, QStringLiteral("hi"));
}

void tst_Records::likes_data()
{
    QTest::addColumn<QString>("likes");
    QTest::addColumn<QList<int>>("expected");
    QTest::newRow("no likes member") << QString() << QList<int>();
    QTest::newRow("total 0 with ids that are not a list") << R"({"total":0,"user_ids":"broken"})" << QList<int>();
    QTest::newRow("total 0 with ids") << R"({"total":0,"user_ids":[1,2]})" << QList<int>();
    QTest::newRow("total as text reads as its number") << R"({"total":"2","user_ids":[4,5]})" << QList<int>{4, 5};
    QTest::newRow("duplicates collapse") << R"({"total":3,"user_ids":[9,9,9]})" << QList<int>{9};
    QTest::newRow("total need not match") << R"({"total":1,"user_ids":[]})" << QList<int>();
}

void tst_Records::likes()
{
    QFETCH(QString, likes);
    QFETCH(QList<int>, expected);
    const Message message = decodeMessageText(likes.isEmpty() ? QString() : QStringLiteral("likes=") + likes);
    QCOMPARE(message.likes, QSet<int>(expected.cbegin(), expected.cend()));
}

void tst_Records::entities_data()
{
    QTest::addColumn<QString>("entities");
    QTest::addColumn<QStringList>("chart");
    QTest::addColumn<QStringList>("video");
    const QStringList noChart{QString(), QString(), QString()};
    const QStringList noVideo{QString(), QString(), QString(), QString()};
    QTest::newRow("none") << QString() << noChart << noVideo;
    QTest::newRow("empty") << "{}" << noChart << noVideo;
    QTest::newRow("chart wins over video")
        << R"({"video":{"thumb":"vt","duration":"1:00","video":"v","url":"u"},"chart":{"thumb":"t","large":"l","original":"o"}})"
        << QStringList{"t", "l", "o"} << noVideo;
    QTest::newRow("video") << R"({"video":{"thumb":"vt","duration":"1:00","video":"v","url":"u"}})" << noChart
                           << QStringList{"vt", "1:00", "v", "u"};
    QTest::newRow("missing chart keys") << R"({"chart":{"large":"l"}})" << QStringList{"", "l", ""} << noVideo;
    QTest::newRow("missing video keys") << R"({"video":{"url":"u"}})" << noChart << QStringList{"", "", "", "u"};
    QTest::newRow("other entities") << R"({"links":[1]})" << noChart << noVideo;
}

void tst_Records::entities()
{
    QFETCH(QString, entities);
    QFETCH(QStringList, chart);
    QFETCH(QStringList, video);
    const Message message = decodeMessageText(entities.isEmpty() ? QString() : QStringLiteral("entities=") + entities);
    QCOMPARE(QStringList(message.chart.cbegin(), message.chart.cend()), chart);
    QCOMPARE(QStringList(message.video.cbegin(), message.video.cend()), video);
}

void tst_Records::createdAtKeepsItsDigitsInEveryZone()
{
    for (const char* zone : {"UTC", "Europe/Berlin", "America/New_York", "Asia/Tokyo"}) {
        const LocalTimeZone local(zone);
        // 02:30 does not exist in Berlin on that night, nor in New York on 2013-03-10.
        for (const char* text : {"2013-03-31T02:30:00Z", "2013-03-10T02:15:00Z", "2013-10-27T02:30:00Z"}) {
            const Message message = decodeMessageText(QStringLiteral("created_at=\"%1\"").arg(QLatin1String(text)));
            QVERIFY2(message.createdAt.isValid(), zone);
            QCOMPARE(message.createdAt.toString(QStringLiteral("yyyy-MM-ddTHH:mm:ssZ")), QString::fromLatin1(text));
        }
    }
}

// Whatever shortcut the decoders take, they accept and refuse what Qt's format parsing does.
void tst_Records::datesAgreeWithQtFormatParsing()
{
    const LocalTimeZone utc("UTC");
    QStringList texts;
    for (const char* year : {"0000", "0001", "1900", "2000", "2013", "2016", "9999"}) {
        for (const char* month : {"00", "01", "02", "04", "12", "13"}) {
            for (const char* day : {"00", "01", "28", "29", "30", "31", "32"}) {
                for (const char* time : {"00:00:00", "23:59:59", "24:00:00", "12:60:00", "12:00:60", "99:99:99"})
                    texts.append(QStringLiteral("%1-%2-%3T%4Z").arg(year, month, day, time));
            }
        }
    }
    texts << "2013-05-06T07:08:09z" << "2013-05-06t07:08:09Z" << "2013-05-06T07-08-09Z" << "2013/05/06T07:08:09Z"
          << "2013-05-06T7:08:09Z " << "2013-5-06T07:08:09Z" << " 2013-05-06T07:08:09Z" << "2013-05-06T07:08:0xZ"
          << QString::fromUtf8("2013-05-06T07:08:0\xd9\xa9Z") << "";

    for (const QString& text : qAsConst(texts)) {
        const QDateTime expected = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm:ssZ"));
        QVariantMap map = baseFor(QStringLiteral("message")).toMap();
        map.insert(QStringLiteral("created_at"), text);
        QString outcome = QStringLiteral("invalid");
        try {
            outcome = decodeMessage(map).createdAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        } catch (const FormatException& e) {
            QCOMPARE(e.message, QStringLiteral("Message contains wrong date time format"));
        }
        QCOMPARE(outcome, expected.isValid() ? expected.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                             : QStringLiteral("invalid"));

        const QString day = text.left(10);
        map = baseFor(QStringLiteral("user")).toMap();
        map.insert(QStringLiteral("join_date"), day);
        QCOMPARE(decodeUserInfo(map).joinDate.date(), QDate::fromString(day, QStringLiteral("yyyy-MM-dd")));
    }
}

void tst_Records::joinDate_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QDateTime>("expected");
    QTest::newRow("date") << "2012-01-02" << QDateTime(QDate(2012, 1, 2), QTime(0, 0), Qt::UTC);
    QTest::newRow("not a date") << "yesterday" << QDateTime();
    QTest::newRow("impossible date") << "2012-02-30" << QDateTime();
    QTest::newRow("date and time") << "2012-01-02T10:00:00Z" << QDateTime();
    QTest::newRow("empty") << "" << QDateTime();
}

void tst_Records::joinDate()
{
    QFETCH(QString, text);
    QFETCH(QDateTime, expected);
    QVariantMap map = baseFor(QStringLiteral("user")).toMap();
    map.insert(QStringLiteral("join_date"), text);
    const UserInfo info = decodeUserInfo(map);
    QCOMPARE(info.joinDate, expected);
    QCOMPARE(info.joinDate.isNull(), expected.isNull());
}

void tst_Records::responseError_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText");
    QTest::newRow("success") << R"({"response":{"status":200}})" << 200 << QString();
    QTest::newRow("empty errors") << R"({"response":{"status":200},"errors":[]})" << 200 << QString();
    QTest::newRow("two errors") << R"({"response":{"status":401},"errors":[{"message":"a"},{"message":"b"}]})" << 401
                                << "a, b";
    QTest::newRow("empty one between")
        << R"({"response":{"status":422},"errors":[{"message":"a"},{"message":""},{"message":"b"}]})" << 422
        << "a, , b";
    QTest::newRow("empty first leaves no trace")
        << R"({"response":{"status":422},"errors":[{"message":""},{"message":"b"}]})" << 422 << "b";
    QTest::newRow("errors inside response are not read")
        << R"({"response":{"status":500,"errors":[{"message":"x"}]}})" << 500 << QString();
    QTest::newRow("status as text") << R"({"response":{"status":"429"}})" << 429 << QString();
    QTest::newRow("status not a number") << R"({"response":{"status":"busy"}})" << 0 << QString();
}

void tst_Records::responseError()
{
    QFETCH(QString, reply);
    QFETCH(int, status);
    QFETCH(QString, errorText);
    const ResponseError error = decodeResponseError(json(reply).toMap());
    QCOMPARE(error.status, status);
    QCOMPARE(error.errorText, errorText);
}

void tst_Records::nonJsonReplyHasNoResponseField()
{
    ReportRecorder recorder;
    // The lenient reader takes a page for a bare word, a string: not a map either.
    const QVariant page = Common::JsonParser().parseNoThrow("<html><body>Bad gateway</body></html>");
    QCOMPARE(page.userType(), int(QMetaType::QString));
    QCOMPARE(decode(QStringLiteral("reply"), page), QStringLiteral("Response doesn't contain response field"));
    QVERIFY(recorder.isEmpty());

    const QVariant truncated = Common::JsonParser().parseNoThrow(R"({"response":{"status":200},"messages":[)");
    QCOMPARE(truncated.userType(), int(QMetaType::UnknownType));
    QCOMPARE(decode(QStringLiteral("reply"), truncated), QStringLiteral("Response doesn't contain response field"));
    QCOMPARE(recorder.records().size(), 1);
    QCOMPARE(recorder.records().first().level, 3);
    QCOMPARE(recorder.records().first().message, QStringLiteral("Expected ']' to close an array"));
}

void tst_Records::symbolsAndWatchLists()
{
    const SymbolInfos symbols = decodeSymbolInfos(
        json(QStringLiteral(R"([{"id":"12","symbol":"GOOG","title":"Google","is_following":false},)"
                            R"({"id":2,"symbol":"X","title":"Y","is_following":"true"}])"))
            .toList());
    QCOMPARE(symbols.size(), 2);
    QCOMPARE(symbols.at(0).id, 12);
    QCOMPARE(symbols.at(0).isFollowing, false);
    QCOMPARE(symbols.at(1).isFollowing, true);

    const WatchLists lists =
        decodeWatchLists(json(QStringLiteral(R"([{"id":1,"name":"Tech"},{"id":"2","name":3,"extra":[]}])")).toList());
    QCOMPARE(lists.size(), 2);
    QCOMPARE(lists.at(0).id, 1);
    QCOMPARE(lists.at(0).name, QStringLiteral("Tech"));
    QCOMPARE(lists.at(1).id, 2);
    QCOMPARE(lists.at(1).name, QStringLiteral("3"));
    QVERIFY(decodeWatchLists(QVariantList()).isEmpty());
}

void tst_Records::userInfoConversionsAndEquality()
{
    UserInfo info = decodeUserInfo(baseFor(QStringLiteral("user")).toMap());
    info.isFollowing = true;

    const QVariant stored = userInfoToVariant(info);
    const QVariantMap map = stored.toMap();
    QCOMPARE(map.keys(), (QStringList{"avatarPath", "dateJoin", "id", "name", "username"}));
    QCOMPARE(map.value("id").userType(), int(QMetaType::Int));
    QCOMPARE(map.value("dateJoin").userType(), int(QMetaType::QDateTime));

    const UserInfo restored = userInfoFromVariant(stored);
    QVERIFY(restored == info);
    QCOMPARE(restored.isFollowing, false);
    QCOMPARE(restored.joinDate, info.joinDate);
    QCOMPARE(restored.avatarUrl, info.avatarUrl);

    const UserInfo empty = userInfoFromVariant(QVariantMap());
    QCOMPARE(empty.id, 0);
    QVERIFY(empty.username.isEmpty());
    QVERIFY(empty.joinDate.isNull());

    for (int field = 0; field < 5; ++field) {
        UserInfo other = info;
        switch (field) {
        case 0: other.id = 2; break;
        case 1: other.username = "x"; break;
        case 2: other.name = "x"; break;
        case 3: other.joinDate = other.joinDate.addDays(1); break;
        case 4: other.avatarUrl = "x"; break;
        }
        QVERIFY2(other != info, qPrintable(QString::number(field)));
        QVERIFY(!(other == info));
    }
    UserInfo following = info;
    following.isFollowing = !info.isFollowing;
    QVERIFY(following == info);
}

void tst_Records::metaTypeNames()
{
    registerMetaTypes();
    const int messages = QMetaType::type("Ventari::Messages");
    QVERIFY(messages != QMetaType::UnknownType);
    QCOMPARE(messages, qMetaTypeId<Messages>());
    QCOMPARE(QMetaType::type("Ventari::Message"), qMetaTypeId<Message>());
    QCOMPARE(QMetaType::type("ResponseError"), qMetaTypeId<ResponseError>());
    QCOMPARE(QMetaType::type("Ventari::ResponseError"), qMetaTypeId<ResponseError>());
    QCOMPARE(QMetaType::type("UserInfo"), qMetaTypeId<UserInfo>());
    QCOMPARE(QMetaType::type("WatchLists"), qMetaTypeId<WatchLists>());
    QCOMPARE(QMetaType::type("Ventari::WatchLists"), qMetaTypeId<WatchLists>());
    QCOMPARE(QMetaType::type("Ventari::SymbolInfo"), qMetaTypeId<SymbolInfo>());
    registerMetaTypes(); // idempotent
    QCOMPARE(QMetaType::type("Ventari::Messages"), messages);

    QStringList signatures;
    const QMetaObject& meta = SignalProbe::staticMetaObject;
    for (int i = meta.methodOffset(); i < meta.methodCount(); ++i) {
        if (meta.method(i).methodType() == QMetaMethod::Signal)
            signatures.append(QString::fromLatin1(meta.method(i).methodSignature()));
    }
    QCOMPARE(signatures, (QStringList{"done(Ventari::Message)", "dataObtained(Ventari::Messages)",
                                      "error(ResponseError)", "userInfoReceived(UserInfo)",
                                      "watchListsReceived(WatchLists)"}));
}

void tst_Records::signalsCarryRecordsAcrossQueuedConnections()
{
    SignalProbe sender;
    SignalProbe receiver;
    QVERIFY(connect(&sender, SIGNAL(done(Ventari::Message)), &receiver, SLOT(onDone(Ventari::Message)),
                    Qt::QueuedConnection));
    QVERIFY(connect(&sender, SIGNAL(dataObtained(Ventari::Messages)), &receiver, SLOT(onData(Ventari::Messages)),
                    Qt::QueuedConnection));
    QVERIFY(connect(&sender, SIGNAL(error(ResponseError)), &receiver, SLOT(onError(ResponseError)),
                    Qt::QueuedConnection));
    QVERIFY(connect(&sender, SIGNAL(userInfoReceived(UserInfo)), &receiver, SLOT(onUserInfo(UserInfo)),
                    Qt::QueuedConnection));
    QVERIFY(connect(&sender, SIGNAL(watchListsReceived(WatchLists)), &receiver, SLOT(onWatchLists(WatchLists)),
                    Qt::QueuedConnection));

    const Message message = decodeMessage(baseFor(QStringLiteral("message")).toMap());
    emit sender.done(message);
    emit sender.dataObtained(Messages{message, message});
    emit sender.error(ResponseError(-2, QStringLiteral("Server response error: Likes is not a map")));
    emit sender.userInfoReceived(message.user);
    emit sender.watchListsReceived(WatchLists{WatchListItem(4, QStringLiteral("Mine"))});
    QCOMPARE(receiver.received, 0);
    QCoreApplication::processEvents();

    QCOMPARE(receiver.received, 5);
    QCOMPARE(receiver.message.id, 5);
    QCOMPARE(receiver.messages.size(), 2);
    QCOMPARE(receiver.lastError.status, -2);
    QCOMPARE(receiver.lastError.errorText, QStringLiteral("Server response error: Likes is not a map"));
    QVERIFY(receiver.user == message.user);
    QCOMPARE(receiver.lists.size(), 1);
    QCOMPARE(receiver.lists.first().name, QStringLiteral("Mine"));
}

QTEST_GUILESS_MAIN(tst_Records)
#include "tst_records.moc"
