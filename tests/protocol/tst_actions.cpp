#include "protocolfixture.h"

#include "actions/ventarifollowunfollowaction.h"
#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventariloadwatchlistsaction.h"
#include "actions/ventariuserinfoaction.h"

#include <QtCore/QPointer>
#include <QtTest/QtTest>

#include <memory>

using namespace ProtocolTest;
using namespace Ventari;
using Emulator::Fault;

namespace {

const int aliceId = 1;
const int messageId = 10042; // seeded messages are numbered from 10001

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
    void init();

    void oneHandlerInstance();
    void executeAdoptsParentlessActionsAndRoutesReplies();

    void accessTokenRules_data();
    void accessTokenRules();
    void replyBodies_data();
    void replyBodies();

    void family_data();
    void family();
};

void tst_Actions::init()
{
    resetEmulator();
}

// No handler before a host makes one, and a second one reports and takes over.
void tst_Actions::oneHandlerInstance()
{
    ReportRecorder recorder;
    QVERIFY(!VentariActionHandler::instance());
    StartedHost started(false);
    QVERIFY(started.isStarted());
    std::unique_ptr<VentariActionHandler> second(new VentariActionHandler);
    QCOMPARE(recorder.reportTexts(), (QStringList{QStringLiteral("s_instance"), QStringLiteral("!s_instance")}));
    QCOMPARE(VentariActionHandler::instance(), second.get());
}

