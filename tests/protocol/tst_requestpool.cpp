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

namespace {

// The server's clock in these tests: Tuesday, 5 December 2023, 14:03:00 UTC.
const qint64 serverTime = QDateTime(QDate(2023, 12, 5), QTime(14, 3), Qt::UTC).toSecsSinceEpoch();

// The period of the pool's timer, or -1 when the timer and the pool disagree about it.
int period(RequestPool* pool)
{
    const int interval = pool->findChild<Kelvar::PoolTimer*>()->interval();
    return interval == pool->timerInterval() ? interval : -1;
}

// The notification text for a reset that the user's clock (Asia/Tokyo) shows as wallClock.
QString limitText(const QTime& wallClock)
{
    return QStringLiteral("Requests limit exceeded. Please wait until %1.")
        .arg(QDateTime(QDate(2023, 12, 5), wallClock).toString(QStringLiteral("hh:mm AP")));
}

bool ran(const ReportRecorder& recorder, int id)
{
    return !poolRecords(recorder).filter(QRegularExpression(QStringLiteral("^Request %1 ran\\. Url:").arg(id))).isEmpty();
}

} // namespace

class tst_RequestPool : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void queuedInitTakesThePeriodFromTheAuthorization();
    void eachPriorityTakesItsPath();
    void periodFromRateLimitHeaders_data();
    void periodFromRateLimitHeaders();
    void outOfRequestsPeriod();
    void staleAuthorizationIsSentAgain();
    void authenticationRequired_data();
    void authenticationRequired();
    void repliesOutOfOrderAreMatchedByTheirIds();
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

