#include "protocolfixture.h"

#include <kelvar/notifications.h>
#include <kelvar/pooltimer.h>
#include <kelvar/preferences.h>

#include <QtCore/QPointer>
#include <QtTest/QtTest>

using namespace ProtocolTest;
using Emulator::Fault;
using Emulator::HeaderDefect;
using Ventari::RequestPool;
using Ventari::VentariAbstractAction;

namespace {

// The server's clock in these tests: Tuesday, 5 December 2023, 14:03:00 UTC.
const qint64 serverTime = QDateTime(QDate(2023, 12, 5), QTime(14, 3), Qt::UTC).toSecsSinceEpoch();

Kelvar::PoolTimer* timerOf(RequestPool* pool)
{
    return pool->findChild<Kelvar::PoolTimer*>();
}

// The notification text for a reset that the user's clock (Asia/Tokyo) shows as wallClock.
QString limitText(const QTime& wallClock)
{
    return QStringLiteral("Requests limit exceeded. Please wait until %1.")
        .arg(QDateTime(QDate(2023, 12, 5), wallClock).toString(QStringLiteral("hh:mm AP")));
}

int countOf(const QStringList& texts, const QString& text)
{
    return int(texts.count(text));
}

bool hasRecordStartingWith(const QStringList& texts, const QString& prefix)
{
    for (const QString& text : texts) {
        if (text.startsWith(prefix))
            return true;
    }
    return false;
}

} // namespace

class tst_RequestPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void queuedInitTakesThePeriodFromTheAuthorization_data();
    void queuedInitTakesThePeriodFromTheAuthorization();
    void eachPriorityTakesItsPath();
    void cancelledActionIsDroppedAtItsTurn();
    void periodFromRateLimitHeaders_data();
    void periodFromRateLimitHeaders();
    void outOfRequestsPeriod();
    void resetBeforeServerTimeLastsOneSecond();
    void staleAuthorizationIsSentAgain();
    void authenticationRequired_data();
    void authenticationRequired();
    void repliesOutOfOrderAreMatchedByTheirIds();
    void hostTornDownWithARequestInFlight();
};

void tst_RequestPool::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
    // No daylight saving, so the wall clock of every test is UTC + 9 h.
    Kelvar::Preferences::instance()->setLocalTimeZoneId("Asia/Tokyo");
}

void tst_RequestPool::init()
{
    resetEmulator();
}

void tst_RequestPool::queuedInitTakesThePeriodFromTheAuthorization_data()
{
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<int>("period");
    QTest::addColumn<QStringList>("records");

    QTest::newRow("stored token") << true << 10000 << QStringList{QStringLiteral("New Update Interval:10 sec")};
    QTest::newRow("no token") << false << 20000 << QStringList();
}

