#include "streamhost.h"

#include "actions/ventarifollowunfollowaction.h"
#include "actions/ventaristreamaction.h"
#include "streams/ventarisymbolstream.h"

#include <QtTest/QtTest>

#include <algorithm>
#include <memory>

using namespace ProtocolTest;
using namespace StreamsTest;
using namespace Ventari;

namespace {

const int realId = 10250; // seeded messages are numbered from 10001 to 10300
const int aaplId = 686;
const int bobId = 2;
const int daveId = 4;

// One stream action's answer as its receivers and the emulator saw it.
struct Page
{
    QStringList events;
    Messages messages;
    QList<bool> following;
    QList<int> subjectIds;
    ResponseError error;
    Emulator::RecordedRequest request;

    QList<int> ids() const
    {
        QList<int> result;
        for (const Message& message : messages)
            result.append(message.id);
        return result;
    }
};

template <typename T>
QList<T> firstArguments(const QSignalSpy& spy)
{
    QList<T> values;
    for (const QList<QVariant>& arguments : spy)
        values.append(arguments.at(0).value<T>());
    return values;
}

// Watches a stream action until its last signal; call finish() once it has been answered.
class PageWatch
{
public:
    explicit PageWatch(VentariStreamAction* action)
        : m_data(action, SIGNAL(dataObtained(Ventari::Messages)))
        , m_following(action, SIGNAL(following(bool)))
        , m_ids(action, SIGNAL(streamId(int)))
    {
        m_watched = m_outcome.watch(action);
    }

    bool isWatched() const { return m_watched && m_data.isValid() && m_following.isValid() && m_ids.isValid(); }
    bool isAnswered() const
    {
        return m_outcome.events.contains(QStringLiteral("a:dataObtained")) || m_outcome.events.contains(QStringLiteral("a:error"));
    }
    bool waitForAnswer() { return QTest::qWaitFor([this] { return isAnswered(); }, 10000); }

    Page page() const
    {
        Page page;
        page.events = m_outcome.events;
        page.messages = m_data.isEmpty() ? Messages() : m_data.first().at(0).value<Messages>();
        page.following = firstArguments<bool>(m_following);
        page.subjectIds = firstArguments<int>(m_ids);
        page.error = m_outcome.error;
        return page;
    }

private:
    Outcome m_outcome;
    QSignalSpy m_data;
    QSignalSpy m_following;
    QSignalSpy m_ids;
    bool m_watched = false;
};

// Receives a stream action's answer through the very connections the message model makes.
class ModelLikeReceiver : public QObject
{
    Q_OBJECT

public:
    Messages messages;
    QList<bool> following;
    QList<int> ids;
    int errors = 0;

public slots:
    void onData(const Ventari::Messages& m) { messages = m; }
    void setFollow(bool value) { following.append(value); }
    void onStreamId(int id) { ids.append(id); }
    void onError(const ResponseError&) { ++errors; }
};

QByteArray userJson(int id, const char* username, const QByteArray& extra = QByteArray())
{
    QByteArray json = R"({"id":)" + QByteArray::number(id) + R"(,"username":")" + username
        + R"(","name":"N","join_date":"2012-07-02")";
    if (!extra.contains("no-avatar"))
        json += R"(,"avatar_url":"http://127.0.0.1/a.svg")";
    if (extra.contains("following"))
        json += R"(,"is_following":true)";
    return json + '}';
}

QByteArray messageJson(int id, bool withBody = true)
{
    return R"({"id":)" + QByteArray::number(id) + (withBody ? R"(,"body":"$AAPL up")" : "")
        + R"(,"created_at":"2013-05-06T07:08:09Z","user":)" + userJson(bobId, "bob") + '}';
}

} // namespace

// The stream action against the emulator: addresses, pages, subjects, refusals, broken replies.
class tst_StreamAction : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void addresses_data();
    void addresses();
    void subjects_data();
    void subjects();
    void olderPages();
    void followShowsOnNextPage_data();
    void followShowsOnNextPage();
    void refusals_data();
    void refusals();
    void replyBodies_data();
    void replyBodies();
    void modelConnections();
    void generatorReachesEveryStream();

private:
    StreamHost& host(bool authorized) { return m_hosts.get(authorized); }
    // Sends a stream action at once and waits for its answer.
    Page load(StreamHost& host, const QByteArray& streamId, const QByteArray& value, int filter = 0, int maxId = -1);

    StreamHosts m_hosts;
};

