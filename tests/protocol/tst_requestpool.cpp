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
const QDateTime serverDate(QDate(2023, 12, 5), QTime(14, 3), Qt::UTC);
const qint64 serverTime = serverDate.toSecsSinceEpoch();

// The period of the pool's timer, or -1 when the timer and the pool disagree about it.
int period(RequestPool* pool)
{
    const int interval = pool->findChild<Kelvar::PoolTimer*>()->interval();
    return interval == pool->timerInterval() ? interval : -1;
}

// The service's limit used up; it resets 30 s after the server's "Date".
void useUpTheLimit()
{
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(serverTime);
    service.setResetTime(serverTime + 30);
    service.setRemaining(0);
}

// How often the request with this id was sent.
int runs(const ReportRecorder& recorder, int id)
{
    return poolRecords(recorder).filter(QRegularExpression(QStringLiteral("^Request %1 ran\\. Url:").arg(id))).size();
}

bool ran(const ReportRecorder& recorder, int id)
{
    return runs(recorder, id) > 0;
}

// "file function: expression" for each report, in order.
QStringList reportsOf(const ReportRecorder& recorder)
{
    QStringList texts;
    for (const Corvane::Report& report : recorder.reports())
        texts << report.file + QLatin1Char(' ') + report.function + QStringLiteral(": ") + report.expression;
    return texts;
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
    void refusedUrgentRequestsWaitForTheTick();
    void actionGoneIsDropped_data();
    void actionGoneIsDropped();
    void repliesOutOfOrderAreMatchedByTheirIds();
    void networkErrorTextHidesTheToken();
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
    QTest::addColumn<QDateTime>("date");      // the server's "Date"
    QTest::addColumn<int>("remainingBefore"); // the count before the request; the reply says one less
    QTest::addColumn<int>("resetAfter");      // seconds after the server's "Date"
    QTest::addColumn<int>("defect");          // -1: none, -2: headers missing, else a HeaderDefect
    QTest::addColumn<int>("period");
    QTest::addColumn<QStringList>("errors"); // beginnings of the level-3 records, in order
    QTest::addColumn<QString>("resetShown"); // not empty: refused, the limit notification shows this time
    QTest::addColumn<QDateTime>("wallClock"); // its date and time: the user's clock at the reset

    const QString wrongSeconds = QStringLiteral("Wrong remain seconds to reset request counter:");
    const QString wrongRemaining = QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Remaining");
    // The longest period: an hour and the margin.
    const int longest = 3602000;
    auto row = [&](const char* name, int remainingBefore, int resetAfter, int defect, int period,
                   const QStringList& errors, const QDateTime& date = serverDate) -> QTestData& {
        return QTest::newRow(name) << date << remainingBefore << resetAfter << defect << period << errors;
    };
    auto plain = [&](const char* name, int remainingBefore, int resetAfter, int defect, int period,
                     const QStringList& errors, const QDateTime& date = serverDate) {
        row(name, remainingBefore, resetAfter, defect, period, errors, date) << QString() << QDateTime();
    };
    plain("50 left, reset in 100 s", 51, 100, -1, 5000, {});
    plain("10 left, reset in 100 s", 11, 100, -1, 12000, {});
    plain("3 left rounds up", 4, 100, -1, 36000, {});
    plain("0 left on success leaves it", 1, 100, -1, 10000, {});
    plain("reset past an hour waits the longest period", 2, 4000, -1, longest, {wrongSeconds});
    plain("reset 4294966 s ahead does not wrap", 2, 4294966, -1, longest, {wrongSeconds});
    plain("reset before the date", 6, -10, -1, 5000,
          {wrongSeconds + QStringLiteral("server time isTue Dec 5 14:03:00 2023 GMT"
                                         "reseting time isTue Dec 5 14:02:50 2023 GMT"
                                         "remain seconds is-10")});
    plain("headers missing", 51, 100, -2, 10000, {});
    plain("remaining not a number", 51, 100, int(HeaderDefect::NonNumericRemaining), 20000, {wrongRemaining, wrongRemaining});
    plain("reset not a number", 51, 100, int(HeaderDefect::NonNumericReset), 5000,
          {QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Reset"), wrongSeconds});
    plain("date with a zone offset", 51, 100, int(HeaderDefect::DateWithZoneOffset), 5000,
          {QStringLiteral("Unknown format of server date:Tue, 05 Dec 2023 14:03:00 +0000")});
    // Europe/Berlin skips from 02:00 to 03:00 that night; the digits are GMT all the same.
    const QDateTime berlinGap(QDate(2024, 3, 31), QTime(2, 30), Qt::UTC);
    plain("date inside Berlin's spring-forward hour", 2, 60, -1, 62000, {}, berlinGap);

    const QDate day(2023, 12, 5);
    row("refused, reset in 30 s", 0, 30, -1, 30000, {})
        << QStringLiteral("11:03 PM") << QDateTime(day, QTime(23, 3, 30));
    // Logged twice for the refusal, once for the answer after the tick.
    row("refused, reset before the date lasts 1 s", 0, -10, -1, 1000, {wrongSeconds, wrongSeconds, wrongSeconds})
        << QStringLiteral("11:02 PM") << QDateTime(day, QTime(23, 2, 50));
    row("refused, reset 3000000 s ahead does not wrap", 0, 3000000, -1, longest, {wrongSeconds, wrongSeconds, wrongSeconds})
        << QStringLiteral("04:23 PM") << QDateTime(QDate(2024, 1, 9), QTime(16, 23));
    row("refused, date inside Berlin's spring-forward hour", 0, 30, -1, 30000, {}, berlinGap)
        << QStringLiteral("11:30 AM") << QDateTime(QDate(2024, 3, 31), QTime(11, 30, 30));
    // 17:30 UTC is 02:30 on the user's clock, an hour that the machine's clock in Berlin skips.
    row("refused, the user's clock inside Berlin's spring-forward hour", 0, 30, -1, 30000, {},
        QDateTime(QDate(2024, 3, 30), QTime(17, 29, 30), Qt::UTC))
        << QStringLiteral("02:30 AM") << QDateTime(QDate(2024, 3, 31), QTime(2, 30));
}

void tst_RequestPool::periodFromRateLimitHeaders()
{
    QFETCH(QDateTime, date);
    QFETCH(int, remainingBefore);
    QFETCH(int, resetAfter);
    QFETCH(int, defect);
    QFETCH(int, period);
    QFETCH(QStringList, errors);
    QFETCH(QString, resetShown);
    QFETCH(QDateTime, wallClock);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    QCOMPARE(::period(started.pool()), 10000);
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(date.toSecsSinceEpoch());
    service.setResetTime(date.toSecsSinceEpoch() + resetAfter);
    service.setRemaining(remainingBefore);
    if (defect == -2)
        service.addFault(Fault::missingRateLimitHeaders());
    else if (defect >= 0)
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect(defect)));

    ReportRecorder recorder;
    QSignalSpy limitSignal(started.pool(), SIGNAL(outOfRequests(QDateTime)));
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1));
    if (!resetShown.isEmpty()) {
        QVERIFY(QTest::qWaitFor([&] { return started.pool()->isOutOfRequests(); }));
        QCOMPARE(started.host().notifications()->events().size(), 1);
        QCOMPARE(started.host().notifications()->events().at(0)->text(),
                 QStringLiteral("Requests limit exceeded. Please wait until ") + resetShown + QLatin1Char('.'));
        QCOMPARE(::period(started.pool()), period);
        // The user's wall clock, and still the moment of the reset.
        QCOMPARE(limitSignal.size(), 1);
        const QDateTime shown = limitSignal.at(0).at(0).toDateTime();
        QCOMPARE(shown.date(), wallClock.date());
        QCOMPARE(shown.time(), wallClock.time());
        QCOMPARE(shown.toUTC(), date.addSecs(resetAfter));
        // The tick ends the period and sends the refused request again.
        service.setRemaining(10);
        started.tick();
        QCOMPARE(::period(started.pool()), 10000);
    }
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    if (resetShown.isEmpty()) {
        QCOMPARE(::period(started.pool()), period);
        QVERIFY(started.host().notifications()->events().isEmpty());
        QVERIFY(limitSignal.isEmpty());
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
    useUpTheLimit();

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
    // 23:03:30 on the user's clock, the moment of the reset.
    QCOMPARE(poolSignal.at(0).at(0).toDateTime().time(), QTime(23, 3, 30));
    QCOMPARE(poolSignal.at(0).at(0).toDateTime(), serverDate.addSecs(30));
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
    QTest::addColumn<QStringList>("paths"); // all out together with the revoked token
    QTest::addColumn<bool>("withoutHeaders");

    const QString trending = QStringLiteral("streams/trending.json");
    QTest::newRow("mode 1, requests remaining") << 1 << QStringList{trending} << false;
    QTest::newRow("mode 1, no rate-limit headers") << 1 << QStringList{trending} << true;
    // Only the first refusal finds a user to reset; every one of them goes out again.
    QTest::newRow("mode 1, three at once")
        << 1 << QStringList{trending, QStringLiteral("streams/suggested.json"), QStringLiteral("streams/charts.json")} << false;
    QTest::newRow("mode 2") << 2 << QStringList{QStringLiteral("watchlists.json")} << false;
}

