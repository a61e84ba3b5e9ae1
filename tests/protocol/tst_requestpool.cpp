#include "dialogplayer.h"
#include "protocolfixture.h"

#include <kelvar/notifications.h>
#include <kelvar/pooltimer.h>
#include <kelvar/preferences.h>

#include <QtCore/QPointer>
#include <QtNetwork/QTcpServer>
#include <QtTest/QtTest>

#include <cmath>
#include <memory>
#include <vector>

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

// "remaining of limit, reset +seconds after the date", as a host's status bar would read it.
QString budgetText(RequestPool* pool, const QDateTime& date)
{
    const Ventari::RequestBudget budget = pool->budget();
    const QString reset = budget.resetTime.isNull() ? QStringLiteral("none") : QString::asprintf("%+lld", date.secsTo(budget.resetTime));
    return QStringLiteral("%1 of %2, reset %3, period %4").arg(budget.remaining).arg(budget.limit).arg(reset).arg(budget.period);
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
    void aHeldUrgentRequestLeavesAfterItsOwner();
    void aRefusalWithoutTheTokenKeepsANewSignIn();
    void authenticationRequired_data();
    void authenticationRequired();
    void actionGoneIsDropped_data();
    void actionGoneIsDropped();
    void repliesOutOfOrderAreMatchedByTheirIds();
    void networkErrorTextHidesTheToken();
    void aSilentServiceFailsTheRequest();
    void turnsGoRoundTheOwners_data();
    void turnsGoRoundTheOwners();
    void anOwnerOnScreenGoesFirstAndARetryWaits();
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

    // The subscription to "authorizationChanged" follows the state from now on; each new period
    // is reported to the host once.
    QStringList reported;
    QObject listener;
    connect(pool, &RequestPool::budgetChanged, &listener, [&] { reported << budgetText(pool, serverDate); });
    host.authorization()->resetToken();
    QCOMPARE(period(pool), 20000);
    QCOMPARE(reported, QStringList{QStringLiteral("-1 of -1, reset none, period 20000")});
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
    QVERIFY(runs(recorder, 0));
    QVERIFY(outcome.waitForEvents(1));
    QVERIFY(started.execute(outcome, QStringLiteral("first"), 1, QStringLiteral("streams/suggested.json")));
    QVERIFY(runs(recorder, 1));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(2));

    // 2 waits for a tick and starts the stopped timer with the current period.
    QPointer<ProbeAction> cancelled = new ProbeAction(2);
    QVERIFY(outcome.watch(cancelled, QStringLiteral("cancelled")));
    started.handler()->executeAction(cancelled);
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 2 put to queue")));
    QVERIFY(!runs(recorder, 2));
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
    QVERIFY(!runs(recorder, 2));
    QVERIFY(runs(recorder, 3));
    QVERIFY(!runs(recorder, 4));
    QVERIFY(pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(3));
    QVERIFY(QTest::qWaitFor([&] { return cancelled.isNull(); }));
    // The tick that empties queues 0 to 2 stops the timer.
    started.tick();
    QVERIFY(runs(recorder, 4));
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    started.tick();
    QVERIFY(!runs(recorder, 5));
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
    QTest::addColumn<QString>("budget");      // as the last report gave it, refused or answered
    QTest::addColumn<QStringList>("errors");  // beginnings of the level-3 records, in order
    QTest::addColumn<QString>("resetShown");  // not empty: refused, the limit notification shows this time
    QTest::addColumn<QDateTime>("wallClock"); // its date and time: the user's clock at the reset

    const QString wrongSeconds = QStringLiteral("Wrong remain seconds to reset request counter:");
    const QString wrongRemaining = QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Remaining");
    auto row = [&](const char* name, int remainingBefore, int resetAfter, int defect, const char* budget,
                   const QStringList& errors, const QDateTime& date = serverDate) -> QTestData& {
        return QTest::newRow(name) << date << remainingBefore << resetAfter << defect << QString::fromLatin1(budget) << errors;
    };
    auto plain = [&](const char* name, int remainingBefore, int resetAfter, int defect, const char* budget,
                     const QStringList& errors, const QDateTime& date = serverDate) {
        row(name, remainingBefore, resetAfter, defect, budget, errors, date) << QString() << QDateTime();
    };
    // What remains beyond the reserve (20: a tenth of 200) is spread until the reset.
    plain("50 left, reset in 100 s", 51, 100, -1, "50 of 200, reset +100, period 3334", {});
    plain("one beyond the reserve", 22, 100, -1, "21 of 200, reset +100, period 100000", {});
    plain("at most two a second", 200, 60, -1, "199 of 200, reset +60, period 500", {});
    // The reserve is for the user's own actions: nothing periodic goes before the reset.
    plain("the reserve left", 21, 100, -1, "20 of 200, reset +100, period 102000", {});
    plain("0 left on success", 1, 100, -1, "0 of 200, reset +100, period 102000", {});
    // The longest period: an hour and the margin.
    plain("reset past an hour waits the longest period", 2, 4000, -1, "1 of 200, reset +4000, period 3602000", {wrongSeconds});
    plain("reset 4294966 s ahead does not wrap", 2, 4294966, -1, "1 of 200, reset +4294966, period 3602000", {wrongSeconds});
    plain("reset before the date", 6, -10, -1, "5 of 200, reset -10, period 2000",
          {wrongSeconds + QStringLiteral("server time isTue Dec 5 14:03:00 2023 GMT"
                                         "reseting time isTue Dec 5 14:02:50 2023 GMT"
                                         "remain seconds is-10")});
    // Without the headers and with the period as it was, there is nothing to report.
    plain("headers missing", 51, 100, -2, "", {});
    plain("remaining not a number", 51, 100, int(HeaderDefect::NonNumericRemaining), "-1 of 200, reset +100, period 20000",
          {wrongRemaining, wrongRemaining});
    plain("reset not a number", 51, 100, int(HeaderDefect::NonNumericReset), "50 of 200, reset none, period 500",
          {QStringLiteral("Wrong Network reply header. Can not make X-RateLimit-Reset"), wrongSeconds});
    // Then the most remaining seen stands in for it: 51 in the window, a reserve of 6.
    plain("limit not told", 51, 100, int(HeaderDefect::LimitMissing), "50 of -1, reset +100, period 2273", {});
    plain("date with a zone offset", 51, 100, int(HeaderDefect::DateWithZoneOffset), "50 of 200, reset +100, period 500",
          {QStringLiteral("Unknown format of server date:Tue, 05 Dec 2023 14:03:00 +0000")});
    // Europe/Berlin skips from 02:00 to 03:00 that night; the digits are GMT all the same.
    const QDateTime berlinGap(QDate(2024, 3, 31), QTime(2, 30), Qt::UTC);
    plain("date inside Berlin's spring-forward hour", 2, 60, -1, "1 of 200, reset +60, period 62000", {}, berlinGap);

    // The user's wall clock as his locale writes it short (the runs differ in locale; C shows seconds).
    auto shortTime = [](const QTime& time) { return QLocale().toString(time, QLocale::ShortFormat); };
    const QDate day(2023, 12, 5);
    row("refused, reset in 30 s", 0, 30, -1, "0 of 200, reset +30, period 30000", {})
        << shortTime(QTime(23, 3, 30)) << QDateTime(day, QTime(23, 3, 30));
    // Logged twice for the refusal, once for the answer after the tick.
    row("refused, reset before the date lasts 1 s", 0, -10, -1, "0 of 200, reset -10, period 1000",
        {wrongSeconds, wrongSeconds, wrongSeconds})
        << shortTime(QTime(23, 2, 50)) << QDateTime(day, QTime(23, 2, 50));
    row("refused, reset 3000000 s ahead does not wrap", 0, 3000000, -1, "0 of 200, reset +3000000, period 3602000",
        {wrongSeconds, wrongSeconds, wrongSeconds})
        << shortTime(QTime(16, 23)) << QDateTime(QDate(2024, 1, 9), QTime(16, 23));
    row("refused, date inside Berlin's spring-forward hour", 0, 30, -1, "0 of 200, reset +30, period 30000", {}, berlinGap)
        << shortTime(QTime(11, 30, 30)) << QDateTime(QDate(2024, 3, 31), QTime(11, 30, 30));
    // 17:30 UTC is 02:30 on the user's clock, an hour that the machine's clock in Berlin skips.
    row("refused, the user's clock inside Berlin's spring-forward hour", 0, 30, -1, "0 of 200, reset +30, period 30000", {},
        QDateTime(QDate(2024, 3, 30), QTime(17, 29, 30), Qt::UTC))
        << shortTime(QTime(2, 30)) << QDateTime(QDate(2024, 3, 31), QTime(2, 30));
}

