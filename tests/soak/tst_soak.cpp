#include "protocolfixture.h"

#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventaristreamaction.h"
#include "actions/ventariuserinfoaction.h"
#include "ventaristreamshandler.h"

#include <kelvar/notifications.h>
#include <kelvar/preferences.h>

#include <QtCore/QRegularExpression>
#include <QtTest/QtTest>

#include <functional>
#include <map>
#include <memory>
#include <vector>

using namespace ProtocolTest;
using Emulator::Fault;
using Emulator::HeaderDefect;
using Ventari::VentariStreamAction;

namespace {

// Streams of the host's registry, with the values the host's windows show them for, in turn.
const QPair<QByteArray, QByteArray> streams[] = {
    {"symbol", "AAPL"}, {"user", "carol"},   {"home", {}},       {"trending", {}},  {"symbol", "RY.CA"},   {"mentions", {}},
    {"charts", {}},     {"symbol", "EURUSD"}, {"user", "bob"},   {"friends", {}},   {"suggested", {}},    {"watchlist", "9"},
};
const int streamCount = int(sizeof streams / sizeof streams[0]);
const int openWindows = 4;
const int firstMessageId = 10001;

// What became of every action handed out: its signals, how often, and whether it was deleted.
class Ledger : public QObject
{
public:
    struct Entry
    {
        QString name;
        bool cancelled = false; // a cancelled action may be dropped unanswered
        bool deleted = false;
        int successes = 0;
        int results = 0;
        QList<int> errors; // statuses
    };

    // result: the action's own signal that carries its result.
    template <typename Action, typename... Args>
    int track(Action* action, const QString& name, void (Action::*result)(Args...))
    {
        const int i = entries.size();
        entries.append(Entry());
        entries[i].name = QStringLiteral("%1 #%2").arg(name).arg(i);
        connect(action, &Ventari::VentariAbstractAction::success, this, [this, i] { ++entries[i].successes; });
        connect(action, result, this, [this, i] { ++entries[i].results; });
        connect(action, &Ventari::VentariAbstractAction::error, this,
                [this, i](const ResponseError& error) { entries[i].errors << error.status; });
        connect(action, &QObject::destroyed, this, [this, i] { entries[i].deleted = true; });
        return i;
    }
    int sum(const std::function<int(const Entry&)>& of) const
    {
        int total = 0;
        for (const Entry& entry : entries)
            total += of(entry);
        return total;
    }
    int results() const { return sum([](const Entry& e) { return e.results; }); }
    int errors(int status) const { return sum([status](const Entry& e) { return e.errors.count(status); }); }
    // One line for each action answered twice or never, succeeding other than once with its result, or never deleted.
    QStringList violations() const
    {
        QStringList found;
        for (const Entry& e : entries) {
            const int answers = e.results + e.errors.size();
            if (answers > 1 || (answers == 0 && !e.cancelled))
                found << QStringLiteral("%1 answered %2 times").arg(e.name).arg(answers);
            if (e.successes > 1 || (e.results > 0 && e.successes != 1))
                found << QStringLiteral("%1 succeeded %2 times").arg(e.name).arg(e.successes);
            if (!e.deleted)
                found << e.name + QStringLiteral(" was never deleted");
        }
        return found;
    }