void tst_RequestPool::authenticationRequired()
{
    QFETCH(int, mode);
    QFETCH(QStringList, paths);
    QFETCH(bool, withoutHeaders);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    QVERIFY(sharedEmulator().revokeToken(started.token()));
    if (withoutHeaders)
        sharedEmulator().addFault(Fault::missingRateLimitHeaders());

    ReportRecorder recorder;
    Outcome outcome;
    QStringList expected;
    for (int i = 0; i < paths.size(); ++i) {
        const QString name = QString(QLatin1Char('a' + i));
        QVERIFY(started.execute(outcome, name, 1, paths.at(i), mode));
        expected << name + (mode == 1 ? QStringLiteral(":success") : QStringLiteral(":error"));
    }
    QVERIFY(outcome.waitForEvents(paths.size()));
    outcome.events.sort();
    QCOMPARE(outcome.events, expected);

    QVERIFY(!started.authorization()->isAuthorized());
    QCOMPARE(poolRecords(recorder).count(QStringLiteral("AuthenticationRequiredError")), paths.size());
    for (int i = 0; i < paths.size(); ++i) {
        const auto sent = requestsTo(paths.at(i));
        QCOMPARE(sent.at(0).status, 401);
        QCOMPARE(sent.at(0).queryValue("access_token"), started.token());
        // Ids from 1 on: 0 was the user-info request at start-up.
        const QString given = QStringLiteral("New request %1. Priority:1. Type:ProtocolTest::ProbeAction").arg(i + 1);
        if (mode == 1) {
            // Sent again without a token, under its own id.
            QCOMPARE(sent.size(), std::size_t(2));
            QVERIFY(!sent.at(1).hasQueryItem("access_token"));
            QCOMPARE(poolRecords(recorder).count(given), 2);
        } else {
            QCOMPARE(sent.size(), std::size_t(1));
            QCOMPARE(outcome.error.status, -1);
            QCOMPARE(poolRecords(recorder).count(given), 1);
        }
    }
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestPool::refusedUrgentRequestsWaitForTheTick()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    Emulator::Service& service = sharedEmulator();
    useUpTheLimit();

    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 0));
    QVERIFY(started.execute(outcome, QStringLiteral("b"), 0, QStringLiteral("streams/suggested.json")));
    // Each refusal holds its request instead of sending it again at once.
    QVERIFY(QTest::qWaitFor([&] {
        return poolRecords(recorder).contains(QStringLiteral("Request 0 put to queue"))
            && poolRecords(recorder).contains(QStringLiteral("Request 1 put to queue"));
    }));
    QCOMPARE(runs(recorder, 0), 1);
    QCOMPARE(runs(recorder, 1), 1);
    QVERIFY(pool->isOutOfRequests());
    QVERIFY(pool->isTimerActive());
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QVERIFY(outcome.events.isEmpty());

    // The first tick after the period sends both.
    service.setRemaining(10);
    started.tick();
    QCOMPARE(runs(recorder, 0), 2);
    QCOMPARE(runs(recorder, 1), 2);
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(2));
    outcome.events.sort();
    QCOMPARE(outcome.events, (QStringList{QStringLiteral("a:success"), QStringLiteral("b:success")}));
    for (const QString& path : {QStringLiteral("streams/trending.json"), QStringLiteral("streams/suggested.json")}) {
        const auto sent = requestsTo(path);
        QCOMPARE(sent.size(), std::size_t(2));
        QCOMPARE(sent.at(0).status, 429);
        QCOMPARE(sent.at(1).status, 200);
    }
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