void tst_RequestPool::queuedInitTakesThePeriodFromTheAuthorization()
{
    const std::string token = sharedEmulator().issueToken("alice");
    // The user-info reply at start-up would set its own period.
    sharedEmulator().addFault(Fault::missingRateLimitHeaders());
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    RequestPool* pool = host.handler()->requestPool();
    QCOMPARE(period(pool), 20000);
    QCoreApplication::processEvents();
    QCOMPARE(period(pool), 10000);
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("New Update Interval:10 sec")));
    QVERIFY(QTest::qWaitFor([&] { return host.authorization()->userInfo().info.username == QLatin1String("alice"); }));

    // The subscription to "authorizationChanged" follows the state from now on.
    host.authorization()->resetToken();
    QCOMPARE(period(pool), 20000);
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

    // 0 and 1 leave at once, without the timer.
    QVERIFY(started.execute(outcome, QStringLiteral("urgent"), 0));
    QVERIFY(ran(recorder, 0));
    QVERIFY(outcome.waitForEvents(1));
    QVERIFY(started.execute(outcome, QStringLiteral("first"), 1, QStringLiteral("streams/suggested.json")));
    QVERIFY(ran(recorder, 1));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(2));

    // 2 waits for a tick and starts the stopped timer with the current period.
    QPointer<ProbeAction> cancelled = new ProbeAction(2);
    QVERIFY(outcome.watch(cancelled, QStringLiteral("cancelled")));
    started.handler()->executeAction(cancelled);
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 2 put to queue")));
    QVERIFY(!ran(recorder, 2));
    QVERIFY(pool->isTimerActive());
    QVERIFY(period(pool) > 0);
    QVERIFY(started.execute(outcome, QStringLiteral("refreshA"), 2, QStringLiteral("streams/symbol/AAPL.json")));
    QVERIFY(started.execute(outcome, QStringLiteral("refreshB"), 2, QStringLiteral("streams/symbol/MSFT.json")));
    // Any other priority is queued, and never served.
    QVERIFY(started.execute(outcome, QStringLiteral("odd"), 7));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 5 put to queue")));
    cancelled->cancel();

    // One per tick: a cancelled one is dropped and the same tick sends the next one instead.
    started.tick();
    QVERIFY(!ran(recorder, 2));
    QVERIFY(ran(recorder, 3));
    QVERIFY(!ran(recorder, 4));
    QVERIFY(pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(3));
    QVERIFY(QTest::qWaitFor([&] { return cancelled.isNull(); }));
    // The tick that empties queues 0 to 2 stops the timer.
    started.tick();
    QVERIFY(ran(recorder, 4));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    started.tick();
    QVERIFY(!ran(recorder, 5));
    QCOMPARE(outcome.events, (QStringList{QStringLiteral("urgent:success"), QStringLiteral("first:success"),
                                          QStringLiteral("refreshA:success"), QStringLiteral("refreshB:success")}));
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_RequestPool::periodFromRateLimitHeaders_data()
{
    QTest::addColumn<int>("remainingBefore"); // the count before the request; the reply says one less
    QTest::addColumn<int>("resetAfter");      // seconds after the server's "Date"
    QTest::addColumn<int>("defect");          // -1: none, -2: headers missing, else a HeaderDefect
    QTest::addColumn<int>("period");
    QTest::addColumn<QStringList>("errors"); // beginnings of the level-3 records, in order
    QTest::addColumn<QTime>("resetShown");   // valid: refused, the limit notification shows this time

    const QString wrongSeconds = QStringLiteral("Wrong remain seconds to reset request counter:");
    const QString wrongRemaining = QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Remaining");
    QTest::newRow("50 left, reset in 100 s") << 51 << 100 << -1 << 5000 << QStringList() << QTime();
    QTest::newRow("10 left, reset in 100 s") << 11 << 100 << -1 << 12000 << QStringList() << QTime();
    QTest::newRow("3 left rounds up") << 4 << 100 << -1 << 36000 << QStringList() << QTime();
    QTest::newRow("0 left on success leaves it") << 1 << 100 << -1 << 10000 << QStringList() << QTime();
    QTest::newRow("reset past an hour is kept") << 2 << 4000 << -1 << 4002000 << QStringList{wrongSeconds} << QTime();
    QTest::newRow("reset before the date") << 6 << -10 << -1 << 5000 << QStringList{wrongSeconds} << QTime();
    QTest::newRow("headers missing") << 51 << 100 << -2 << 10000 << QStringList() << QTime();
    QTest::newRow("remaining not a number")
        << 51 << 100 << int(HeaderDefect::NonNumericRemaining) << 20000 << QStringList{wrongRemaining, wrongRemaining} << QTime();
    QTest::newRow("reset not a number")
        << 51 << 100 << int(HeaderDefect::NonNumericReset) << 5000
        << QStringList{QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Reset"), wrongSeconds} << QTime();
    QTest::newRow("date with a zone offset")
        << 51 << 100 << int(HeaderDefect::DateWithZoneOffset) << 5000
        << QStringList{QStringLiteral("Unknown format of server date:Tue, 05 Dec 2023 14:03:00 +0000")} << QTime();
    QTest::newRow("refused, reset in 30 s") << 0 << 30 << -1 << 30000 << QStringList() << QTime(23, 3, 30);
    // Logged twice for the refusal, once for the answer after the tick.
    QTest::newRow("refused, reset before the date lasts 1 s")
        << 0 << -10 << -1 << 1000 << QStringList{wrongSeconds, wrongSeconds, wrongSeconds} << QTime(23, 2, 50);
}

void tst_RequestPool::periodFromRateLimitHeaders()
{
    QFETCH(int, remainingBefore);
    QFETCH(int, resetAfter);
    QFETCH(int, defect);
    QFETCH(int, period);
    QFETCH(QStringList, errors);
    QFETCH(QTime, resetShown);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    QCOMPARE(::period(started.pool()), 10000);
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(serverTime);
    service.setResetTime(serverTime + resetAfter);
    service.setRemaining(remainingBefore);
    if (defect == -2)
        service.addFault(Fault::missingRateLimitHeaders());
    else if (defect >= 0)
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect(defect)));

    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1));
    if (resetShown.isValid()) {
        QVERIFY(QTest::qWaitFor([&] { return started.pool()->isOutOfRequests(); }));
        QCOMPARE(started.host().notifications()->events().size(), 1);
        QCOMPARE(started.host().notifications()->events().at(0)->text(), limitText(resetShown));
        QCOMPARE(::period(started.pool()), period);
        // The tick ends the period and sends the refused request again.
        service.setRemaining(10);
        started.tick();
        QCOMPARE(::period(started.pool()), 10000);
    }
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    if (!resetShown.isValid()) {
        QCOMPARE(::period(started.pool()), period);
        QVERIFY(started.host().notifications()->events().isEmpty());
    }
    QVERIFY(!started.pool()->isOutOfRequests());
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

    // Both are on their way before the first refusal; the second answers later.
    service.addFault(Fault::latency(500).onPath("/api/2/streams/suggested.json").times(1));
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1));
    QVERIFY(started.execute(outcome, QStringLiteral("b"), 1, QStringLiteral("streams/suggested.json")));
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 0 put to queue")); }));
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(started.host().notifications()->events().at(0)->title(), QStringLiteral("Ventari"));
    QCOMPARE(poolSignal.count(), 1);
    QCOMPARE(handlerSignal.count(), 1);
    QCOMPARE(poolSignal.at(0).at(0).toDateTime(), QDateTime(QDate(2023, 12, 5), QTime(23, 3, 30)));
    QCOMPARE(handlerSignal.at(0), poolSignal.at(0));
    QVERIFY(started.handler()->isOutOfRequests());
    QCOMPARE(period(pool), 30000);
    QVERIFY(pool->isTimerActive());
    // Requeued under its own id.
    QCOMPARE(poolRecords(recorder).count(QStringLiteral("New request 0. Priority:1. Type:ProtocolTest::ProbeAction")), 2);

    // The second refusal adds nothing but its own place in the queue.
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 1 put to queue")); }));
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(poolSignal.count(), 1);
    QVERIFY(outcome.events.isEmpty());

    // Until the tick, 0 still leaves at once and 1 waits.
    service.setRemaining(10);
    QVERIFY(started.execute(outcome, QStringLiteral("c"), 0, QStringLiteral("streams/charts.json")));
    QVERIFY(ran(recorder, 2));
    QVERIFY(outcome.waitForEvents(1));
    QVERIFY(started.execute(outcome, QStringLiteral("d"), 1, QStringLiteral("streams/symbol/AAPL.json")));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 3 put to queue")));

    // The tick ends the period: base period, and all of queue 1 together.
    started.tick();
    QVERIFY(!pool->isOutOfRequests());
    QCOMPARE(period(pool), 20000);
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    QCOMPARE(outcome.events.first(), QStringLiteral("c:success"));
    QCOMPARE(outcome.events.filter(QStringLiteral(":success")).size(), 4);
    QCOMPARE(poolSignal.count(), 1);
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_RequestPool::staleAuthorizationIsSentAgain()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    sharedEmulator().setRemainingForToken(started.token(), 0);

    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1, QStringLiteral("streams/trending.json"), 1));
    // The user signs out while the request, made with the token, is on its way.
    started.authorization()->resetToken();

    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    const auto sent = requestsTo(QStringLiteral("streams/trending.json"));
    QCOMPARE(sent.size(), std::size_t(2));
    QCOMPARE(sent.at(0).status, 429);
    QCOMPARE(sent.at(0).queryValue("access_token"), started.token());
    QVERIFY(!sent.at(1).hasQueryItem("access_token"));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Received an 'old' action which outdated auth state. Restart it.")));
    QVERIFY(!started.pool()->isOutOfRequests());
    QVERIFY(started.host().notifications()->events().isEmpty());
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::authenticationRequired_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("withoutHeaders");

    QTest::newRow("mode 1, requests remaining") << 1 << QStringLiteral("streams/trending.json") << false;
    QTest::newRow("mode 1, no rate-limit headers") << 1 << QStringLiteral("streams/trending.json") << true;
    QTest::newRow("mode 2") << 2 << QStringLiteral("watchlists.json") << false;
}

