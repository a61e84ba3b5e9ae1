#include "protocolfixture.h"

#include "actions/ventarifollowunfollowaction.h"
#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventariloadwatchlistsaction.h"
#include "actions/ventariuserinfoaction.h"

#include <QtCore/QPointer>
#include <QtNetwork/QTcpServer>
#include <QtTest/QtTest>

#include <memory>

using namespace ProtocolTest;
using namespace Ventari;
using Emulator::Fault;

namespace {

const int aliceId = 1;
const int messageId = 10042; // seeded messages are numbered from 10001

QStringList sortedEvents(QStringList events)
{
    events.sort();
    return events;
}

QString queryText(const Emulator::NameValueList& items)
{
    QStringList pairs;
    for (const auto& item : items)
        pairs.append(text(item.first) + QLatin1Char('=') + text(item.second));
    return pairs.join(QLatin1Char('&'));
}

// A loopback port that nothing listens on: one the system just handed out and took back.
quint16 closedPort()
{
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    const quint16 port = server.serverPort();
    server.close();
    return port;
}

// The one request the emulator received since the last clear.
Emulator::RecordedRequest onlyRequest()
{
    const auto requests = sharedEmulator().requests();
    return requests.size() == 1 ? requests.front() : Emulator::RecordedRequest();
}

} // namespace

class tst_Actions : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    // Handler
    void instanceBeforeAnyHandler();
    void secondHandlerTakesOver();
    void parentlessActionsBecomeTheHandlersChildren();
    void repliesWithoutTheirActionAreDropped();

    // Action base
    void accessTokenRules_data();
    void accessTokenRules();
    void failures_data();
    void failures();
    void replyBodies_data();
    void replyBodies();

    // The family
    void likeAndUnlike_data();
    void likeAndUnlike();
    void followAndUnfollow_data();
    void followAndUnfollow();
    void watchLists();
    void userInfo();
};

void tst_Actions::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
}

void tst_Actions::init()
{
    resetEmulator();
}

void tst_Actions::instanceBeforeAnyHandler()
{
    ReportRecorder recorder;
    QVERIFY(!VentariActionHandler::instance());
    QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("s_instance")});
    QCOMPARE(recorder.reports().at(0).function, QStringLiteral("Ventari::VentariActionHandler::instance"));
    QCOMPARE(recorder.reports().at(0).file, QStringLiteral("ventariactionhandler"));
}

void tst_Actions::secondHandlerTakesOver()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    QCOMPARE(VentariActionHandler::instance(), started.handler());

    ReportRecorder recorder;
    std::unique_ptr<VentariActionHandler> second(new VentariActionHandler);
    QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("!s_instance")});
    QCOMPARE(VentariActionHandler::instance(), second.get());
    QCOMPARE(recorder.reports().size(), 1);
}

void tst_Actions::parentlessActionsBecomeTheHandlersChildren()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    QObject owner;
    Outcome outcome;
    QPointer<VentariAbstractAction> parentless = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
    auto* owned = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
    owned->setParent(&owner);
    QPointer<VentariAbstractAction> ownedGuard = owned;
    QVERIFY(outcome.watch(parentless, QStringLiteral("parentless")));
    QVERIFY(outcome.watch(owned, QStringLiteral("owned")));

    started.handler()->executeAction(parentless);
    started.handler()->executeAction(owned);
    QCOMPARE(parentless->parent(), started.handler());
    QCOMPARE(owned->parent(), &owner);

    // Priority 0 left before executeAction stored the ids; the replies still find their actions.
    QVERIFY(outcome.waitForEvents(2));
    QCOMPARE(sortedEvents(outcome.events), (QStringList{QStringLiteral("owned:success"), QStringLiteral("parentless:success")}));
    QVERIFY(QTest::qWaitFor([&] { return parentless.isNull() && ownedGuard.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::repliesWithoutTheirActionAreDropped()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    const QString missing = QStringLiteral("m_actions.value(id) != NULL");

    // Ids nobody handed out.
    emit started.pool()->replyDone(4711, QByteArray("{}"));
    emit started.pool()->replyError(4712, QNetworkReply::UnknownNetworkError, QStringLiteral("lost"));
    QCOMPARE(recorder.reportTexts(), (QStringList{missing, missing}));
    QCOMPARE(recorder.reports().at(0).function, QStringLiteral("Ventari::VentariActionHandler::onPooledReplyFinished"));

    // An action destroyed while its request is on its way.
    recorder.clear();
    sharedEmulator().addFault(Fault::latency(100));
    auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
    started.handler()->executeAction(action);
    delete action;
    QVERIFY(QTest::qWaitFor([&] { return !recorder.reports().isEmpty(); }));
    QCOMPARE(recorder.reportTexts(), QStringList{missing});
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 0. Response received.")));
}

void tst_Actions::accessTokenRules_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<bool>("tokenSent");

    QTest::newRow("mode 0, no user") << 0 << false << false;
    QTest::newRow("mode 0, user") << 0 << true << false;
    QTest::newRow("mode 1, no user") << 1 << false << false;
    QTest::newRow("mode 1, user") << 1 << true << true;
    QTest::newRow("mode 2, no user") << 2 << false << false;
    QTest::newRow("mode 2, user") << 2 << true << true;
}

void tst_Actions::accessTokenRules()
{
    QFETCH(int, mode);
    QFETCH(bool, authorized);
    QFETCH(bool, tokenSent);

    StartedHost started(authorized);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    Outcome outcome;
    auto* action = new ProbeAction(mode, VentariAbstractAction::Get, 0, QStringLiteral("streams/trending.json?max=5"));
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    // The pool hands the action the current token, empty or not.
    QCOMPARE(action->accessToken(), QByteArray::fromStdString(started.token()));
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});

    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(sent.method, std::string("GET"));
    const QString expected = tokenSent ? QStringLiteral("max=5&access_token=") + text(started.token()) : QStringLiteral("max=5");
    QCOMPARE(queryText(sent.query), expected);
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::failures_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText"); // empty: Qt's error string for the same address

    QTest::newRow("dropped connection") << QStringLiteral("dropped") << -1 << QString();
    QTest::newRow("server error") << QStringLiteral("500") << -1 << QString();
    QTest::newRow("connection refused") << QStringLiteral("refused") << -1 << QString();
    QTest::newRow("malformed body")
        << QStringLiteral("malformed") << -2 << QStringLiteral("Server response error: Response doesn't contain response field");
    QTest::newRow("service status 201") << QStringLiteral("201") << 201 << QStringLiteral("Created elsewhere");
}

