#include "streamhost.h"

#include "actions/ventaristreamaction.h"
#include "streams/ventarisymbolstream.h"

#include <QtTest/QtTest>

#include <algorithm>
#include <memory>

using namespace StreamsTest;
using namespace Ventari;

namespace {

const int realId = 10250; // seeded messages are numbered from 10001 to 10300
const int aaplId = 686;
const int bobId = 2;
const int daveId = 4;

QByteArray userJson(int id, const QByteArray& avatar = R"(,"avatar_url":"http://127.0.0.1/a.svg")")
{
    return R"({"id":)" + QByteArray::number(id) + R"(,"username":"u","name":"N","join_date":"2012-07-02")" + avatar + '}';
}

QByteArray messageJson(int id, const QByteArray& body = R"(,"body":"$AAPL up")")
{
    return R"({"id":)" + QByteArray::number(id) + body + R"(,"created_at":"2013-05-06T07:08:09Z","user":)" + userJson(bobId) + '}';
}

} // namespace

// One stream action's answer, received through the connections the message model makes, all
// queued, so the names of the signals' types must be known; signals are kept in arrival order.
class Page : public QObject
{
    Q_OBJECT

public:
    bool listenTo(VentariStreamAction* action)
    {
        const Qt::ConnectionType queued = Qt::QueuedConnection;
        return connect(action, SIGNAL(success()), this, SLOT(onSuccess()), queued)
            && connect(action, SIGNAL(following(bool)), this, SLOT(setFollow(bool)), queued)
            && connect(action, SIGNAL(streamId(int)), this, SLOT(onStreamId(int)), queued)
            && connect(action, SIGNAL(dataObtained(Ventari::Messages)), this, SLOT(onData(Ventari::Messages)), queued)
            && connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&)), queued);
    }
    bool waitForEnd()
    {
        return QTest::qWaitFor([this] { return events.contains("dataObtained") || events.contains("error"); }, 10000);
    }
    QList<int> ids() const
    {
        QList<int> result;
        for (const Message& message : messages)
            result.append(message.id);
        return result;
    }

    QStringList events;
    Messages messages;
    QList<bool> following;
    QList<int> subjectIds;
    ResponseError error;
    Emulator::RecordedRequest request; // the stream request as the emulator received it

private slots:
    void onSuccess() { events << "success"; }
    void setFollow(bool value) { events << "following"; following << value; }
    void onStreamId(int id) { events << "streamId"; subjectIds << id; }
    void onData(const Ventari::Messages& page) { events << "dataObtained"; messages = page; }
    void onError(const ResponseError& e) { events << "error"; error = e; }
};

// The stream action against the emulator: addresses, subjects, refusals, broken replies.
class tst_StreamAction : public QObject
{
    Q_OBJECT

private slots:
    void init() { resetEmulatorKeepingTokens(); }
    void cleanupTestCase() { m_hosts.reset(); }

    void addresses_data();
    void addresses();
    void subjects_data();
    void subjects();
    void replyBodies_data();
    void replyBodies();
    void generatorReachesEveryStream();

private:
    // Sends a stream action at once and waits for its answer; null when it never came.
    std::unique_ptr<Page> load(bool authorized, const QByteArray& streamId, const QByteArray& value, int filter = 0, int maxId = -1);

    StreamHosts m_hosts;
};

std::unique_ptr<Page> tst_StreamAction::load(bool authorized, const QByteArray& streamId, const QByteArray& value,
                                             int filter, int maxId)
{
    StreamHost& host = m_hosts.get(authorized);
    auto page = std::make_unique<Page>();
    auto* action = new VentariStreamAction(host.stream(streamId), value, filter, 0);
    action->setMaxId(maxId);
    if (!host.isStarted() || !page->listenTo(action))
        return nullptr;
    sharedEmulator().clearRequests();
    host.started().handler()->executeAction(action);
    if (!page->waitForEnd())
        return nullptr;
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests()) {
        if (request.path.rfind("/api/2/streams/", 0) == 0)
            page->request = request;
    }
    return page;
}