void tst_Actions::executeAdoptsParentlessActionsAndRoutesReplies()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    sharedEmulator().addFault(Fault::errorStatus(500).onPath("/api/2/streams/suggested.json"));
    ReportRecorder recorder;
    QObject owner;
    Outcome outcome;
    QPointer<ProbeAction> parentless = new ProbeAction(0);
    QPointer<ProbeAction> owned = new ProbeAction(0, QStringLiteral("streams/suggested.json"));
    owned->setParent(&owner);
    QVERIFY(outcome.watch(parentless, QStringLiteral("parentless")));
    QVERIFY(outcome.watch(owned, QStringLiteral("owned")));

    started.handler()->executeAction(parentless);
    started.handler()->executeAction(owned);
    QCOMPARE(parentless->parent(), started.handler());
    QCOMPARE(owned->parent(), &owner);

    // Priority 0 left before executeAction stored the ids; the replies still find their actions.
    QVERIFY(outcome.waitForEvents(2));
    QVERIFY(outcome.events.contains(QStringLiteral("parentless:success")));
    QVERIFY(outcome.events.contains(QStringLiteral("owned:error")));
    QVERIFY(QTest::qWaitFor([&] { return parentless.isNull() && owned.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_Actions::accessTokenRules_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("token");
    QTest::addColumn<QString>("query");

    QTest::newRow("mode 0, token") << 0 << QByteArray("t0k") << QStringLiteral("max=5");
    QTest::newRow("mode 1, token") << 1 << QByteArray("t0k") << QStringLiteral("max=5&access_token=t0k");
    QTest::newRow("mode 2, token") << 2 << QByteArray("t0k") << QStringLiteral("max=5&access_token=t0k");
    QTest::newRow("mode 1, no token") << 1 << QByteArray() << QStringLiteral("max=5");
    QTest::newRow("mode 2, no token") << 2 << QByteArray() << QStringLiteral("max=5");
}

void tst_Actions::accessTokenRules()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, token);
    QFETCH(QString, query);

    ProbeAction action(0, QStringLiteral("streams/trending.json?max=5"), mode);
    action.setAccessToken(token);
    QCOMPARE(action.createRequest().url().query(), query);
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
    QTest::newRow("status 201")
        << "probe" << QByteArray(R"({"response":{"status":201},"errors":[{"message":"a"},{"message":"b"}]})") << failed
        << 201 << QStringLiteral("a, b");
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
    int listsReceived = -1;
    if (action == QLatin1String("probe")) {
        made = new ProbeAction(0);
    } else if (action == QLatin1String("watchlists")) {
        auto* load = new VentariLoadWatchListsAction;
        connect(load, &VentariLoadWatchListsAction::watchListsReceived, this, [&](const WatchLists& l) { listsReceived = l.size(); });
        made = load;
    } else if (action == QLatin1String("userinfo")) {
        made = new VentariUserInfoAction;
    } else {
        made = new VentariLikeUnlikeAction(VentariLikeUnlikeAction::Like, 5);
    }
    QPointer<VentariAbstractAction> guard = made;
    Outcome outcome;
    QVERIFY(outcome.watch(made));

    ReportRecorder recorder;
    made->processReply(body);
    QCOMPARE(outcome.events, events);
    QCOMPARE(outcome.error.status, status);
    QCOMPARE(outcome.error.errorText, errorText);
    QCOMPARE(listsReceived, action == QLatin1String("watchlists") ? 0 : -1);
    QVERIFY(QTest::qWaitFor([&] { return guard.isNull(); }));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_Actions::family_data()
{
    QTest::addColumn<QString>("action");  // like:operation, follow:kind:unfollow:subject, watchlists or userinfo
    QTest::addColumn<QString>("request"); // method and target as sent, before the token
    QTest::addColumn<QString>("result");  // the action's own signal

    QTest::newRow("like") << "like:0" << "POST /api/2/messages/like.json?id=10042&" << "done";
    QTest::newRow("unlike") << "like:1" << "POST /api/2/messages/unlike.json?id=10042&" << "done";
    QTest::newRow("any other operation unlikes") << "like:5" << "POST /api/2/messages/unlike.json?id=10042&" << "done";
    QTest::newRow("follow user 2") << "follow:1:0:2" << "POST /api/2/friendships/create/2.json?" << QString();
    QTest::newRow("unfollow user 2") << "follow:1:1:2" << "POST /api/2/friendships/destroy/2.json?" << QString();
    QTest::newRow("unfollow symbol 686") << "follow:0:1:686" << "POST /api/2/stockships/destroy/686.json?" << QString();
    QTest::newRow("any other kind is a symbol") << "follow:3:0:7774" << "POST /api/2/stockships/create/7774.json?" << QString();
    QTest::newRow("watch lists") << "watchlists" << "GET /api/2/watchlists.json?" << "watchListsReceived";
    QTest::newRow("user info") << "userinfo" << "GET /api/2/account/verify.json?" << "userInfoReceived";
}

void tst_Actions::family()
{
    QFETCH(QString, action);
    QFETCH(QString, request);
    QFETCH(QString, result);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    const QStringList args = action.split(QLatin1Char(':'));
    // An absent "watchlists" would pass unnoticed as an empty list: compare with the service's.
    QString lists, expectedLists;
    VentariAbstractAction* made = nullptr;
    if (args.at(0) == QLatin1String("like")) {
        QVERIFY(sharedEmulator().store().setLiked(messageId, aliceId, args.at(1) != QLatin1String("0")));
        made = new VentariLikeUnlikeAction(args.at(1).toInt(), messageId);
    } else if (args.at(0) == QLatin1String("follow")) {
        auto* follow = new VentariFollowUnfollowAction(args.at(1).toInt(), args.at(2) == QLatin1String("1"), args.at(3).toInt());
        QCOMPARE(follow->isUnfollow(), args.at(2) == QLatin1String("1"));
        made = follow;
    } else if (args.at(0) == QLatin1String("watchlists")) {
        auto* load = new VentariLoadWatchListsAction;
        connect(load, &VentariLoadWatchListsAction::watchListsReceived, this, [&](const WatchLists& received) {
            for (const WatchListItem& list : received)
                lists += QStringLiteral("%1 %2;").arg(list.id).arg(list.name);
        });
        for (const auto& list : sharedEmulator().store().watchListsOf(aliceId))
            expectedLists += QStringLiteral("%1 %2;").arg(list.id).arg(text(list.name));
        QVERIFY(!expectedLists.isEmpty());
        made = load;
    } else {
        made = new VentariUserInfoAction;
    }
    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(outcome.watch(made));
    started.handler()->executeAction(made);

    QStringList expected{QStringLiteral("a:success")};
    if (!result.isEmpty())
        expected.append(QStringLiteral("a:") + result);
    QVERIFY(outcome.waitForEvents(expected.size()));
    QCOMPARE(outcome.events, expected);
    QCOMPARE(lists, expectedLists);
    const Emulator::RecordedRequest sent = onlyRequest();
    QCOMPARE(text(sent.method + ' ' + sent.target), request + QStringLiteral("access_token=") + text(started.token()));
    // Posts say what they carry; Qt would otherwise guess, and warn about it.
    QCOMPARE(text(sent.header("Content-Type")),
             sent.method == "POST" ? QStringLiteral("application/x-www-form-urlencoded") : QString());
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_Actions)
#include "tst_actions.moc"