void tst_RequestPool::periodFromRateLimitHeaders()
{
    QFETCH(QDateTime, date);
    QFETCH(int, remainingBefore);
    QFETCH(int, resetAfter);
    QFETCH(int, defect);
    QFETCH(QString, budget);
    QFETCH(QStringList, errors);
    QFETCH(QString, resetShown);
    QFETCH(QDateTime, wallClock);

    StartedHost started(true);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    QCOMPARE(budgetText(pool, date), QStringLiteral("-1 of -1, reset none, period 10000"));
    Emulator::Service& service = sharedEmulator();
    service.setServerTime(date.toSecsSinceEpoch());
    service.setResetTime(date.toSecsSinceEpoch() + resetAfter);
    service.setRemaining(remainingBefore);
    if (defect == -2)
        service.addFault(Fault::missingRateLimitHeaders());
    else if (defect >= 0)
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect(defect)));

    ReportRecorder recorder;
    QSignalSpy limitSignal(pool, SIGNAL(outOfRequests(QDateTime)));
    QStringList reported; // the budget as each report found it
    Outcome outcome;
    connect(pool, &RequestPool::budgetChanged, &outcome, [&] { reported << budgetText(pool, date); });
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1));
    if (!resetShown.isEmpty()) {
        QVERIFY(QTest::qWaitFor([&] { return pool->isOutOfRequests(); }));
        QCOMPARE(started.host().notifications()->events().size(), 1);
        QCOMPARE(started.host().notifications()->events().at(0)->text(),
                 QStringLiteral("Requests limit exceeded. Please wait until ") + resetShown + QLatin1Char('.'));
        QCOMPARE(reported.last(), budget);
        // The user's wall clock, and still the moment of the reset.
        QCOMPARE(limitSignal.size(), 1);
        const QDateTime shown = limitSignal.at(0).at(0).toDateTime();
        QCOMPARE(shown.date(), wallClock.date());
        QCOMPARE(shown.time(), wallClock.time());
        QCOMPARE(shown.toUTC(), date.addSecs(resetAfter));
        // The tick ends the period, says so, and sends the refused request again.
        service.setRemaining(10);
        reported.clear();
        started.tick();
        QCOMPARE(::period(pool), 10000);
        QVERIFY(reported.value(0).endsWith(QStringLiteral("period 10000")));
    }
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    if (resetShown.isEmpty()) {
        QCOMPARE(reported.value(reported.size() - 1), budget);
        QCOMPARE(::period(pool), budget.isEmpty() ? 10000 : budget.section(QStringLiteral("period "), 1).toInt());
        QVERIFY(started.host().notifications()->events().isEmpty());
        QVERIFY(limitSignal.isEmpty());
    }
    QVERIFY(!pool->isOutOfRequests());
    const QStringList logged = errorRecords(recorder);
    QCOMPARE(logged.size(), errors.size());
    for (int i = 0; i < errors.size(); ++i)
        QVERIFY2(logged.at(i).startsWith(errors.at(i)), qPrintable(logged.at(i)));
    QVERIFY(recorder.reports().isEmpty());
}

