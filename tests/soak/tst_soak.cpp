#include "actionledger.h"
#include "faultphase.h"
#include "protocolfixture.h"
#include "soakmodel.h"

#include "actions/ventariuserinfoaction.h"
#include "ventaristreamshandler.h"

#include <kelvar/notifications.h>
#include <kelvar/preferences.h>

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

#include <memory>
#include <vector>

using namespace ProtocolTest;
using namespace Soak;
using Ventari::VentariAbstractAction;

namespace {

// Streams of the host's registry, with the values the host's windows show them for, in turn.
const SoakStream streams[] = {
    {"symbol", "AAPL"},
    {"user", "carol"},
    {"home", {}},
    {"trending", {}},
    {"symbol", "RY.CA"},
    {"mentions", {}},
    {"charts", {}},
    {"symbol", "EURUSD"},
    {"user", "bob"},
    {"friends", {}},
    {"suggested", {}},
    {"watchlist", "9"},
};
const int streamCount = int(sizeof streams / sizeof streams[0]);
const int openWindows = 4;
const int firstMessageId = 10001;

// Attempts the pool sent, and attempts answered or failed, by its own records.
int count(const ReportRecorder& recorder, const QRegularExpression& pattern)
{
    return poolRecords(recorder).filter(pattern).size();
}

int sent(const ReportRecorder& recorder)
{
    static const QRegularExpression ran(QStringLiteral("^Request \\d+ ran\\. Url:"));
    return count(recorder, ran);
}

// Every attempt on its way has come back; queued requests may still wait for a tick.
bool settle(const ReportRecorder& recorder)
{
    static const QRegularExpression back(QStringLiteral("^Request \\d+(\\. Response received\\.|Error Response)$"));
    return QTest::qWaitFor([&] { return sent(recorder) == count(recorder, back); }, 15000);
}

// How often the service has refused a request for that path for the limit.
int refusals(const std::string& path)
{
    int count = 0;
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests())
        count += request.path == path && request.status == 429;
    return count;
}

QString joined(const QStringList& lines)
{
    return lines.join(QStringLiteral("\n"));
}

} // namespace

// The real pool and handler carrying a few models' worth of stream loads, likes and user-info
// requests, round after round, while the service misbehaves in every way it can: every action is
// answered once and deleted, nothing is reported that the round's faults do not explain, and the
// pool still paces afterwards.
class tst_Soak : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void soak_data();
    void soak();
};

void tst_Soak::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
    Kelvar::Preferences::instance()->setLocalTimeZoneId("Asia/Tokyo");
}

void tst_Soak::init()
{
    resetEmulator();
}

void tst_Soak::soak_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QVector<int>>("schedule"); // a Phase per round

    auto rounds = [](std::initializer_list<Phase> phases) {
        QVector<int> schedule;
        for (const Phase phase : phases)
            schedule << int(phase);
        return schedule;
    };
    QTest::newRow("signed in") << true
                               << rounds({Phase::Calm, Phase::Latency, Phase::ServerErrors, Phase::MalformedBodies,
                                          Phase::Calm, Phase::MissingHeaders, Phase::BrokenRemaining, Phase::BrokenReset,
                                          Phase::BrokenDate, Phase::DroppedConnections, Phase::LimitReached, Phase::Calm,
                                          Phase::FarFutureReset, Phase::ServerErrors, Phase::FarFutureLimit,
                                          Phase::MalformedBodies, Phase::TokenRevoked, Phase::Latency,
                                          Phase::DroppedConnections, Phase::LimitReached, Phase::Calm, Phase::Calm});
    QTest::newRow("signed out") << false
                                << rounds({Phase::Calm, Phase::DroppedConnections, Phase::MalformedBodies,
                                           Phase::LimitReached, Phase::Latency, Phase::BrokenDate, Phase::ServerErrors,
                                           Phase::Calm, Phase::FarFutureLimit, Phase::MissingHeaders, Phase::BrokenReset,
                                           Phase::Calm, Phase::BrokenRemaining, Phase::FarFutureReset,
                                           Phase::DroppedConnections, Phase::Calm});
}