void tst_Actions::failures()
{
    QFETCH(QString, fault);
    QFETCH(int, status);
    QFETCH(QString, errorText);

    StartedHost started(false);
    QVERIFY(started.isStarted());
    Emulator::Service& service = sharedEmulator();
    QUrl address(apiUrl(QStringLiteral("streams/trending.json")));
    if (fault == QLatin1String("dropped"))
        service.addFault(Fault::droppedConnection());
    else if (fault == QLatin1String("500"))
        service.addFault(Fault::errorStatus(500));
    else if (fault == QLatin1String("malformed"))
        service.addFault(Fault::malformedBody());
    else if (fault == QLatin1String("201"))
        service.addFault(Fault::errorStatus(201, "Created elsewhere"));
    else if (fault == QLatin1String("refused"))
        address = QUrl(QStringLiteral("http://127.0.0.1:%1/api/2/streams/trending.json").arg(closedPort()));

    ReportRecorder recorder;
    Outcome outcome;
    QPointer<VentariAbstractAction> action = ProbeAction::at(address);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
    QCOMPARE(outcome.error.status, status);
    if (errorText.isEmpty()) {
        errorText = qtErrorString(address, false);
        QVERIFY(!errorText.isEmpty());
    }
    QCOMPARE(outcome.error.errorText, errorText);
    QVERIFY(QTest::qWaitFor([&] { return action.isNull(); }));

    QVERIFY(recorder.reports().isEmpty());
    // Only the JSON reader complains, and only about the broken body.
    const QStringList errors = errorRecords(recorder);
    QCOMPARE(errors.size(), fault == QLatin1String("malformed") ? 1 : 0);
}

void tst_Actions::replyBodies_data()
{
    QTest::addColumn<QString>("action");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("errorText");

    const QString prefix = QStringLiteral("Server response error: ");
    const QStringList failed{QStringLiteral("a:error")};
    const QStringList decodedThenFailed{QStringLiteral("a:success"), QStringLiteral("a:error")};
    QTest::newRow("response is a list")
        << "probe" << QByteArray(R"({"response":[200]})") << failed << -2 << prefix + QStringLiteral("Response is not a map");
    QTest::newRow("not JSON")
        << "probe" << QByteArray("<html>busy</html>") << failed << -2 << prefix + QStringLiteral("Response doesn't contain response field");
    QTest::newRow("errors joined")
        << "probe" << QByteArray(R"({"response":{"status":403},"errors":[{"message":"a"},{"message":"b"}]})") << failed
        << 403 << QStringLiteral("a, b");
    QTest::newRow("status 200 is success")
        << "probe" << QByteArray(R"({"response":{"status":200}})") << QStringList{QStringLiteral("a:success")} << 0 << QString();
    QTest::newRow("watch lists absent")
        << "watchlists" << QByteArray(R"({"response":{"status":200}})")
        << QStringList{QStringLiteral("a:success"), QStringLiteral("a:watchListsReceived")} << 0 << QString();
    QTest::newRow("user without username")
        << "userinfo" << QByteArray(R"({"response":{"status":200},"user":{"id":1,"name":"A","join_date":"2012-01-02","avatar_url":"u"}})")
        << decodedThenFailed << -2 << prefix + QStringLiteral("Response doesn't contain user name");
    QTest::newRow("liked message without body")
        << "like" << QByteArray(R"({"response":{"status":200},"message":{"id":5,"created_at":"2013-05-06T07:08:09Z"}})")
        << decodedThenFailed << -2 << prefix + QStringLiteral("Message doesn't contain body");
    QTest::newRow("failed like has no message")
        << "like" << QByteArray(R"({"response":{"status":404},"errors":[{"message":"Message not found: 5"}]})") << failed
        << 404 << QStringLiteral("Message not found: 5");
}