void tst_StreamAction::addresses_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<int>("filter");
    QTest::addColumn<int>("maxId");
    QTest::addColumn<QString>("target");

    struct Query
    {
        const char* name;
        int filter;
        int maxId;
        const char* text;
    };
    const QList<Query> full{{"all", 0, -1, ""},
                            {"charts", 1, -1, "?filter=charts"},
                            {"videos", 2, -1, "?filter=videos"},
                            {"links", 3, -1, "?filter=links"},
                            {"max 0", 0, 0, "?max=0"},
                            {"links below a real id", 3, realId, "?filter=links&max=10250"}};
    const QList<Query> allOnly{{"all", 0, -1, ""}, {"max 0", 0, 0, "?max=0"}, {"below a real id", 0, realId, "?max=10250"}};
    auto rows = [](const char* stream, const char* value, const char* path, const QList<Query>& queries) {
        for (const Query& q : queries)
            QTest::addRow("%s, %s", stream, q.name) << QByteArray(stream) << QByteArray(value) << q.filter << q.maxId
                                                    << QLatin1String(path) + QLatin1String(q.text);
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

// Every stream, filter and bound as the service receives them, and a page that honours them.
void tst_StreamAction::addresses()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(int, filter);
    QFETCH(int, maxId);
    QFETCH(QString, target);

    ReportRecorder recorder;
    const auto page = load(true, stream, value, filter, maxId);
    QVERIFY(page);
    const QString token = QString::fromStdString(m_hosts.get(true).started().token());
    QCOMPARE(QString::fromStdString(page->request.target), target + (maxId == -1 && filter == 0 ? "?" : "&") + "access_token=" + token);
    QCOMPARE(page->request.status, 200);
    const bool hasSubject = stream == "symbol" || stream == "user";
    QCOMPARE(page->events, hasSubject ? (QStringList{"success", "following", "streamId", "dataObtained"})
                                      : (QStringList{"success", "dataObtained"}));

    // The decoded page honours the bound; the service's own paging and filters have tests of their own.
    QVERIFY(maxId != 0 || page->ids().isEmpty());
    QVERIFY(maxId != -1 || filter != 0 || !page->ids().isEmpty());
    for (const Message& message : page->messages)
        QVERIFY(maxId == -1 || message.id < maxId);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_StreamAction::subjects_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("following");
    QTest::addColumn<int>("subjectId");

    auto row = [](const char* name, const char* stream, const char* value, bool authorized, int status,
                  bool following = false, int subjectId = 0) {
        QTest::newRow(name) << QByteArray(stream) << QByteArray(value) << authorized << status << following << subjectId;
    };
    row("followed symbol", "symbol", "AAPL", true, 200, true, aaplId);
    row("symbol in other letter case", "symbol", "aapl", true, 200, true, aaplId);
    row("user not followed", "user", "dave", true, 200, false, daveId);
    row("user, nobody authorized", "user", "bob", false, 200, false, bobId);
    row("home without a token", "home", "", false, 401);
    row("unknown symbol", "symbol", "NOSUCH", true, 404);
    row("someone else's watch list", "watchlist", "8", true, 404);
}

// A page about one subject: its follow state and id first, then its newest messages. What the
// service refuses ends in the action's error, with nothing of a page; which requests the service
// refuses is the emulator's test.
void tst_StreamAction::subjects()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(bool, authorized);
    QFETCH(int, status);
    QFETCH(bool, following);
    QFETCH(int, subjectId);

    ReportRecorder recorder;
    const auto page = load(authorized, stream, value);
    QVERIFY(page);
    QCOMPARE(page->request.status, status);
    QVERIFY(recorder.reports().isEmpty());
    if (status != 200) {
        QCOMPARE(page->events, QStringList{"error"});
        QCOMPARE(page->error.status, -1);
        return;
    }
    QCOMPARE(page->events, (QStringList{"success", "following", "streamId", "dataObtained"}));
    QCOMPARE(page->following, QList<bool>{following});
    QCOMPARE(page->subjectIds, QList<int>{subjectId});
    const bool isSymbol = stream == "symbol";
    QCOMPARE(page->ids(), newestIds([&](const Emulator::Message& m) {
        return isSymbol ? std::count(m.symbolIds.begin(), m.symbolIds.end(), subjectId) > 0 : m.userId == subjectId;
    }, 30));
    const auto stored = sharedEmulator().store().message(page->messages.first().id);
    QCOMPARE(page->messages.first().body, QString::fromStdString(stored->body));
    QCOMPARE(page->messages.first().likes.size(), int(stored->likes.size()));
}