void tst_Soak::soak()
{
    QFETCH(bool, signedIn);
    QFETCH(QVector<int>, schedule);

    Ventari::VentariStreamsHandler registry;
    StartedHost started(signedIn);
    QVERIFY(started.isStarted());
    QCoreApplication::processEvents(); // the watch-list stream's queued start
    Emulator::Service& service = sharedEmulator();
    ReportRecorder recorder;
    ActionLedger ledger;

    // Models in the order they opened; the last openWindows of them are open.
    std::vector<std::unique_ptr<SoakModel>> models;
    auto open = [&](const SoakStream& stream) {
        models.push_back(std::make_unique<SoakModel>(stream, started.handler(), ledger));
        models.back()->start();
    };
    for (int i = 0; i < openWindows; ++i)
        open(streams[i]);

    int limitPeriods = 0;
    int recordsSeen = 0;
    for (int round = 0; round < schedule.size(); ++round) {
        FaultPhase phase(Phase(schedule.at(round)), service);
        const QByteArray where = QStringLiteral("round %1 (%2)").arg(round).arg(phase.name()).toUtf8();
        phase.begin(started.token());

        // A window turns to another stream, now and then the user's record is asked for, and a
        // message is liked or unliked.
        models.at(round)->close();
        open(streams[(openWindows + round) % streamCount]);
        if (round % 5 == 2) {
            auto* info = new Ventari::VentariUserInfoAction;
            QVERIFY(ledger.track(info, QStringLiteral("user info"), SIGNAL(userInfoReceived(const UserInfo&))));
            started.handler()->executeAction(info);
        }
        // The revocation meets several requests made with the token on their way.
        if (Phase(schedule.at(round)) == Phase::TokenRevoked) {
            for (int i = 0; i < 3; ++i)
                open(streams[0]);
        }
        SoakModel& liker = *models.at(round + 1 + round % openWindows);
        const int messageId = firstMessageId + round;
        const bool unlike = round % 2 == 1;

        if (phase.refusesAll()) {
            // Every refusal of the requests that opened the period is in before the urgent one comes.
            QVERIFY2(QTest::qWaitFor([&] { return started.pool()->isOutOfRequests(); }, 15000), where);
            QVERIFY2(settle(recorder), where);
            const std::string likePath = unlike ? "/api/2/messages/unlike.json" : "/api/2/messages/like.json";
            const int refusedBefore = refusals(likePath);
            liker.like(messageId, unlike);
            QVERIFY2(QTest::qWaitFor([&] { return refusals(likePath) > refusedBefore; }, 15000), where);
            // The limit renews; what was on its way comes back before the tick ends the period.
            ++limitPeriods;
            phase.end();
            QVERIFY2(settle(recorder), where);
            started.tick();
            QVERIFY2(settle(recorder), where);
        } else {
            liker.like(messageId, unlike);
            started.tick();
            QVERIFY2(settle(recorder), where);
            phase.end();
        }

        QStringList unexplained;
        const QList<Corvane::LogRecord>& records = recorder.records();
        for (; recordsSeen < records.size(); ++recordsSeen) {
            const Corvane::LogRecord& record = records.at(recordsSeen);
            if (record.level >= 3 && !phase.explains(record))
                unexplained << record.message;
        }
        QVERIFY2(unexplained.isEmpty(), where + '\n' + joined(unexplained).toUtf8());
        QVERIFY2(recorder.reports().isEmpty(), where + '\n' + joined(recorder.reportTexts()).toUtf8());
    }

    // Closing every window cancels the refreshes still queued; the next tick drops them.
    for (const auto& model : models)
        model->close();
    started.tick();
    QVERIFY(settle(recorder));
    QVERIFY(!started.pool()->isOutOfRequests());

    // The pool still paces: a refresh waits for the tick and leaves at it.
    VentariAbstractAction* refresh = newStreamLoad(streams[0], 2);
    QVERIFY(ledger.track(refresh, QStringLiteral("pacing"), streamLoadResult));
    const int resultsBefore = ledger.results();
    const int sentBefore = sent(recorder);
    started.handler()->executeAction(refresh);
    QCOMPARE(sent(recorder), sentBefore);
    QVERIFY(started.pool()->isTimerActive());
    QVERIFY2(started.pool()->timerInterval() >= 5000 && started.pool()->timerInterval() <= 3602000,
             qPrintable(QString::number(started.pool()->timerInterval())));
    started.tick();
    QCOMPARE(sent(recorder), sentBefore + 1);
    QVERIFY(settle(recorder));
    QCOMPARE(ledger.results(), resultsBefore + 1);

    const bool allGone = QTest::qWaitFor([&] { return ledger.alive() == 0; }, 15000);
    QVERIFY2(ledger.violations().isEmpty(), qPrintable(joined(ledger.violations())));
    QVERIFY(allGone);
    for (const auto& model : models)
        QVERIFY(model->isFollowed());
    QVERIFY(recorder.reports().isEmpty());
    // One notification for each period the limit was reached, and the faults did reach the actions.
    QCOMPARE(started.host().notifications()->events().size(), limitPeriods);
    qInfo("%d actions: %d results, %d network errors, %d undecodable replies, %d sent, %d limit periods",
          ledger.tracked(), ledger.results(), ledger.errors(-1), ledger.errors(-2), sent(recorder), limitPeriods);
    QVERIFY(ledger.errors(-1) > 0);
    QVERIFY(ledger.errors(-2) > 0);
    QVERIFY(ledger.results() > 0);
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