    QVector<Entry> entries;
};

VentariStreamAction* newLoad(const QPair<QByteArray, QByteArray>& stream, int priority)
{
    return new VentariStreamAction(Ventari::VentariStreamsHandler::instance()->streamById(stream.first), stream.second, 0,
                                   priority);
}

// One window's stream as a message model keeps it: a first load at once, one refresh at the lowest
// priority after each answered load, and the refresh still queued cancelled when the window closes.
class Window : public QObject
{
public:
    Window(const QPair<QByteArray, QByteArray>& stream, Ventari::VentariActionHandler* handler, Ledger& ledger)
        : m_stream(stream)
        , m_handler(handler)
        , m_ledger(ledger)
    {
        load(1);
    }
    void close()
    {
        m_closed = true;
        if (m_pending) {
            m_pending->cancel();
            m_ledger.entries[m_entry].cancelled = true;
        }
    }

private:
    void load(int priority)
    {
        VentariStreamAction* action = newLoad(m_stream, priority);
        m_entry = m_ledger.track(action, QString::fromUtf8(m_stream.first + ' ' + m_stream.second),
                                 &VentariStreamAction::dataObtained);
        connect(action, &VentariStreamAction::dataObtained, this, &Window::onAnswered);
        connect(action, &VentariStreamAction::error, this, &Window::onAnswered);
        m_pending = action;
        m_handler->executeAction(action);
    }
    void onAnswered()
    {
        if (!m_closed)
            load(2);
    }

    QPair<QByteArray, QByteArray> m_stream;
    Ventari::VentariActionHandler* m_handler;
    Ledger& m_ledger;
    QPointer<VentariStreamAction> m_pending;
    int m_entry = -1;
    bool m_closed = false;
};

// What a round does to the service, and the error records its answers account for: the beginnings
// of their texts, or the functions that wrote them.
struct Phase
{
    std::function<void(Emulator::Service&, const std::string& token)> begin;
    QStringList explained;
    bool refusesAll = false; // the service refuses every request of the round for the rate limit
};

std::function<void(Emulator::Service&, const std::string&)> injecting(const Fault& fault)
{
    return [fault](Emulator::Service& service, const std::string&) { service.addFault(fault); };
}

const std::map<QString, Phase>& phases()
{
    // Years ahead: far past the plausible hour and far past what a period in milliseconds could hold.
    const std::int64_t farAhead = 10LL * 365 * 24 * 3600;
    const QString wrongRemain = QStringLiteral("Wrong remain seconds to reset request counter:");
    static const std::map<QString, Phase> all{
        {"calm", {[](Emulator::Service&, const std::string&) {}, {}}},
        {"latency", {injecting(Fault::latency(150)), {}}},
        {"server errors", {injecting(Fault::errorStatus(503, "Service unavailable")), {}}},
        {"malformed bodies", {injecting(Fault::malformedBody()), {"Common::JsonParser::parseNoThrow"}}},
        {"missing headers", {injecting(Fault::missingRateLimitHeaders()), {}}},
        {"broken remaining",
         {injecting(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericRemaining)),
          {"Wrong Network reply header. Can not make X-RateLimit-Remaining"}}},
        // An unreadable reset reads as the epoch, long before the server's date.
        {"broken reset",
         {injecting(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericReset)),
          {"Wrong Network reply header. Can not make X-RateLimit-Reset", wrongRemain}}},
        {"broken date",
         {injecting(Fault::malformedRateLimitHeader(HeaderDefect::DateWithZoneOffset)), {"Unknown format of server date:"}}},
        {"dropped connections", {injecting(Fault::droppedConnection()), {}}},
        {"limit reached", {[](Emulator::Service& service, const std::string&) { service.setRemaining(0); }, {}, true}},
        {"far-future reset",
         {[=](Emulator::Service& service, const std::string&) { service.setResetTime(service.clock().now() + farAhead); },
          {wrongRemain}}},
        {"far-future limit",
         {[=](Emulator::Service& service, const std::string&) {
              service.setResetTime(service.clock().now() + farAhead);
              service.setRemaining(0);
          },
          {wrongRemain},
          true}},
        {"token revoked",
         {[](Emulator::Service& service, const std::string& token) {
              if (!token.empty())
                  service.revokeToken(token);
          },
          {}}},
    };
    return all;
}

// Attempts the pool sent, by its own records.
int sent(const ReportRecorder& recorder)
{
    static const QRegularExpression ran(QStringLiteral("^Request \\d+ ran\\. Url:"));
    return poolRecords(recorder).filter(ran).size();
}