void tst_StreamAction::init()
{
    resetEmulatorKeepingTokens();
}

void tst_StreamAction::cleanupTestCase()
{
    m_hosts.reset();
}

Page tst_StreamAction::load(StreamHost& host, const QByteArray& streamId, const QByteArray& value, int filter, int maxId)
{
    auto* action = new VentariStreamAction(host.stream(streamId), value, filter, 0);
    action->setMaxId(maxId);
    PageWatch watch(action);
    sharedEmulator().clearRequests();
    host.started().handler()->executeAction(action);
    if (!watch.isWatched() || !watch.waitForAnswer())
        return Page();
    Page page = watch.page();
    const auto requests = sharedEmulator().requests();
    const auto it = std::find_if(requests.begin(), requests.end(),
                                 [](const Emulator::RecordedRequest& r) { return r.path.rfind("/api/2/streams/", 0) == 0; });
    if (it != requests.end())
        page.request = *it;
    return page;
}

void tst_StreamAction::addresses_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("maxId");
    QTest::addColumn<QString>("target");

    struct Suffix
    {
        const char* name;
        int filter;
        int maxId;
        const char* query;
    };
    const Suffix full[] = {
        {"all", 0, -1, ""},
        {"charts", 1, -1, "?filter=charts"},
        {"videos", 2, -1, "?filter=videos"},
        {"links", 3, -1, "?filter=links"},
        {"max 0", 0, 0, "?max=0"},
        {"charts below a real id", 1, realId, "?filter=charts&max=10250"},
        {"links below a real id", 3, realId, "?filter=links&max=10250"},
    };
    const Suffix allOnly[] = {
        {"all", 0, -1, ""},
        {"max 0", 0, 0, "?max=0"},
        {"below a real id", 0, realId, "?max=10250"},
    };
    auto rows = [](const char* stream, const char* value, const char* path, const auto& suffixes) {
        for (const Suffix& s : suffixes) {
            QTest::addRow("%s, %s", stream, s.name) << QByteArray(stream) << QByteArray(value) << s.filter << s.maxId
                                                    << QString::fromLatin1(path) + QLatin1String(s.query);
        }
    };
    rows("symbol", "AAPL", "/api/2/streams/symbol/AAPL.json", full);
    rows("user", "bob", "/api/2/streams/user/bob.json", full);
    rows("suggested", "", "/api/2/streams/suggested.json", full);
    rows("trending", "", "/api/2/streams/trending.json", full);
    rows("charts", "", "/api/2/streams/charts.json", allOnly);
    rows("investor-relations", "", "/api/2/streams/investor_relations.json", full);
    rows("home", "", "/api/2/streams/home.json", full);
    rows("friends", "", "/api/2/streams/friends.json", full);
    rows("watchlist", "7", "/api/2/streams/watchlist/7.json", full);
    rows("mentions", "", "/api/2/streams/mentions.json", allOnly);
}

// Every stream, filter and bound as the service receives it, with a page that honours them.
void tst_StreamAction::addresses()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(int, filter);
    QFETCH(int, maxId);
    QFETCH(QString, target);

    StreamHost& host = this->host(true);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    const Page page = load(host, stream, value, filter, maxId);

    const QString token = QString::fromStdString(host.started().token());
    QCOMPARE(QString::fromStdString(page.request.target),
             target + (target.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + QStringLiteral("access_token=") + token);
    QCOMPARE(page.request.status, 200);
    const bool hasSubject = stream == "symbol" || stream == "user";
    QCOMPARE(page.events, hasSubject ? (QStringList{"a:success", "a:following", "a:streamId", "a:dataObtained"})
                                     : (QStringList{"a:success", "a:dataObtained"}));

    const QList<int> ids = page.ids();
    QVERIFY(ids.size() <= 30);
    QVERIFY(std::is_sorted(ids.rbegin(), ids.rend()));
    QCOMPARE(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    if (maxId == 0)
        QVERIFY(ids.isEmpty());
    if (maxId == -1 && filter == 0)
        QVERIFY(!ids.isEmpty());
    for (const Message& message : page.messages) {
        QVERIFY(maxId == -1 || message.id < maxId);
        QVERIFY(filter != 1 || !message.chart[Message::ChartThumb].isEmpty());
        QVERIFY(filter != 2 || !message.video[Message::VideoUrl].isEmpty());
        QVERIFY(filter != 3 || message.body.contains(QLatin1String("http")));
    }
    QVERIFY(recorder.reports().isEmpty());
}

void tst_StreamAction::subjects_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<bool>("following");
    QTest::addColumn<int>("subjectId");

    QTest::newRow("followed symbol") << QByteArray("symbol") << QByteArray("AAPL") << true << true << aaplId;
    QTest::newRow("symbol, nobody authorized") << QByteArray("symbol") << QByteArray("AAPL") << false << false << aaplId;
    QTest::newRow("symbol in other letter case") << QByteArray("symbol") << QByteArray("aapl") << true << true << aaplId;
    QTest::newRow("followed user") << QByteArray("user") << QByteArray("bob") << true << true << bobId;
    QTest::newRow("user not followed") << QByteArray("user") << QByteArray("dave") << true << false << daveId;
}