// A refusal for the limit starts the period; every request refused or given during it, an urgent
// one too, is held for the tick that ends it, so that none is sent only to be refused.
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
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 0));
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
    QCOMPARE(poolRecords(recorder).count(QStringLiteral("New request 0. Priority:0. Type:ProtocolTest::ProbeAction")), 2);

    // The second refusal adds nothing but its own place in the queue; neither is sent again yet.
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 1 put to queue")); }));
    QCOMPARE(runs(recorder, 0), 1);
    QCOMPARE(runs(recorder, 1), 1);
    QCOMPARE(started.host().notifications()->events().size(), 1);
    QCOMPARE(poolSignal.count(), 1);
    QVERIFY(outcome.events.isEmpty());

    // Until the tick, 0 and 1 wait.
    service.setRemaining(10);
    QVERIFY(started.execute(outcome, QStringLiteral("c"), 0, QStringLiteral("streams/charts.json")));
    QVERIFY(started.execute(outcome, QStringLiteral("d"), 1, QStringLiteral("streams/symbol/AAPL.json")));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 2 put to queue")));
    QVERIFY(poolRecords(recorder).contains(QStringLiteral("Request 3 put to queue")));
    QCoreApplication::processEvents();
    QVERIFY(!runs(recorder, 2));
    QVERIFY(outcome.events.isEmpty());

    // The tick ends the period: base period, and all that was held goes together.
    started.tick();
    QVERIFY(!pool->isOutOfRequests());
    QCOMPARE(period(pool), 20000);
    QVERIFY(!pool->isTimerActive());
    QVERIFY(outcome.waitForEvents(4));
    QCOMPARE(outcome.events.filter(QStringLiteral(":success")).size(), 4);
    QCOMPARE(runs(recorder, 0), 2);
    QCOMPARE(runs(recorder, 1), 2);
    QCOMPARE(runs(recorder, 2), 1);
    const auto sent = requestsTo(QStringLiteral("streams/trending.json"));
    QCOMPARE(sent.size(), std::size_t(2));
    QCOMPARE(sent.at(0).status, 429);
    QCOMPARE(sent.at(1).status, 200);
    // The urgent request given during the period went out once, and was answered.
    const auto urgent = requestsTo(QStringLiteral("streams/charts.json"));
    QCOMPARE(urgent.size(), std::size_t(1));
    QCOMPARE(urgent.at(0).status, 200);
    QCOMPARE(poolSignal.count(), 1);
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(errorRecords(recorder).isEmpty());
}