void tst_RequestPool::actionGoneIsDropped_data()
{
    QTest::addColumn<int>("priority");
    QTest::addColumn<bool>("authorized");  // with a token that the service has revoked
    QTest::addColumn<bool>("limitUsedUp");
    QTest::addColumn<int>("status");       // an error status the service answers with, or 0
    QTest::addColumn<bool>("waitInQueue"); // gone while queued rather than while out
    QTest::addColumn<QString>("report");

    const QString pool = QStringLiteral("requestspool Ventari::RequestPool::");
    const QString handler = QStringLiteral("ventariactionhandler Ventari::VentariActionHandler::");
    const QString poolText = QStringLiteral(": request.action != NULL");
    const QString handlerText = QStringLiteral(": m_actions.value(id) != NULL");
    QTest::newRow("queued, at its tick") << 2 << false << false << 0 << true << pool + QStringLiteral("takeNextRequest") + poolText;
    QTest::newRow("held for the limit, at the tick")
        << 1 << false << true << 0 << true << pool + QStringLiteral("runNextRequest") + poolText;
    QTest::newRow("out, refused for the limit")
        << 1 << false << true << 0 << false << pool + QStringLiteral("onResponseError") + poolText;
    QTest::newRow("out, refused for authentication")
        << 1 << true << false << 0 << false << pool + QStringLiteral("onResponseError") + poolText;
    QTest::newRow("out, answered") << 1 << false << false << 0 << false << handler + QStringLiteral("onPooledReplyFinished") + handlerText;
    QTest::newRow("out, failed") << 1 << false << false << 500 << false << handler + QStringLiteral("onPooledReplyError") + handlerText;
}

