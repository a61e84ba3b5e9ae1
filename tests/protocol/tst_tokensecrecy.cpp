#include "dialogplayer.h"
#include "protocolfixture.h"

#include <corvane/corvanesink.h>

#include <QtTest/QtTest>

using namespace ProtocolTest;
using Emulator::Fault;

// Real authorized traffic, refusals and a new authorization, with the host's own log sink at its most
// talkative: no issued token may reach its output, its files or an error text the user could see.
class tst_TokenSecrecy : public QObject
{
    Q_OBJECT

private slots:
    void issuedTokensAppearNowhere();

private:
    // Hands probes to the handler and waits until each has answered.
    bool run(StartedHost& started, const QList<QPair<QString, int>>& pathsAndModes);

    Outcome m_outcome;
};

bool tst_TokenSecrecy::run(StartedHost& started, const QList<QPair<QString, int>>& pathsAndModes)
{
    const int answered = m_outcome.events.size() + pathsAndModes.size();
    for (const auto& pathAndMode : pathsAndModes) {
        auto* action = new ProbeAction(1, pathAndMode.first, pathAndMode.second);
        if (!m_outcome.watch(action, pathAndMode.first))
            return false;
        started.handler()->executeAction(action);
    }
    return m_outcome.waitForEvents(answered);
}

void tst_TokenSecrecy::issuedTokensAppearNowhere()
{
    resetEmulator();
    Emulator::Service& service = sharedEmulator();
    QTemporaryDir dir;
    const QString logFile = dir.filePath(QStringLiteral("logs/corvane.log"));
    MessageCapture output;
    Corvane::DefaultSink sink(logFile);
    Corvane::ScopedSink scope(&sink);
    // Every level: addresses and whole reply bodies too.
    Corvane::setDefaultLogThreshold(1);

    QStringList tokens;
    {
        // "Token Loaded:" at start-up, then the user-info request with the token.
        StartedHost started(true);
        QVERIFY(started.isStarted());
        tokens << text(started.token());

        const QString trending = QStringLiteral("streams/trending.json");
        const QString suggested = QStringLiteral("streams/suggested.json");
        const QString watchLists = QStringLiteral("watchlists.json");
        service.addFault(Fault::errorStatus(500).onPath("/api/2/" + suggested.toStdString()).times(1));
        service.addFault(Fault::errorStatus(404, "Not found").onPath("/api/2/streams/charts.json").times(1));
        service.addFault(Fault::droppedConnection().onPath("/api/2/streams/symbol/AAPL.json").times(1));
        service.addFault(Fault::malformedBody().onPath("/api/2/streams/user/bob.json").times(1));
        QVERIFY(run(started, {{trending, 1}, {suggested, 1}, {QStringLiteral("streams/charts.json"), 1},
                              {QStringLiteral("streams/symbol/AAPL.json"), 1}, {QStringLiteral("streams/user/bob.json"), 1},
                              {watchLists, 2}}));

        // Revoked: both are refused with it, one goes out again without it, the other fails.
        QVERIFY(service.revokeToken(started.token()));
        QVERIFY(run(started, {{trending, 1}, {watchLists, 2}}));
        QVERIFY(!started.authorization()->isAuthorized());

        // "Token Received:" from the authorization page, then traffic with the new token.
        DialogPlayer player(QStringLiteral("approve('carol')"));
        QVERIFY(started.authorization()->authorize());
        tokens << QString::fromUtf8(started.authorization()->token());
        QVERIFY(QTest::qWaitFor([&] { return started.authorization()->userInfo().info.username == QLatin1String("carol"); }));
        service.addFault(Fault::errorStatus(500).onPath("/api/2/" + suggested.toStdString()).times(1));
        QVERIFY(run(started, {{trending, 1}, {suggested, 1}, {watchLists, 2}}));
    }
    Corvane::setDefaultLogThreshold(2);

    const QString written = output.messages().join(QLatin1Char('\n'));
    const QString files = QString::fromUtf8(contentOf(logFile));
    QCOMPARE(tokens.size(), 2);
    for (const QString& token : tokens) {
        QVERIFY(token.size() >= 8);
        QVERIFY2(!written.contains(token), "the log output carries a token");
        QVERIFY2(!files.contains(token), "a log file carries a token");
        QVERIFY2(m_outcome.errorTexts.filter(token).isEmpty(), "an error text carries a token");
    }
    // What was looked through holds what the tokens came with, masked.
    for (const QString& mark : {QStringLiteral("Token Loaded:***"), QStringLiteral("Token Received:***"),
                                QStringLiteral("access_token=***")}) {
        QVERIFY2(written.contains(mark), qPrintable(mark));
        QVERIFY2(files.contains(mark), qPrintable(mark));
    }
    QCOMPARE(m_outcome.errorTexts.filter(QStringLiteral("access_token=***")).size(), 3);
    QCOMPARE(m_outcome.errorTexts.size(), 6);
}

QTEST_MAIN(tst_TokenSecrecy)
#include "tst_tokensecrecy.moc"