// A like refused for the limit is held; closing its tab meanwhile does not take it back.
void tst_RequestPool::aHeldUrgentRequestLeavesAfterItsOwner()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    useUpTheLimit();
    ReportRecorder recorder;
    Outcome outcome;
    QPointer<ProbeAction> like = new ProbeAction(0, QStringLiteral("streams/trending.json"), 1);
    QVERIFY(outcome.watch(like, QStringLiteral("like")));
    started.handler()->executeAction(like);
    QVERIFY(QTest::qWaitFor([&] { return poolRecords(recorder).contains(QStringLiteral("Request 0 put to queue")); }));
    like->cancel();

    sharedEmulator().setRemaining(10);
    started.tick();
    QVERIFY(QTest::qWaitFor([&] { return like.isNull(); }));
    const auto sent = requestsTo(QStringLiteral("streams/trending.json"));
    QCOMPARE(sent.size(), std::size_t(2));
    QCOMPARE(sent.at(1).status, 200);
    QCOMPARE(outcome.events, QStringList{QStringLiteral("like:success")});
    QVERIFY(recorder.reports().isEmpty());
}

// A request that went out before the user signed in is refused for want of a token; the user's
// new token was never refused and stays.
void tst_RequestPool::aRefusalWithoutTheTokenKeepsANewSignIn()
{
    StartedHost started(false);
    QVERIFY(started.isStarted());
    sharedEmulator().addFault(Fault::latency(4000).onPath("/api/2/watchlists.json").times(1));
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("lists"), 1, QStringLiteral("watchlists.json"), 2));
    {
        DialogPlayer player(QStringLiteral("approve('alice')"));
        QVERIFY(started.authorization()->authorize());
    }
    QVERIFY(started.authorization()->isAuthorized());
    QVERIFY2(outcome.events.isEmpty(), "the refusal came before the sign-in ended");

    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("lists:error")});
    QCOMPARE(requestsTo(QStringLiteral("watchlists.json")).at(0).status, 401);
    QVERIFY(started.authorization()->isAuthorized());
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

// A service that takes the connection and never answers fails the request after the transfer
// timeout; the pool goes on with the next one.
void tst_RequestPool::aSilentServiceFailsTheRequest()
{
    QTcpServer silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost));
    StartedHost started(false);
    QVERIFY(started.isStarted());
    started.pool()->setTransferTimeout(300);

    Outcome outcome;
    auto* action = new ProbeAction(1, QStringLiteral("streams/trending.json"), 1);
    action->setAddress(QUrl(QStringLiteral("http://127.0.0.1:%1/api/2/streams/trending.json").arg(silent.serverPort())));
    QVERIFY(outcome.watch(action, QStringLiteral("silent")));
    started.handler()->executeAction(action);
    QVERIFY(outcome.waitForEvents(1));
    QCOMPARE(outcome.events, QStringList{QStringLiteral("silent:error")});
    QVERIFY(silent.hasPendingConnections());

    QVERIFY(started.execute(outcome, QStringLiteral("next"), 1));
    QVERIFY(outcome.waitForEvents(2));
    QCOMPARE(outcome.events.last(), QStringLiteral("next:success"));
}