// A page about one subject: its follow state and id first, then the newest messages about it.
void tst_StreamAction::subjects()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(bool, authorized);
    QFETCH(bool, following);
    QFETCH(int, subjectId);

    StreamHost& host = this->host(authorized);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    const Page page = load(host, stream, value);

    QCOMPARE(page.events, (QStringList{"a:success", "a:following", "a:streamId", "a:dataObtained"}));
    QCOMPARE(page.following, QList<bool>{following});
    QCOMPARE(page.subjectIds, QList<int>{subjectId});
    const bool isSymbol = stream == "symbol";
    const QList<int> expected = newestIds([&](const Emulator::Message& m) {
        return isSymbol ? std::count(m.symbolIds.begin(), m.symbolIds.end(), subjectId) > 0 : m.userId == subjectId;
    }, 30);
    QCOMPARE(page.ids(), expected);
    for (const Message& message : page.messages) {
        const auto stored = sharedEmulator().store().message(message.id);
        QCOMPARE(message.body, QString::fromStdString(stored->body));
        QCOMPARE(message.likes.size(), int(stored->likes.size()));
    }
    QVERIFY(recorder.reports().isEmpty());
}

// Paging back by the oldest id held: the next page goes on exactly where the first ended, and
// nothing is older than the oldest message.
void tst_StreamAction::olderPages()
{
    StreamHost& host = this->host(false);
    QVERIFY(host.isStarted());
    const int carol = 3;
    const QList<int> expected = newestIds([carol](const Emulator::Message& m) { return m.userId == carol; }, 1000);
    QVERIFY(expected.size() > 30);

    const Page first = load(host, "user", "carol");
    QCOMPARE(first.ids(), expected.mid(0, 30));
    const Page second = load(host, "user", "carol", 0, first.ids().last());
    QCOMPARE(second.ids(), expected.mid(30, 30));
    QCOMPARE(second.subjectIds, QList<int>{carol});
    const Page beyond = load(host, "user", "carol", 0, expected.last());
    QCOMPARE(beyond.events, (QStringList{"a:success", "a:following", "a:streamId", "a:dataObtained"}));
    QVERIFY(beyond.messages.isEmpty());
}

void tst_StreamAction::followShowsOnNextPage_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("kind");

    QTest::newRow("user") << QByteArray("user") << QByteArray("dave") << 1;
    QTest::newRow("symbol") << QByteArray("symbol") << QByteArray("EURUSD") << 0;
}

// A follow sent through the follow action is what the next page reports, and so is the unfollow.
void tst_StreamAction::followShowsOnNextPage()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(int, kind);

    StreamHost& host = this->host(true);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    const Page before = load(host, stream, value);
    QCOMPARE(before.following, QList<bool>{false});
    QCOMPARE(before.subjectIds.size(), 1);

    auto send = [&](bool unfollow) {
        Outcome outcome;
        auto* action = new VentariFollowUnfollowAction(kind, unfollow, before.subjectIds.first());
        const bool watched = outcome.watch(action);
        host.started().handler()->executeAction(action);
        return watched && outcome.waitForEvents(1) && outcome.events == QStringList{"a:success"};
    };
    QVERIFY(send(false));
    QCOMPARE(load(host, stream, value).following, QList<bool>{true});
    QVERIFY(send(true));
    QCOMPARE(load(host, stream, value).following, QList<bool>{false});
    QVERIFY(recorder.reports().isEmpty());
}

