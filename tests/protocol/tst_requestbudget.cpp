#include "protocolfixture.h"

#include <QtTest/QtTest>

using namespace ProtocolTest;
using Emulator::Fault;
using Emulator::HeaderDefect;
using Ventari::RequestBudget;
using Ventari::RequestPool;

namespace {

// The server's clock in these tests: Tuesday, 5 December 2023, 14:03:00 UTC.
const qint64 serverTime = QDateTime(QDate(2023, 12, 5), QTime(14, 3), Qt::UTC).toSecsSinceEpoch();
const int emulatorLimit = 200;
const int emulatorWindow = 3600;

// Every report the pool gives, as its budget reads at the moment of the signal.
class BudgetLog : public QObject
{
public:
    explicit BudgetLog(RequestPool* pool)
        : m_pool(pool)
    {
        QObject::connect(pool, &RequestPool::budgetChanged, this, [this] { reports.append(m_pool->budget()); });
    }

    QList<RequestBudget> reports;

private:
    RequestPool* m_pool;
};

QString describe(const RequestBudget& budget)
{
    return QStringLiteral("remaining %1, limit %2, reset %3, period %4")
        .arg(budget.remaining)
        .arg(budget.limit)
        .arg(budget.resetTime.isValid() ? budget.resetTime.toString(Qt::ISODate) : QStringLiteral("none"))
        .arg(budget.period);
}

} // namespace

class tst_RequestBudget : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void followsTheServiceHeaders_data();
    void followsTheServiceHeaders();
    void periodChangesAreReported();
};

void tst_RequestBudget::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
}

void tst_RequestBudget::init()
{
    resetEmulator();
    sharedEmulator().rateLimiter().unpinResetTime();
    sharedEmulator().rateLimiter().setLimit(emulatorLimit, emulatorWindow);
}

void tst_RequestBudget::followsTheServiceHeaders_data()
{
    QTest::addColumn<int>("limit");           // the service's limit per window
    QTest::addColumn<int>("remainingBefore"); // the answer reports one less
    QTest::addColumn<int>("resetAfter");      // seconds after the server's "Date"
    QTest::addColumn<int>("defect");          // -1: none, -2: rate-limit headers missing, else a HeaderDefect
    QTest::addColumn<int>("remaining");
    QTest::addColumn<int>("reportedLimit");
    QTest::addColumn<bool>("resetReported");
    QTest::addColumn<int>("period");
    QTest::addColumn<int>("errorRecords"); // the pool's own, for an unreadable header

    QTest::newRow("50 of 150 left, reset in 100 s") << 150 << 51 << 100 << -1 << 50 << 150 << true << 5000 << 0;
    QTest::newRow("10 of 300 left, reset in 100 s") << 300 << 11 << 100 << -1 << 10 << 300 << true << 12000 << 0;
    QTest::newRow("limit not told") << 150 << 51 << 100 << int(HeaderDefect::LimitMissing) << 50 << -1 << true << 5000 << 0;
    QTest::newRow("remaining unreadable")
        << 150 << 51 << 100 << int(HeaderDefect::NonNumericRemaining) << -1 << 150 << true << 20000 << 2;
    QTest::newRow("headers missing") << 150 << 51 << 100 << -2 << -1 << -1 << false << 10000 << 0;
    QTest::newRow("refused, reset in 30 s") << 150 << 0 << 30 << -1 << 0 << 150 << true << 30000 << 0;
}

void tst_RequestBudget::followsTheServiceHeaders()
{
    QFETCH(int, limit);
    QFETCH(int, remainingBefore);
    QFETCH(int, resetAfter);
    QFETCH(int, defect);
    QFETCH(int, remaining);
    QFETCH(int, reportedLimit);
    QFETCH(bool, resetReported);
    QFETCH(int, period);
    QFETCH(int, errorRecords);

    Emulator::Service& service = sharedEmulator();
    service.rateLimiter().setLimit(limit, emulatorWindow);
    StartedHost started(true);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    // Nothing reported yet: the user-info answer of the start carried no rate-limit headers.
    QCOMPARE(pool->budget().remaining, -1);
    QCOMPARE(pool->budget().limit, -1);
    QVERIFY(pool->budget().resetTime.isNull());
    QCOMPARE(pool->budget().period, 10000);

    service.setServerTime(serverTime);
    service.setResetTime(serverTime + resetAfter);
    service.setRemaining(remainingBefore);
    if (defect == -2)
        service.addFault(Fault::missingRateLimitHeaders());
    else if (defect >= 0)
        service.addFault(Fault::malformedRateLimitHeader(HeaderDefect(defect)));

    ReportRecorder recorder;
    BudgetLog log(pool);
    Outcome outcome;
    QVERIFY(started.execute(outcome, QStringLiteral("a"), 1));
    const bool refused = remainingBefore == 0;
    if (refused)
        QVERIFY(QTest::qWaitFor([&] { return pool->isOutOfRequests(); }));
    else
        QVERIFY(outcome.waitForEvents(1));

    const RequestBudget budget = pool->budget();
    QCOMPARE(budget.remaining, remaining);
    QCOMPARE(budget.limit, reportedLimit);
    QCOMPARE(budget.resetTime, resetReported ? QDateTime::fromSecsSinceEpoch(serverTime + resetAfter, Qt::UTC) : QDateTime());
    QCOMPARE(budget.period, period);
    QCOMPARE(budget.period, pool->timerInterval());
    // A reply without the headers that leaves the period as it was is no news.
    QCOMPARE(log.reports.isEmpty(), defect == -2);
    if (!log.reports.isEmpty())
        QCOMPARE(describe(log.reports.last()), describe(budget));
    QCOMPARE(ProtocolTest::errorRecords(recorder).size(), errorRecords);

    if (refused) {
        // The tick that ends the out-of-requests period restores the base period and says so.
        log.reports.clear();
        service.setRemaining(10);
        started.tick();
        QVERIFY(!log.reports.isEmpty());
        QCOMPARE(log.reports.first().period, 10000);
        QVERIFY(outcome.waitForEvents(1));
        QCOMPARE(pool->budget().remaining, 9);
    }
    QCOMPARE(outcome.events, QStringList{QStringLiteral("a:success")});
    QVERIFY(recorder.reports().isEmpty());
}

void tst_RequestBudget::periodChangesAreReported()
{
    StartedHost started(true);
    QVERIFY(started.isStarted());
    RequestPool* pool = started.pool();
    ReportRecorder recorder;
    BudgetLog log(pool);

    started.authorization()->resetToken();
    QCOMPARE(log.reports.size(), 1);
    QCOMPARE(log.reports.at(0).period, 20000);
    QCOMPARE(log.reports.at(0).remaining, -1);

    // The same period again is no change.
    QMetaObject::invokeMethod(pool, "updateTimerBasedOnAuthorization");
    QCOMPARE(log.reports.size(), 1);
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_RequestBudget)
#include "tst_requestbudget.moc"