// Every attempt on its way has come back; queued requests may still wait for a tick.
bool settle(const ReportRecorder& recorder)
{
    static const QRegularExpression back(QStringLiteral("^Request \\d+(\\. Response received\\.|Error Response)$"));
    return QTest::qWaitFor([&] { return sent(recorder) == poolRecords(recorder).filter(back).size(); }, 15000);
}

// How often the service has refused a request for that path for the limit.
int refusals(const std::string& path)
{
    int count = 0;
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests())
        count += request.path == path && request.status == 429;
    return count;
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
    void initTestCase()
    {
        QVERIFY(sharedEmulator().isRunning());
        Kelvar::Preferences::instance()->setLocalTimeZoneId("Asia/Tokyo");
    }
    void init() { resetEmulator(); }

    void soak_data();
    void soak();
};

void tst_Soak::soak_data()
{
    QTest::addColumn<bool>("signedIn");
    QTest::addColumn<QStringList>("schedule"); // a phase per round

    QTest::newRow("signed in") << true
                               << QStringList{"calm", "latency", "server errors", "malformed bodies", "calm",
                                              "missing headers", "broken remaining", "broken reset", "broken date",
                                              "dropped connections", "limit reached", "calm", "far-future reset",
                                              "server errors", "far-future limit", "malformed bodies", "token revoked",
                                              "latency", "dropped connections", "limit reached", "calm", "calm"};
    QTest::newRow("signed out") << false
                                << QStringList{"calm", "dropped connections", "malformed bodies", "limit reached",
                                               "latency", "broken date", "server errors", "calm", "far-future limit",
                                               "missing headers", "broken reset", "calm", "broken remaining",
                                               "far-future reset", "dropped connections", "calm"};
}