void tst_StreamAction::refusals_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorEnd");

    QTest::newRow("home without a token") << QByteArray("home") << QByteArray() << false << 401 << "Host requires authentication";
    QTest::newRow("friends without a token") << QByteArray("friends") << QByteArray() << false << 401 << "Host requires authentication";
    QTest::newRow("mentions without a token") << QByteArray("mentions") << QByteArray() << false << 401 << "Host requires authentication";
    QTest::newRow("watch list without a token") << QByteArray("watchlist") << QByteArray("7") << false << 401 << "Host requires authentication";
    QTest::newRow("unknown symbol") << QByteArray("symbol") << QByteArray("NOSUCH") << true << 404 << "server replied: Not Found";
    QTest::newRow("unknown user") << QByteArray("user") << QByteArray("nobody") << false << 404 << "server replied: Not Found";
    QTest::newRow("someone else's watch list") << QByteArray("watchlist") << QByteArray("8") << true << 404 << "server replied: Not Found";
}

// What the service refuses ends in the action's error, with nothing of a page.
void tst_StreamAction::refusals()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(bool, authorized);
    QFETCH(int, status);
    QFETCH(QString, errorEnd);

    StreamHost& host = this->host(authorized);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    const Page page = load(host, stream, value);
    QCOMPARE(page.request.status, status);
    QCOMPARE(page.events, QStringList{"a:error"});
    QCOMPARE(page.error.status, -1);
    QVERIFY2(page.error.errorText.endsWith(errorEnd), qPrintable(page.error.errorText));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_StreamAction::replyBodies_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QList<bool>>("following");
    QTest::addColumn<QList<int>>("subjectIds");
    QTest::addColumn<QList<int>>("messageIds");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QStringList>("logs");

    const QByteArray ok = R"({"response":{"status":200})";
    const QByteArray twoMessages = R"(,"messages":[)" + messageJson(7) + ',' + messageJson(5) + ']';
    const QByteArray symbol = R"(,"symbol":{"id":686,"symbol":"AAPL","title":"Apple Inc.","is_following":true})";
    const QStringList page{"a:success", "a:dataObtained"};
    const QStringList subjectAndPage{"a:success", "a:following", "a:streamId", "a:dataObtained"};
    const QString prefix = QStringLiteral("Server response error: ");

    QTest::newRow("user without avatar")
        << ok + R"(,"user":)" + userJson(bobId, "bob", "no-avatar following") + twoMessages + '}' << page
        << QList<bool>() << QList<int>() << QList<int>{7, 5} << 0 << QString()
        << QStringList{"Parse error: Response doesn't contain avatar url"};
    QTest::newRow("symbol without title")
        << ok + R"(,"symbol":{"id":686,"symbol":"AAPL"})" + twoMessages + '}' << page << QList<bool>() << QList<int>()
        << QList<int>{7, 5} << 0 << QString() << QStringList{"Parse error: Symbol doesn't contain title"};
    QTest::newRow("user and symbol: the user counts")
        << ok + R"(,"user":)" + userJson(daveId, "dave") + symbol + twoMessages + '}' << subjectAndPage
        << QList<bool>{false} << QList<int>{daveId} << QList<int>{7, 5} << 0 << QString() << QStringList();
    QTest::newRow("no messages")
        << ok + symbol + '}' << subjectAndPage << QList<bool>{true} << QList<int>{aaplId} << QList<int>() << 0
        << QString() << QStringList();
    QTest::newRow("a message without body")
        << ok + symbol + R"(,"messages":[)" + messageJson(7) + ',' + messageJson(5, false) + "]}"
        << QStringList{"a:success", "a:following", "a:streamId", "a:error"} << QList<bool>{true} << QList<int>{aaplId}
        << QList<int>() << -2 << prefix + QStringLiteral("Message doesn't contain body") << QStringList();
    QTest::newRow("a message that is no map")
        << ok + R"(,"messages":[)" + messageJson(7) + ",42]}" << QStringList{"a:success", "a:error"} << QList<bool>()
        << QList<int>() << QList<int>() << -2 << prefix + QStringLiteral("Message has wrong format") << QStringList();
    QTest::newRow("not found")
        << QByteArray(R"({"response":{"status":404},"errors":[{"message":"Symbol not found: NOSUCH"}]})")
        << QStringList{"a:error"} << QList<bool>() << QList<int>() << QList<int>() << 404
        << QStringLiteral("Symbol not found: NOSUCH") << QStringList();
}