void tst_RequestPool::queuedInitTakesThePeriodFromTheAuthorization()
{
    QFETCH(bool, authorized);
    QFETCH(int, period);
    QFETCH(QStringList, records);

    const std::string token = authorized ? sharedEmulator().issueToken("alice") : std::string();
    // The user-info reply at start-up would set its own period.
    sharedEmulator().addFault(Fault::missingRateLimitHeaders());
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    RequestPool* pool = host.handler()->requestPool();
    QCOMPARE(pool->timerInterval(), 20000);
    QCOMPARE(timerOf(pool)->interval(), 20000);
    QVERIFY(!pool->isTimerActive());

    QCoreApplication::processEvents();
    QCOMPARE(pool->timerInterval(), period);
    QCOMPARE(timerOf(pool)->interval(), period);
    QCOMPARE(poolRecords(recorder).filter(QStringLiteral("Interval")), records);
    if (authorized)
        QVERIFY(host.waitFor([&] { return host.authorization()->userInfo().info.username == QLatin1String("alice"); }));

    // The subscription to "authorizationChanged" follows the state from now on.
    host.authorization()->resetToken();
    QCOMPARE(pool->timerInterval(), 20000);
    QCOMPARE(timerOf(pool)->interval(), 20000);
    QCOMPARE(countOf(poolRecords(recorder), QStringLiteral("New Update Interval:20 sec")), authorized ? 1 : 0);
    QVERIFY(!pool->isTimerActive());
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::eachPriorityTakesItsPath()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    ReportRecorder recorder;
    Outcome outcome;
    auto execute = [&](int priority, const QString& name, const QString& path) {
        auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, priority, path);
        const bool watched = outcome.watch(action, name);
        started.handler()->executeAction(action);
        return watched;
    };
    auto ran = [&](int id) { return hasRecordStartingWith(poolRecords(recorder), QStringLiteral("Request %1 ran. Url:").arg(id)); };

    // 0 and 1 leave at once, without the timer.
    QVERIFY(execute(0, QStringLiteral("urgent"), QStringLiteral("streams/trending.json")));
    QVERIFY(ran(0));
    QVERIFY(outcome.waitForEvents(1));
    QVERIFY(execute(1, QStringLiteral("first"), QStringLiteral("streams/suggested.json")));
    QVERIFY(ran(1));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(2));
    QCOMPARE(requestsTo(QStringLiteral("streams/trending.json")).size(), std::size_t(1));
    QCOMPARE(requestsTo(QStringLiteral("streams/suggested.json")).size(), std::size_t(1));

    // 2 waits for a tick and starts the stopped timer with the current period.
    QVERIFY(execute(2, QStringLiteral("refreshA"), QStringLiteral("streams/symbol/AAPL.json")));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 2 put to queue")));
    QVERIFY(!ran(2));
    QVERIFY(pool->isTimerActive());
    QCOMPARE(timerOf(pool)->interval(), pool->timerInterval());
    QVERIFY(execute(2, QStringLiteral("refreshB"), QStringLiteral("streams/symbol/MSFT.json")));
    // Any other priority is queued, and never served.
    QVERIFY(execute(7, QStringLiteral("odd"), QStringLiteral("streams/charts.json")));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 4 put to queue")));

    // One per tick.
    started.tick();
    QVERIFY(ran(2));
    QVERIFY(!ran(3));
    QVERIFY(outcome.waitForEvents(3));
    QVERIFY(pool->isTimerActive());
    QCOMPARE(sharedEmulator().requests().size(), std::size_t(3));

    // The tick that empties queues 0 to 2 stops the timer.
    started.tick();
    QVERIFY(ran(3));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    started.tick();
    QVERIFY(!ran(4));
    QVERIFY(!pool->isTimerActive());

    QCOMPARE(outcome.events, (QStringList{QStringLiteral("urgent:success"), QStringLiteral("first:success"),
                                          QStringLiteral("refreshA:success"), QStringLiteral("refreshB:success")}));
    QCOMPARE(sharedEmulator().requests().size(), std::size_t(4));
    QVERIFY(requestsTo(QStringLiteral("streams/charts.json")).empty());
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_RequestPool::cancelledActionIsDroppedAtItsTurn()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    Outcome outcome;
    const QStringList paths{QStringLiteral("streams/trending.json"), QStringLiteral("streams/suggested.json"),
                            QStringLiteral("streams/charts.json")};
    QList<QPointer<VentariAbstractAction>> actions;
    for (int i = 0; i < paths.size(); ++i) {
        auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 2, paths.at(i));
        QVERIFY(outcome.watch(action, QString(QLatin1Char('a' + i))));
        started.handler()->executeAction(action);
        actions.append(action);
    }
    actions.first()->cancel();

    started.tick();
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("b:success")});
    QVERIFY(QTest::qWaitFor([&] { return actions.at(0).isNull(); }));
    QVERIFY(started.pool()->isTimerActive());

    started.tick();
    QVERIFY(outcome.waitForEvents(2));
    QVERIFY(!started.pool()->isTimerActive());
    QCOMPARE(outcome.events, (QStringList{QStringLiteral("b:success"), QStringLiteral("c:success")}));
    QVERIFY(requestsTo(paths.at(0)).empty());
    QVERIFY(!hasRecordStartingWith(poolRecords(recorder), QStringLiteral("Request 0 ran.")));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::periodFromRateLimitHeaders_data()
{
    QTest::addColumn<int>("remainingBefore"); // the count before the request; the reply says one less
    QTest::addColumn<int>("resetAfter");      // seconds after the server's "Date"
    QTest::addColumn<QString>("fault");
    QTest::addColumn<int>("period");
    QTest::addColumn<QStringList>("errors"); // beginnings of the level-3 records, in order

    const QString wrongSeconds = QStringLiteral("Wrong remain seconds to reset request counter:");
    QTest::newRow("50 left, reset in 100 s") << 51 << 100 << QString() << 5000 << QStringList();
    QTest::newRow("10 left, reset in 100 s") << 11 << 100 << QString() << 12000 << QStringList();
    QTest::newRow("3 left rounds up") << 4 << 100 << QString() << 36000 << QStringList();
    QTest::newRow("0 left on success leaves it") << 1 << 100 << QString() << 10000 << QStringList();
    QTest::newRow("reset past an hour is kept") << 2 << 4000 << QString() << 4002000 << QStringList{wrongSeconds};
    QTest::newRow("reset before the date") << 6 << -10 << QString() << 5000 << QStringList{wrongSeconds};
    QTest::newRow("headers missing") << 51 << 100 << QStringLiteral("missing") << 10000 << QStringList();
    QTest::newRow("remaining not a number")
        << 51 << 100 << QStringLiteral("remaining") << 20000
        << QStringList{QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Remaining"),
                       QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Remaining")};
    QTest::newRow("reset not a number")
        << 51 << 100 << QStringLiteral("reset") << 5000
        << QStringList{QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Reset"), wrongSeconds};
    QTest::newRow("date with a zone offset")
        << 51 << 100 << QStringLiteral("date") << 5000
        << QStringList{QStringLiteral("Unknown format of server date:Tue, 05 Dec 2023 14:03:00 +0000")};
}

void tst_RequestPool::periodFromRateLimitHeaders()
{
    QFETCH(int, remainingBefore);
    QFETCH(int, resetAfter);
    QFETCH(QString, fault);
    QFETCH(int, period);
    QFETCH(QStringList, errors);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    QCOMPARE(pool->timerInterval(), 10000);

    Emulator::Service& service = sharedEmulator();
    service.setServerTime(serverTime);
    service.setResetTime(serverTime + resetAfter);
    service.setRemaining(remainingBefore);
    if (fault == QLatin1String("missing"))
        service.addFault(Fault::missingRateLimitHeaders());
    else if (fault == QLatin1String("remaining"))
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericRemaining));
    else if (fault == QLatin1String("reset"))
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericReset));
    else if (fault == QLatin1String("date"))
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::DateWithZoneOffset));

    ReportRecorder recorder;
    Outcome outcome;
    auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});

    QCOMPARE(pool->timerInterval(), period);
    QCOMPARE(timerOf(pool)->interval(), period);
    QVERIFY(!pool->isOutOfRequests());
    const QStringList logged = errorRecords(recorder);
    QCOMPARE(logged.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i)
        QVERIFY2(logged.at(i).startsWith(errors.at(i)), qPrintable(logged.at(i)));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::outOfRequestsPeriod()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(serverTime);
    service.setResetTime(serverTime + 30);
    service.setRemaining(0);

    ReportRecorder recorder;
    QSignalSpy poolSignal(pool, SIGNAL(outOfRequests(QDateTime)));
    QSignalSpy handlerSignal(started.handler(), SIGNAL(outOfRequests(QDateTime)));
    Outcome outcome;
    const QStringList paths{QStringLiteral("streams/trending.json"), QStringLiteral("streams/suggested.json"),
                            QStringLiteral("streams/charts.json"), QStringLiteral("streams/symbol/AAPL.json")};
    auto execute = [&](int priority, int index) {
        auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, priority, paths.at(index));
        const bool watched = outcome.watch(action, QString(QLatin1Char('a' + index)));
        started.handler()->executeAction(action);
        return watched;
    };

    // Both are on their way before the first refusal; the second answers later.
    service.addFault(Fault::latency(500).onPath("/api/2/" + paths.at(1).toStdString()).times(1));
    QVERIFY(execute(1, 0));
    QVERIFY(execute(1, 1));
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 0 put to queue")); }));
    QCOMPARE(requestsTo(paths.at(0)).at(0).status, 429);

    const QList<Kelvar::SimpleNotificationInfo*> shown = started.host().notifications()->events();
    QCOMPARE(shown.size(), 1);
    QCOMPARE(shown.at(0)->title(), QStringLiteral("Ventari"));
    QCOMPARE(shown.at(0)->text(), limitText(QTime(23, 3, 30)));
    QCOMPARE(shown.at(0)->icon(), 0);
    QCOMPARE(poolSignal.count(), 1);
    QCOMPARE(handlerSignal.count(), 1);
    const QDateTime reset = poolSignal.at(0).at(0).toDateTime();
    QCOMPARE(reset.date(), QDate(2023, 12, 5));
    QCOMPARE(reset.time(), QTime(23, 3, 30));
    QCOMPARE(handlerSignal.at(0).at(0).toDateTime(), reset);
    QVERIFY(pool->isOutOfRequests());
    QVERIFY(started.handler()->isOutOfRequests());
    QCOMPARE(pool->timerInterval(), 30000);
    QCOMPARE(timerOf(pool)->interval(), 30000);
    QVERIFY(pool->isTimerActive());
    QCOMPARE(countOf(poolRecords(recorder), QStringLiteral("New request 0. Priority:1. Type:ProtocolTest::ProbeAction")), 2);

    // The second refusal adds nothing but its own place in the queue.
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 1 put to queue")); }));
    QCOMPARE(requestsTo(paths.at(1)).at(0).status, 429);
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(poolSignal.count(), 1);
    QCOMPARE(handlerSignal.count(), 1);
    QVERIFY(pool->isOutOfRequests());
    QVERIFY(outcome.events.isEmpty());

    // Until the tick, 0 still leaves at once and 1 waits.
    service.setRemaining(10);
    QVERIFY(execute(0, 2));
    QVERIFY(hasRecordStartingWith(poolRecords(recorder), QStringLiteral("Request 2 ran.")));
    QVERIFY(outcome.waitForEvents(1));
    QVERIFY(execute(1, 3));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 3 put to queue")));
    QVERIFY(pool->isOutOfRequests());

    // The tick ends the period: base period, and all of queue 1 together, under their own ids.
    started.tick();
    QVERIFY(!pool->isOutOfRequests());
    QCOMPARE(pool->timerInterval(), 20000);
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    QCOMPARE(outcome.events.first(), QStringLiteral("c:success"));
    for (const QString& name : {QStringLiteral("a"), QStringLiteral("b"), QStringLiteral("d")})
        QVERIFY(outcome.events.contains(name + QStringLiteral(":success")));
    QCOMPARE(requestsTo(paths.at(0)).size(), std::size_t(2));
    QCOMPARE(requestsTo(paths.at(0)).at(1).status, 200);

    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(poolSignal.count(), 1);
    QCOMPARE(handlerSignal.count(), 1);
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_RequestPool::resetBeforeServerTimeLastsOneSecond()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(serverTime);
    service.setResetTime(serverTime - 10);
    service.setRemaining(0);

    ReportRecorder recorder;
    Outcome outcome;
    auto* action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 1);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(QTest::qWaitFor([&] { return pool->isOutOfRequests(); }));
    QCOMPARE(pool->timerInterval(), 1000);
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(started.host().notifications()->events().at(0)->text(), limitText(QTime(23, 2, 50)));
    const QStringList logged = errorRecords(recorder);
    QVERIFY(!logged.isEmpty());
    for (const QString& text : logged)
        QVERIFY2(text.startsWith(QStringLiteral("Wrong remain seconds to reset request counter:")), qPrintable(text));

    service.setRemaining(10);
    started.tick();
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::staleAuthorizationIsSentAgain()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    Emulator::Service& service = sharedEmulator();
    service.setRemainingForToken(started.token(), 0);

    ReportRecorder recorder;
    QSignalSpy outOfRequests(started.pool(), SIGNAL(outOfRequests(QDateTime)));
    Outcome outcome;
    auto* action = new ProbeAction(VentariAbstractAction::SendTokenIfAny, VentariAbstractAction::Get, 1);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    // The user signs out while the request, made with the token, is on its way.
    started.authorization()->resetToken();

    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    const auto sent = requestsTo(QStringLiteral("streams/trending.json"));
    QCOMPARE(sent.size(), std::size_t(2));
    QCOMPARE(sent.at(0).status, 429);
    QCOMPARE(sent.at(0).queryValue("access_token"), started.token());
    QCOMPARE(sent.at(1).status, 200);
    QVERIFY(!sent.at(1).hasQueryItem("access_token"));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Received an 'old' action which outdated auth state. Restart it.")));
    QVERIFY(!started.pool()->isOutOfRequests());
    QCOMPARE(outOfRequests.count(), 0);
    QVERIFY(started.host().notifications()->events().isEmpty());
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::authenticationRequired_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withoutHeaders");
    QTest::addColumn<bool>("sentAgain");

    QTest::newRow("mode 1, requests remaining") << 1 << QStringLiteral("streams/trending.json") << false << true;
    QTest::newRow("mode 1, no rate-limit headers") << 1 << QStringLiteral("streams/trending.json") << true << true;
    QTest::newRow("mode 2") << 2 << QStringLiteral("watchlists.json") << false << false;
}