void tst_RequestPool::authenticationRequired()
{
    QFETCH(int, mode);
    QFETCH(QString, path);
    QFETCH(bool, withoutHeaders);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    QVERIFY(sharedEmulator().revokeToken(started.token()));
    if (withoutHeaders)
        sharedEmulator().addFault(Fault::missingRateLimitHeaders());

    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1, path, mode));
    QVERIFY(outcome.waitForEvents(1));

    QVERIFY(!started.authorization()->isAuthorized());
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("AuthenticationRequiredError")));
    const auto sent = requestsTo(path);
    QCOMPARE(sent.at(0).status, 401);
    QCOMPARE(sent.at(0).queryValue("access_token"), started.token());
    if (mode == 1) {
        // Sent again without a token, under its own id (0 was the user-info request at start-up).
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
        QCOMPARE(sent.size(), std::size_t(2));
        QVERIFY(!sent.at(1).hasQueryItem("access_token"));
        QCOMPARE(poolRecords(recorder).count(QStringLiteral("New request 1. Priority:1. Type:ProtocolTest::ProbeAction")), 2);
    } else {
        QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
        QCOMPARE(sent.size(), std::size_t(1));
        QCOMPARE(outcome.error.status, -1);
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
    auto* slow = new ProbeAction(0, QStringLiteral("streams/symbol/AAPL.json"));
    auto* quick = new ProbeAction(0, QStringLiteral("streams/user/bob.json"));
    QVERIFY(outcome.watch(slow, QStringLiteral("slow")));
    QVERIFY(outcome.watch(quick, QStringLiteral("quick")));
    started.handler()->executeAction(slow);
    started.handler()->executeAction(quick);

    QVERIFY(outcome.waitForEvents(2));
    QCOMPARE(outcome.events, (QStringList{QStringLiteral("quick:success"), QStringLiteral("slow:success")}));
    QCOMPARE(poolRecords(recorder).filter(QStringLiteral("Response received")),
             (QStringList{QStringLiteral("Request 1. Response received."), QStringLiteral("Request 0. Response received.")}));
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_RequestPool)
#include "tst_requestpool.moc"