// Replies the emulator does not make, through the handler's way in.
void tst_StreamAction::replyBodies()
{
    QFETCH(QByteArray, body);
    QFETCH(QStringList, events);
    QFETCH(QList<bool>, following);
    QFETCH(QList<int>, subjectIds);
    QFETCH(QList<int>, messageIds);
    QFETCH(int, status);
    QFETCH(QString, errorText);
    QFETCH(QStringList, logs);

    VentariSymbolStream stream({StreamFilter(QStringLiteral("All"), QString())});
    ReportRecorder recorder(1);
    QPointer<VentariStreamAction> action = new VentariStreamAction(&stream, "AAPL", 0, 1);
    PageWatch watch(action);
    QVERIFY(watch.isWatched());
    action->processReply(body);

    const Page page = watch.page();
    QCOMPARE(page.events, events);
    QCOMPARE(page.following, following);
    QCOMPARE(page.subjectIds, subjectIds);
    QCOMPARE(page.ids(), messageIds);
    QCOMPARE(page.error.status, status);
    QCOMPARE(page.error.errorText, errorText);
    QCOMPARE(recorder.messages(QString()), logs);
    for (const Corvane::LogRecord& record : recorder.records()) {
        QCOMPARE(record.level, 2);
        QCOMPARE(record.function, QStringLiteral("Ventari::VentariStreamAction::processData"));
    }
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return action.isNull(); }));
}

// The message model connects by these texts, queued included: the types must be known by name.
void tst_StreamAction::modelConnections()
{
    StreamHost& host = this->host(true);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    ModelLikeReceiver receiver;
    auto* action = new VentariStreamAction(host.stream("symbol"), "AAPL", 0, 1);
    QVERIFY(connect(action, SIGNAL(dataObtained(Ventari::Messages)), &receiver, SLOT(onData(Ventari::Messages)), Qt::QueuedConnection));
    QVERIFY(connect(action, SIGNAL(following(bool)), &receiver, SLOT(setFollow(bool)), Qt::QueuedConnection));
    QVERIFY(connect(action, SIGNAL(streamId(int)), &receiver, SLOT(onStreamId(int)), Qt::QueuedConnection));
    QVERIFY(connect(action, SIGNAL(error(const ResponseError&)), &receiver, SLOT(onError(const ResponseError&)), Qt::QueuedConnection));
    host.started().handler()->executeAction(action);

    QVERIFY(QTest::qWaitFor([&] { return !receiver.messages.isEmpty(); }));
    QCOMPARE(receiver.messages.size(), 30);
    QCOMPARE(receiver.following, QList<bool>{true});
    QCOMPARE(receiver.ids, QList<int>{aaplId});
    QCOMPARE(receiver.errors, 0);
    QVERIFY(recorder.reports().isEmpty());
}

// New messages from the generator reach every stream: each symbol, each user, each of the
// user's watch lists and every fixed feed.
void tst_StreamAction::generatorReachesEveryStream()
{
    StreamHost& host = this->host(true);
    QVERIFY(host.isStarted());
    Emulator::Service& emulator = sharedEmulator();
    QList<QPair<QByteArray, QByteArray>> streams;
    for (const Emulator::Symbol& symbol : emulator.store().symbols())
        streams.append({"symbol", QByteArray::fromStdString(symbol.symbol)});
    for (const Emulator::User& user : emulator.store().users())
        streams.append({"user", QByteArray::fromStdString(user.username)});
    for (const Emulator::WatchList& list : emulator.store().watchListsOf(1))
        streams.append({"watchlist", QByteArray::number(list.id)});
    for (const char* fixed : {"suggested", "trending", "charts", "investor-relations", "home", "friends", "mentions"})
        streams.append({fixed, QByteArray()});
    QCOMPARE(streams.size(), 12 + 6 + 2 + 7);

    QList<int> newest;
    for (const auto& stream : streams)
        newest.append(load(host, stream.first, stream.second).ids().value(0, -1));
    const int before = emulator.store().newestMessageId();
    for (int i = 0; i < 72; ++i)
        emulator.generateMessage();
    for (int i = 0; i < streams.size(); ++i) {
        const int now = load(host, streams.at(i).first, streams.at(i).second).ids().value(0, -1);
        QVERIFY2(now > before && now > newest.at(i), streams.at(i).first + ' ' + streams.at(i).second);
    }
}

QTEST_MAIN(tst_StreamAction)
#include "tst_streamaction.moc"