void tst_RequestPool::authenticationRequired()
{
    QFETCH(int, mode);
    QFETCH(QString, path);
    QFETCH(bool, withoutHeaders);
    QFETCH(bool, sentAgain);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    Emulator::Service& service = sharedEmulator();
    QVERIFY(service.revokeToken(started.token()));
    if (withoutHeaders)
        service.addFault(Fault::missingRateLimitHeaders());

    ReportRecorder recorder;
    Outcome outcome;
    auto* action = new ProbeAction(mode, VentariAbstractAction::Get, 1, path);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));

    QVERIFY(!started.authorization()->isAuthorized());
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("AuthenticationRequiredError")));
    const auto sent = requestsTo(path);
    QCOMPARE(sent.size(), std::size_t(sentAgain ? 2 : 1));
    QCOMPARE(sent.at(0).status, 401);
    QCOMPARE(sent.at(0).queryValue("access_token"), started.token());
    if (sentAgain) {
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
        QVERIFY(!sent.at(1).hasQueryItem("access_token"));
        QCOMPARE(sent.at(1).status, 200);
        // Sent again under its own id (1: the user-info request at start-up was 0).
        QCOMPARE(countOf(poolRecords(recorder), QStringLiteral("New request 1. Priority:1. Type:ProtocolTest::ProbeAction")), 2);
    } else {
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
        QCOMPARE(outcome.error.status, -1);
        const QUrl address(apiUrl(path) + QStringLiteral("?access_token=") + text(started.token()));
        QCOMPARE(outcome.error.errorText, qtErrorString(address, false));
    }
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::repliesOutOfOrderAreMatchedByTheirIds()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    sharedEmulator().addFault(Fault::latency(400).onPath("/api/2/streams/symbol/"));

    ReportRecorder recorder;
    Outcome outcome;
    auto* slow = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0,
                                 QStringLiteral("streams/symbol/AAPL.json"));
    auto* quick = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0,
                                  QStringLiteral("streams/user/bob.json"));
    QVERIFY(outcome.watch(slow, QStringLiteral("slow")));
    QVERIFY(outcome.watch(quick, QStringLiteral("quick")));
    QVariantMap slowReply, quickReply;
    connect(slow, &ProbeAction::success, this, [&] { slowReply = slow->m_reply; });
    connect(quick, &ProbeAction::success, this, [&] { quickReply = quick->m_reply; });
    started.handler()->executeAction(slow);
    started.handler()->executeAction(quick);

    QVERIFY(outcome.waitForEvents(2));
    QCOMPARE(outcome.events, (QStringList{QStringLiteral("quick:success"), QStringLiteral("slow:success")}));
    const QStringList received = poolRecords(recorder).filter(QStringLiteral("Response received"));
    QCOMPARE(received, (QStringList{QStringLiteral("Request 1. Response received."), QStringLiteral("Request 0. Response received.")}));
    QVERIFY(recorder.reports().isEmpty());
    // Each action read its own reply.
    QCOMPARE(slowReply.value(QStringLiteral("symbol")).toMap().value(QStringLiteral("symbol")).toString(), QStringLiteral("AAPL"));
    QCOMPARE(quickReply.value(QStringLiteral("user")).toMap().value(QStringLiteral("username")).toString(), QStringLiteral("bob"));
}

void tst_RequestPool::hostTornDownWithARequestInFlight()
{
    sharedEmulator().addFault(Fault::latency(300));
    ReportRecorder recorder;
    QPointer<VentariAbstractAction> action;
    {
        StartedHost started(false);
        QVERIFY(started.isStarted());
        action = new ProbeAction(VentariAbstractAction::NeverSendToken, VentariAbstractAction::Get, 0);
        started.handler()->executeAction(action);
        QTest::qWait(100); // on its way while the service waits
    }
    QVERIFY(action.isNull());
    // Past the moment the answer comes back: nobody is left to hear it, nothing breaks.
    QTest::qWait(400);
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

QTEST_MAIN(tst_RequestPool)
#include "tst_requestpool.moc"