// An action deleted by its owner while its request waits or is out is never touched again.
void tst_RequestPool::actionGoneIsDropped()
{
    QFETCH(int, priority);
    QFETCH(bool, authorized);
    QFETCH(bool, limitUsedUp);
    QFETCH(int, status);
    QFETCH(bool, waitInQueue);
    QFETCH(QString, report);

    StartedHost started(authorized);
    QVERIFY(started.isStarted());
    Emulator::Service& service = sharedEmulator();
    if (authorized)
        QVERIFY(service.revokeToken(started.token()));
    if (limitUsedUp)
        useUpTheLimit();
    if (status)
        service.addFault(Fault::errorStatus(status).times(1));

    ReportRecorder recorder;
    Outcome outcome;
    const int id = authorized ? 1 : 0;
    QPointer<ProbeAction> action = new ProbeAction(priority, QStringLiteral("streams/trending.json"), 1);
    QVERIFY(outcome.watch(action));
    started.handler()->executeAction(action);
    if (waitInQueue) {
        const QString queued = QStringLiteral("Request %1 put to queue").arg(id);
        QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(queued); }));
    }
    delete action;
    if (waitInQueue) {
        service.setRemaining(10);
        started.tick();
    }
    QVERIFY(QTest::qWaitFor([&] { return !recorder.reports().isEmpty(); }));
    QCOMPARE(reportsOf(recorder), QStringList{report});
    QVERIFY(outcome.events.isEmpty());
    QCOMPARE(runs(recorder, id), limitUsedUp || !waitInQueue ? 1 : 0);

    // The pool goes on as before.
    service.setRemaining(10);
    recorder.clear();
    QVERIFY(started.execute(outcome, QStringLiteral("next"), 0, QStringLiteral("streams/suggested.json")));
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("next:success")});
    QCOMPARE(runs(recorder, id), 0);
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

// The error text names the address the request went to, but never the token it carried.
void tst_RequestPool::networkErrorTextHidesTheToken()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    sharedEmulator().addFault(Fault::errorStatus(500).times(1));

    ReportRecorder recorder;
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1, QStringLiteral("streams/trending.json"), 1));
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:error")});
    QCOMPARE(requestsTo(QStringLiteral("streams/trending.json")).at(0).queryValue("access_token"), started.token());
    QCOMPARE(outcome.error.status, -1);
    QCOMPARE(outcome.error.errorText, QStringLiteral("Error transferring ") + apiUrl(QStringLiteral("streams/trending.json"))
                                          + QStringLiteral("?access_token=*** - server replied: Internal Server Error"));
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_RequestPool)
#include "tst_requestpool.moc"