void tst_RequestPool::turnsGoRoundTheOwners_data()
{
    QTest::addColumn<QList<qreal>>("weights");  // one owner each: a, b, c...
    QTest::addColumn<QString>("onScreen");      // owners on screen from the start
    QTest::addColumn<int>("turns");
    QTest::addColumn<QString>("served");        // how often each was served, in order

    QTest::newRow("equal weights take turns") << QList<qreal>{1, 1, 1} << QString() << 30 << "10 10 10";
    QTest::newRow("weights 1, 2 and 4") << QList<qreal>{1, 2, 4} << QString() << 70 << "10 20 40";
    QTest::newRow("on screen counts double") << QList<qreal>{1, 1} << "a" << 30 << "20 10";
    QTest::newRow("no weight, or a broken one, counts as 1") << QList<qreal>{0, qQNaN(), -3, 1} << QString() << 40 << "10 10 10 10";
}

// Each owner has one request queued at a time, answered at once and given again, as a model's
// refresh chain does.
void tst_RequestPool::turnsGoRoundTheOwners()
{
    QFETCH(QList<qreal>, weights);
    QFETCH(QString, onScreen);
    QFETCH(int, turns);
    QFETCH(QString, served);

    std::vector<std::unique_ptr<QObject>> owners;
    std::vector<std::unique_ptr<ProbeAction>> actions;
    QList<Ventari::PooledRequest> queue;
    auto give = [&](int owner, qint64 notBefore) {
        Ventari::RefreshTurn turn;
        turn.owner = owners.at(std::size_t(owner)).get();
        turn.weight = weights.at(owner);
        turn.onScreen = onScreen.contains(QLatin1Char('a' + owner));
        actions.push_back(std::make_unique<ProbeAction>(2));
        actions.back()->setRefreshTurn(turn);
        actions.back()->setObjectName(QString(QLatin1Char('a' + owner)));
        Ventari::PooledRequest request;
        request.action = actions.back().get();
        request.id = int(actions.size());
        request.notBefore = notBefore;
        queue.append(request);
    };
    for (int i = 0; i < weights.size(); ++i) {
        owners.push_back(std::make_unique<QObject>());
        give(i, 0);
    }

    Ventari::RefreshRound round;
    QVector<int> counts(weights.size(), 0);
    QString order;
    for (int turn = 0; turn < turns; ++turn) {
        const int next = round.next(queue, turn);
        QVERIFY(next >= 0);
        const int owner = queue.takeAt(next).action->objectName().at(0).toLatin1() - 'a';
        ++counts[owner];
        order += QLatin1Char('a' + owner);
        give(owner, 0);
    }
    QStringList countTexts;
    for (int count : counts)
        countTexts << QString::number(count);
    QCOMPARE(countTexts.join(QLatin1Char(' ')), served);
    // Spread out, not served in runs: an owner of the lightest weight is never left out of a round
    // of as many turns as the weights add up to.
    qreal total = 0;
    for (qreal weight : weights)
        total += std::isfinite(weight) && weight > 0 ? weight : 1;
    total *= onScreen.isEmpty() ? 1 : 2;
    const int round_ = int(std::ceil(total));
    for (int i = 0; i + round_ <= order.size(); ++i) {
        for (int owner = 0; owner < weights.size(); ++owner)
            QVERIFY2(order.mid(i, round_).contains(QLatin1Char('a' + owner)), qPrintable(order));
    }
}

// An owner coming on screen goes next; a retry waits for its moment, and then takes its turn.
void tst_RequestPool::anOwnerOnScreenGoesFirstAndARetryWaits()
{
    QObject a, b, c;
    ProbeAction forA(2), forB(2), forC(2);
    auto turnOf = [](QObject* owner, bool onScreen) {
        Ventari::RefreshTurn turn;
        turn.owner = owner;
        turn.onScreen = onScreen;
        return turn;
    };
    forA.setRefreshTurn(turnOf(&a, false));
    forB.setRefreshTurn(turnOf(&b, false));
    forC.setRefreshTurn(turnOf(&c, false));
    QList<Ventari::PooledRequest> queue;
    for (ProbeAction* action : {&forA, &forB, &forC}) {
        Ventari::PooledRequest request;
        request.action = action;
        request.id = queue.size();
        queue.append(request);
    }
    queue[1].notBefore = 1000;

    Ventari::RefreshRound round;
    QCOMPARE(round.next(queue, 0), 0); // a; b waits for its retry
    forC.setRefreshTurn(turnOf(&c, true));
    QCOMPARE(round.next(queue, 0), 2); // c came on screen: before a, served once already
    queue.removeAt(2);
    QCOMPARE(round.next(queue, 999), 0);
    QCOMPARE(round.next(queue, 1000), 1); // b's moment came; it was waiting the longest
}

QTEST_MAIN(tst_RequestPool)
#include "tst_requestpool.moc"