void tst_Soak::soak()
{
    QFETCH(bool, signedIn);
    QFETCH(QStringList, schedule);

    Ventari::VentariStreamsHandler registry;
    StartedHost started(signedIn);
    QVERIFY(started.isStarted());
    QCoreApplication::processEvents(); // the watch-list stream's queued start
    Emulator::Service& service = sharedEmulator();
    ReportRecorder recorder;
    Ledger ledger;

    // Windows in the order they opened; the last openWindows of them are open.
    std::vector<std::unique_ptr<Window>> windows;
    auto open = [&](int stream) { windows.push_back(std::make_unique<Window>(streams[stream], started.handler(), ledger)); };
    for (int i = 0; i < openWindows; ++i)
        open(i);

    int limitPeriods = 0;
    int recordsSeen = 0;
    for (int round = 0; round < schedule.size(); ++round) {
        const auto found = phases().find(schedule.at(round));
        QVERIFY2(found != phases().end(), qPrintable(schedule.at(round)));
        const Phase& phase = found->second;
        const QByteArray where = QStringLiteral("round %1 (%2)").arg(round).arg(schedule.at(round)).toUtf8();
        phase.begin(service, started.token());

        // A window turns to another stream, now and then the user's record is asked for, and a
        // message is liked or unliked.
        windows.at(round)->close();
        open((openWindows + round) % streamCount);
        if (round % 5 == 2) {
            auto* info = new Ventari::VentariUserInfoAction;
            ledger.track(info, QStringLiteral("user info"), &Ventari::VentariUserInfoAction::userInfoReceived);
            started.handler()->executeAction(info);
        }
        // The revocation meets several requests made with the token on their way.
        if (schedule.at(round) == QLatin1String("token revoked")) {
            for (int i = 0; i < 3; ++i)
                open(0);
        }
        const bool unlike = round % 2 == 1;
        auto like = [&] {
            auto* action = new Ventari::VentariLikeUnlikeAction(unlike ? 1 : 0, firstMessageId + round);
            ledger.track(action, unlike ? QStringLiteral("unlike") : QStringLiteral("like"),
                         &Ventari::VentariLikeUnlikeAction::done);
            started.handler()->executeAction(action);
        };

        // The limit renews and the faults end; what was on its way comes back before a tick ends an
        // out-of-requests period.
        auto renew = [&] {
            service.clearFaults();
            service.rateLimiter().reset();
        };
        if (phase.refusesAll) {
            // Every refusal of the requests that opened the period is in before the urgent one comes.
            QVERIFY2(QTest::qWaitFor([&] { return started.pool()->isOutOfRequests(); }, 15000), where);
            QVERIFY2(settle(recorder), where);
            const std::string likePath = unlike ? "/api/2/messages/unlike.json" : "/api/2/messages/like.json";
            const int refusedBefore = refusals(likePath);
            // Held for the tick that ends the period, rather than sent to be refused.
            like();
            QVERIFY2(settle(recorder), where);
            QVERIFY2(refusals(likePath) == refusedBefore, where);
            ++limitPeriods;
            renew();
            QVERIFY2(settle(recorder), where);
            started.tick();
            QVERIFY2(settle(recorder), where);
        } else {
            like();
            started.tick();
            QVERIFY2(settle(recorder), where);
            renew();
        }

        QStringList unexplained;
        for (const QList<Corvane::LogRecord>& records = recorder.records(); recordsSeen < records.size(); ++recordsSeen) {
            const Corvane::LogRecord& record = records.at(recordsSeen);
            const bool explained = std::any_of(phase.explained.begin(), phase.explained.end(), [&](const QString& text) {
                return record.message.startsWith(text) || record.function == text;
            });
            if (record.level >= 3 && !explained)
                unexplained << record.message;
        }
        QVERIFY2(unexplained.isEmpty(), where + '\n' + unexplained.join('\n').toUtf8());
        QVERIFY2(recorder.reports().isEmpty(), where + '\n' + recorder.reportTexts().join('\n').toUtf8());
    }

    // Closing every window cancels the refreshes still queued; the next tick drops them.
    for (const auto& window : windows)
        window->close();
    started.tick();
    QVERIFY(settle(recorder));
    QVERIFY(!started.pool()->isOutOfRequests());

    // The pool still paces: a refresh waits for the tick and leaves at it.
    VentariStreamAction* refresh = newLoad(streams[0], 2);
    ledger.track(refresh, QStringLiteral("pacing"), &VentariStreamAction::dataObtained);
    const int resultsBefore = ledger.results();
    const int sentBefore = sent(recorder);
    started.handler()->executeAction(refresh);
    QCOMPARE(sent(recorder), sentBefore);
    QVERIFY(started.pool()->isTimerActive());
    QVERIFY2(started.pool()->timerInterval() >= 500 && started.pool()->timerInterval() <= 3602000,
             qPrintable(QString::number(started.pool()->timerInterval())));
    started.tick();
    QCOMPARE(sent(recorder), sentBefore + 1);
    QVERIFY(settle(recorder));
    QCOMPARE(ledger.results(), resultsBefore + 1);

    auto alive = [&ledger] { return ledger.sum([](const Ledger::Entry& e) { return !e.deleted; }); };
    const bool allGone = QTest::qWaitFor([&] { return alive() == 0; }, 15000);
    QVERIFY2(ledger.violations().isEmpty(), qPrintable(ledger.violations().join('\n')));
    QVERIFY(allGone);
    QVERIFY(recorder.reports().isEmpty());
    // One notification for each period the limit was reached, and the faults did reach the actions.
    QCOMPARE(started.host().notifications()->events().size(), limitPeriods);
    qInfo("%d actions: %d results, %d network errors, %d undecodable replies, %d sent, %d limit periods",
          int(ledger.entries.size()), ledger.results(), ledger.errors(-1), ledger.errors(-2), sent(recorder), limitPeriods);
    QVERIFY(ledger.errors(-1) > 0);
    QVERIFY(ledger.errors(-2) > 0);
    QVERIFY(ledger.results() > 0);
}

QTEST_MAIN(tst_Soak)
#include "tst_soak.moc"