void tst_StreamAction::replyBodies_data()
{
    QTest::addColumn<QByteArray>("members");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QList<int>>("subjectIds");
    QTest::addColumn<QString>("errorText");
    QTest::addColumn<QString>("log");

    const QByteArray page = R"(,"messages":[)" + messageJson(7) + ',' + messageJson(5) + ']';
    const QByteArray symbol = R"(,"symbol":{"id":686,"symbol":"AAPL","title":"Apple Inc.","is_following":true})";
    QTest::newRow("user without avatar")
        << R"(,"user":)" + userJson(bobId, "") + page << QStringList{"success", "dataObtained"} << QList<int>() << QString()
        << "Parse error: Response doesn't contain avatar url";
    QTest::newRow("user and symbol: the user counts")
        << R"(,"user":)" + userJson(daveId) + symbol + page << QStringList{"success", "following", "streamId", "dataObtained"}
        << QList<int>{daveId} << QString() << QString();
    QTest::newRow("no messages") << symbol << QStringList{"success", "following", "streamId", "dataObtained"}
                                 << QList<int>{aaplId} << QString() << QString();
    QTest::newRow("a message without body")
        << symbol + R"(,"messages":[)" + messageJson(7) + ',' + messageJson(5, "") + ']'
        << QStringList{"success", "following", "streamId", "error"} << QList<int>{aaplId}
        << "Server response error: Message doesn't contain body" << QString();
}

// Replies the emulator does not make, through the handler's way in: a broken subject costs only
// its two signals, a broken message the whole page.
void tst_StreamAction::replyBodies()
{
    QFETCH(QByteArray, members);
    QFETCH(QStringList, events);
    QFETCH(QList<int>, subjectIds);
    QFETCH(QString, errorText);
    QFETCH(QString, log);

    VentariSymbolStream stream({StreamFilter(QStringLiteral("All"), QString())});
    ReportRecorder recorder(1);
    Page page;
    auto* action = new VentariStreamAction(&stream, "AAPL", 0, 1);
    QVERIFY(page.listenTo(action));
    action->processReply(R"({"response":{"status":200})" + members + '}');
    QVERIFY(page.waitForEnd());

    QCOMPARE(page.events, events);
    QCOMPARE(page.subjectIds, subjectIds);
    QCOMPARE(page.ids(), members.contains("messages") && errorText.isEmpty() ? (QList<int>{7, 5}) : QList<int>());
    QCOMPARE(page.error.status, errorText.isEmpty() ? 0 : -2);
    QCOMPARE(page.error.errorText, errorText);
    QCOMPARE(recorder.messages(QString()), log.isEmpty() ? QStringList() : QStringList{log});
    QVERIFY(log.isEmpty() || recorder.records().first().function == QLatin1String("Ventari::VentariStreamAction::processData"));
    QVERIFY(recorder.reports().isEmpty());
}

// New messages from the generator reach every stream: each symbol, each user, each of the
// user's watch lists and every fixed feed.
void tst_StreamAction::generatorReachesEveryStream()
{
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

    ReportRecorder recorder;
    const int before = emulator.store().newestMessageId();
    for (int i = 0; i < 72; ++i)
        emulator.generateMessage();
    for (const auto& stream : streams) {
        const auto page = load(true, stream.first, stream.second);
        QVERIFY(page);
        QVERIFY2(page->ids().value(0, -1) > before, stream.first + ' ' + stream.second);
    }
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_StreamAction)
#include "tst_streamaction.moc"