// The handler's way in, without the network: processReply with a given body.
void tst_Actions::replyBodies()
{
    QFETCH(QString, action);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, events);
    QFETCH(int, status);
    QFETCH(QString, errorText);

    VentariAbstractAction* made = nullptr;
    if (action == QLatin1String("probe"))
        made = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
    else if (action == QLatin1String("watchlists"))
        made = new VentariLoadWatchListsAction;
    else if (action == QLatin1String("userinfo"))
        made = new VentariUserInfoAction;
    else
        made = new VentariLikeUnlikeAction(VentariLikeUnlikeAction::Like, 5);
    QPointer<VentariAbstractAction> guard = made;
    Outcome outcome;
    QVERIFY(outcome.watch(made));

    ReportRecorder recorder;
    made->processReply(body);
    QCOMPARE(outcome.events, events);
    if (events.last().endsWith(QLatin1String(":error"))) {
        QCOMPARE(outcome.error.status, status);
        QCOMPARE(outcome.error.errorText, errorText);
    }
    if (action == QLatin1String("watchlists"))
        QVERIFY(outcome.lists.isEmpty());
    QVERIFY(QTest::qWaitFor([&] { return guard.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
    // Only the JSON reader may complain, and only about a body that is no JSON.
    if (!body.startsWith('<'))
        QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::likeAndUnlike_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("liked");

    QTest::newRow("like") << 0 << true << QStringLiteral("messages/like.json") << true;
    QTest::newRow("unlike") << 1 << true << QStringLiteral("messages/unlike.json") << false;
    QTest::newRow("any other operation unlikes") << 5 << true << QStringLiteral("messages/unlike.json") << false;
    QTest::newRow("like without a user") << 0 << false << QStringLiteral("messages/like.json") << false;
}

void tst_Actions::likeAndUnlike()
{
    QFETCH(int, operation);
    QFETCH(bool, authorized);
    QFETCH(QString, path);
    QFETCH(bool, liked);

    StartedHost started(authorized);
    QVERIFY(started.isStarted());
    Emulator::Service& service = sharedEmulator();
    QVERIFY(service.store().setLiked(messageId, aliceId, !liked));

    ReportRecorder recorder;
    Outcome outcome;
    QPointer<VentariAbstractAction> action = new VentariLikeUnlikeAction(operation, messageId);
    QCOMPARE(action->authorizationMode(), 2);
    QCOMPARE(action->priority(), 0);
    QCOMPARE(action->method(), int(VentariAbstractAction::Post));
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(authorized ? 2 : 1));

    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(sent.method, std::string("POST"));
    QCOMPARE(text(sent.path), QStringLiteral("/api/2/") + path);
    QCOMPARE(text(sent.body), QString());
    if (authorized) {
        QCOMPARE(queryText(sent.query), QStringLiteral("id=%1&access_token=").arg(messageId) + text(started.token()));
        QCOMPARE(outcome.events, (QStringList{QStringLiteral("a:success"), QStringLiteral("a:done")}));
        QCOMPARE(outcome.message.id, messageId);
        QCOMPARE(outcome.message.likes.contains(aliceId), liked);
        const auto stored = service.store().message(messageId);
        QCOMPARE(outcome.message.likes.size(), int(stored->likes.size()));
        QCOMPARE(outcome.message.body, text(stored->body));
    } else {
        // Without a token the service refuses the request.
        QCOMPARE(queryText(sent.query), QStringLiteral("id=%1").arg(messageId));
        QCOMPARE(sent.status, 401);
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
        QCOMPARE(outcome.error.status, -1);
        QCOMPARE(outcome.error.errorText, qtErrorString(QUrl(apiUrl(path) + QStringLiteral("?id=%1").arg(messageId)), true));
    }
    QVERIFY(QTest::qWaitFor([&] { return action.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::followAndUnfollow_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<bool>("unfollow");
    QTest::addColumn<int>("subject");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("known");

    QTest::newRow("follow user 2") << 1 << false << 2 << QStringLiteral("friendships/create/2.json") << true;
    QTest::newRow("unfollow user 2") << 1 << true << 2 << QStringLiteral("friendships/destroy/2.json") << true;
    QTest::newRow("follow symbol 686") << 0 << false << 686 << QStringLiteral("stockships/create/686.json") << true;
    QTest::newRow("unfollow symbol 686") << 0 << true << 686 << QStringLiteral("stockships/destroy/686.json") << true;
    QTest::newRow("any other kind is a symbol") << 3 << false << 7774 << QStringLiteral("stockships/create/7774.json") << true;
    QTest::newRow("follow unknown user 7") << 1 << false << 7 << QStringLiteral("friendships/create/7.json") << false;
}

void tst_Actions::followAndUnfollow()
{
    QFETCH(int, kind);
    QFETCH(bool, unfollow);
    QFETCH(int, subject);
    QFETCH(QString, path);
    QFETCH(bool, known);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    Emulator::DataStore& store = sharedEmulator().store();
    auto following = [&] {
        return kind == 1 ? store.isFollowingUser(aliceId, subject) : store.isFollowingSymbol(aliceId, subject);
    };
    if (known) {
        if (kind == 1)
            store.setFollowingUser(aliceId, subject, unfollow);
        else
            store.setFollowingSymbol(aliceId, subject, unfollow);
    }

    ReportRecorder recorder;
    Outcome outcome;
    auto* action = new VentariFollowUnfollowAction(kind, unfollow, subject);
    QCOMPARE(action->isUnfollow(), unfollow);
    QCOMPARE(action->authorizationMode(), 2);
    QCOMPARE(action->priority(), 0);
    QCOMPARE(action->method(), int(VentariAbstractAction::Post));
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));

    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(sent.method, std::string("POST"));
    QCOMPARE(text(sent.path), QStringLiteral("/api/2/") + path);
    QCOMPARE(queryText(sent.query), QStringLiteral("access_token=") + text(started.token()));
    if (known) {
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
        QCOMPARE(following(), !unfollow);
    } else {
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
        QCOMPARE(outcome.error.status, -1);
        QCOMPARE(sent.status, 404);
    }
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::watchLists()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    Outcome outcome;
    QPointer<VentariAbstractAction> action = new VentariLoadWatchListsAction;
    QCOMPARE(action->authorizationMode(), 2);
    QCOMPARE(action->priority(), 1);
    QCOMPARE(action->method(), int(VentariAbstractAction::Get));
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(2));

    QCOMPARE(outcome.events, (QStringList{QStringLiteral("a:success"), QStringLiteral("a:watchListsReceived")}));
    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(sent.method, std::string("GET"));
    QCOMPARE(text(sent.path), QStringLiteral("/api/2/watchlists.json"));
    QCOMPARE(queryText(sent.query), QStringLiteral("access_token=") + text(started.token()));

    const auto expected = sharedEmulator().store().watchListsOf(aliceId);
    QCOMPARE(outcome.lists.size(), int(expected.size()));
    QVERIFY(!outcome.lists.isEmpty());
    for (int i = 0; i < outcome.lists.size(); ++i) {
        QCOMPARE(outcome.lists.at(i).id, expected.at(std::size_t(i)).id);
        QCOMPARE(outcome.lists.at(i).name, text(expected.at(std::size_t(i)).name));
    }
    QVERIFY(QTest::qWaitFor([&] { return action.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_Actions::userInfo()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    Outcome outcome;
    QPointer<VentariAbstractAction> action = new VentariUserInfoAction;
    QCOMPARE(action->authorizationMode(), 2);
    QCOMPARE(action->priority(), 1);
    QCOMPARE(action->method(), int(VentariAbstractAction::Get));
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(2));

    QCOMPARE(outcome.events, (QStringList{QStringLiteral("a:success"), QStringLiteral("a:userInfoReceived")}));
    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(sent.method, std::string("GET"));
    QCOMPARE(text(sent.path), QStringLiteral("/api/2/account/verify.json"));
    QCOMPARE(queryText(sent.query), QStringLiteral("access_token=") + text(started.token()));
    QCOMPARE(outcome.user.id, aliceId);
    QCOMPARE(outcome.user.username, QStringLiteral("alice"));
    QCOMPARE(outcome.user.name, QStringLiteral("Alice Archer"));
    QCOMPARE(outcome.user.joinDate.date(), QDate(2011, 3, 14));
    QVERIFY(QTest::qWaitFor([&] { return action.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

QTEST_MAIN(tst_Actions)
#include "tst_actions.moc"
