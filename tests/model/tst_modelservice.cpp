#include "modelfixture.h"

#include <kelvar/notifications.h>

#include <QtTest/QtTest>

using namespace ModelTest;
using Emulator::Fault;
using StreamsTest::StreamHost;

Q_DECLARE_METATYPE(Emulator::Fault)

namespace {

int symbolId(const char* symbol)
{
    const auto found = sharedEmulator().store().symbolByName(symbol);
    return found ? found->id : -2;
}

// The service's newest messages about a symbol, oldest of them first, read from its store.
QList<int> newestAbout(const char* symbol, int count)
{
    const int id = symbolId(symbol);
    QList<int> ids = StreamsTest::newestIds(
        [id](const Emulator::Message& m) { return std::find(m.symbolIds.begin(), m.symbolIds.end(), id) != m.symbolIds.end(); },
        count);
    std::reverse(ids.begin(), ids.end());
    return ids;
}

QList<int> idsOf(const Messages& messages)
{
    QList<int> ids;
    for (const Message& message : messages)
        ids.append(message.id);
    return ids;
}

// The newest stored message the user has not liked; -1 when there is none.
int newestNotLikedBy(Ventari::VentariModel& model, int user)
{
    int id = -1;
    for (const Message& message : model.messages()) {
        if (!message.likes.contains(user))
            id = message.id;
    }
    return id;
}

QStringList notificationsOf(const StreamHost& host)
{
    QStringList texts;
    for (const Kelvar::SimpleNotificationInfo* info : host.started().host().notifications()->events())
        texts.append(QStringLiteral("%1|%2|%3").arg(info->title(), info->text()).arg(info->icon()));
    return texts;
}

const QString limitExceeded = QStringLiteral("error Ventari Requests Limit Exceeded");

} // namespace

// Models against the service emulator through the real request pool and action handler; the
// pool's send timer is driven tick by tick.
class tst_ModelService : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void firstPage();
    void generatedMessageArrivesAfterTicks();
    void likes_data();
    void likes();
    void followAndUnfollow_data();
    void followAndUnfollow();
    void deletedMessageDisappears();
    void olderPageAtTheFront();
    void requestLimitExceeded();
    void destroyedModelDropsItsQueuedRequests();

private:
    // Alice's host, kept from test to test.
    StreamHost& host() { return m_hosts.get(true); }
    // A model whose two first loads have been answered.
    std::unique_ptr<ObservedModel> loadedModel(const QByteArray& stream, const QByteArray& value);

    StreamsTest::StreamHosts m_hosts;
};

void tst_ModelService::init()
{
    StreamsTest::resetEmulatorKeepingTokens();
}

void tst_ModelService::cleanupTestCase()
{
    m_hosts.reset();
}

std::unique_ptr<ObservedModel> tst_ModelService::loadedModel(const QByteArray& stream, const QByteArray& value)
{
    auto observed = std::make_unique<ObservedModel>(host().stream(stream), value);
    if (!QTest::qWaitFor([&] { return observed->observer.events.contains(QStringLiteral("noChange")); }, 10000))
        return nullptr;
    observed->observer.take();
    return observed;
}

void tst_ModelService::firstPage()
{
    host().started().host().notifications()->clear();
    ReportRecorder recorder;
    ObservedModel observed(host().stream("symbol"), "AAPL");
    const QList<int> expected = newestAbout("AAPL", 30);
    QCOMPARE(expected.size(), 30);

    // Two full loads, sent at once; alice follows AAPL, which the first answer tells first.
    QVERIFY(observed.observer.waitForEvents(3));
    QCOMPARE(observed.observer.events, (QStringList{"follow true", idsEvent("added", expected), "noChange"}));
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 2);
    QCOMPARE(idsOf(observed.model->messages()), expected);
    QVERIFY(observed.model->isFollow());
    QVERIFY(!observed.model->isFinished());

    // Each answered load asks for one refresh, which waits for the pool's timer.
    QCOMPARE(pendingRefreshes(host()), 2);
    QVERIFY(host().started().pool()->isTimerActive());
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(notificationsOf(host()).isEmpty());
}

void tst_ModelService::generatedMessageArrivesAfterTicks()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    int generated = -1;
    for (int i = 0; i < 100 && generated == -1; ++i) {
        const int id = sharedEmulator().generateMessage();
        const auto message = sharedEmulator().store().message(id);
        if (std::count(message->symbolIds.begin(), message->symbolIds.end(), symbolId("AAPL")))
            generated = id;
    }
    QVERIFY(generated != -1);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    host().started().tick();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{idsEvent("added", {generated})});
    QCOMPARE(observed->model->messageIndex(generated), observed->model->count() - 1);
    QCOMPARE(pendingRefreshes(host()), 2); // one answered, one asked for

    host().started().tick();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"noChange"});
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 2);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_ModelService::likes_data()
{
    QTest::addColumn<bool>("withFault");
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("text"); // a pattern of the notification's text

    QTest::newRow("like and unlike") << false << Fault() << QString();
    // An HTTP error status reaches the action as a network failure with Qt's text.
    QTest::newRow("refused") << true << Fault::errorStatus(503)
                             << R"(^Error transferring http://127\.0\.0\.1:\d+/api/2/messages/like\.json\?id=\d+&access_token=\*\*\* - server replied: Service Unavailable$)";
    QTest::newRow("broken reply") << true << Fault::malformedBody()
                                  << R"(^Server response error: Response doesn't contain response field$)";
}

// A like and an unlike round-trip into one change each; a failed like leaves the message as it
// was and tells the user.
void tst_ModelService::likes()
{
    QFETCH(bool, withFault);
    QFETCH(Fault, fault);
    QFETCH(QString, text);

    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    const int alice = userId("alice");
    const int id = newestNotLikedBy(*observed->model, alice);
    QVERIFY(id != -1);
    const QSet<int> before = observed->model->messageById(id).likes;
    const QString stored = notationOf(observed->model->messages());
    host().started().host().notifications()->clear();
    if (withFault)
        sharedEmulator().addFault(fault.onPath("/api/2/messages/like.json"));
    ReportRecorder recorder;

    observed->model->likeMessage(id);
    QVERIFY(!observed->model->messageById(id).likes.contains(alice)); // until the service answers
    if (withFault) {
        QVERIFY(QTest::qWaitFor([&] { return !notificationsOf(host()).isEmpty(); }));
        const QList<Kelvar::SimpleNotificationInfo*> shown = host().started().host().notifications()->events();
        QCOMPARE(shown.size(), 1);
        QCOMPARE(shown.first()->title(), QStringLiteral("Like/Unlike Error"));
        QVERIFY2(QRegularExpression(text).match(shown.first()->text()).hasMatch(), qPrintable(shown.first()->text()));
        QCOMPARE(shown.first()->icon(), 1);
        QCoreApplication::processEvents();
        QCOMPARE(observed->observer.events, QStringList());
        QCOMPARE(notationOf(observed->model->messages()), stored);
        QVERIFY(recorder.reports().isEmpty());
        // The emulator breaks its answer after doing the work.
        sharedEmulator().store().setLiked(id, alice, false);
        return;
    }
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{idsEvent("changed", {id})});
    QCOMPARE(observed->model->messageById(id).likes, before + QSet<int>{alice});
    QVERIFY(sharedEmulator().store().message(id)->likes.count(alice));

    // The next refresh brings the same likes set: nothing changes.
    host().started().tick();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"noChange"});

    observed->model->unlikeMessage(id);
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{idsEvent("changed", {id})});
    QCOMPARE(observed->model->messageById(id).likes, before);
    QCOMPARE(requestCount(QStringLiteral("messages/like.json")), 1);
    QCOMPARE(requestCount(QStringLiteral("messages/unlike.json")), 1);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_ModelService::followAndUnfollow_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("symbol") << QByteArray("symbol") << QByteArray("EURUSD");
    QTest::newRow("user") << QByteArray("user") << QByteArray("dave");
}

void tst_ModelService::followAndUnfollow()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);

    const int alice = userId("alice");
    const bool isSymbol = stream == "symbol";
    const int subject = isSymbol ? symbolId("EURUSD") : userId("dave");
    auto followedOnService = [&] {
        return isSymbol ? sharedEmulator().store().isFollowingSymbol(alice, subject)
                        : sharedEmulator().store().isFollowingUser(alice, subject);
    };
    QVERIFY(!followedOnService());
    const auto observed = loadedModel(stream, value);
    QVERIFY(observed);
    QVERIFY(!observed->model->isFollow());
    host().started().host().notifications()->clear();
    ReportRecorder recorder;

    observed->model->follow(true);
    QVERIFY(!observed->model->isFollow()); // only the service's answer sets it
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"follow true"});
    QVERIFY(observed->model->isFollow());
    QVERIFY(followedOnService());

    observed->model->follow(false);
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"follow false"});
    QVERIFY(!followedOnService());

    // A refused command repeats the state, so that a view flips its toggle back.
    sharedEmulator().addFault(Fault::errorStatus(500).onPath(isSymbol ? "/api/2/stockships/" : "/api/2/friendships/"));
    observed->model->follow(true);
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"follow false"});
    QVERIFY(!observed->model->isFollow());
    QCOMPARE(notificationsOf(host()),
             QStringList{"Ventari Error|Failed to send follow/unfollow command to the Ventari server|1"});
    QVERIFY(recorder.reports().isEmpty());
    // The emulator breaks its answer after doing the work.
    if (isSymbol)
        sharedEmulator().store().setFollowingSymbol(alice, subject, false);
    else
        sharedEmulator().store().setFollowingUser(alice, subject, false);
}

void tst_ModelService::deletedMessageDisappears()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    const QList<int> before = newestAbout("AAPL", 31);
    QCOMPARE(idsOf(observed->model->messages()), before.mid(1));
    const int deleted = before.at(10);
    QVERIFY(sharedEmulator().removeMessage(deleted));
    ReportRecorder recorder;

    // The page now reaches one message further back, which lands at the front.
    host().started().tick();
    QVERIFY(observed->observer.waitForEvents(2));
    QCOMPARE(observed->observer.events, (QStringList{idsEvent("removed", {deleted}), idsEvent("added", {before.first()})}));
    QList<int> expected = before;
    expected.removeOne(deleted);
    QCOMPARE(idsOf(observed->model->messages()), expected);
    QVERIFY(!observed->model->containsMessage(deleted));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_ModelService::olderPageAtTheFront()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    const QList<int> all = newestAbout("AAPL", 1000);
    const int oldestStored = all.size() - 30;
    QVERIFY(oldestStored > 0);
    const int from = std::max(0, oldestStored - 30);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    observed->model->loadOldMessages();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.events, QStringList{idsEvent("added", all.mid(from, oldestStored - from))});
    QCOMPARE(idsOf(observed->model->messages()), all.mid(from));
    const auto requests = sharedEmulator().requests();
    QCOMPARE(int(requests.size()), 1); // sent at once, without the timer
    QCOMPARE(requests.front().queryValue("max"), std::to_string(all.at(oldestStored)));
    QCOMPARE(pendingRefreshes(host()), 3); // the answered older page asked for one too
    QVERIFY(!observed->model->isFinished());
    QVERIFY(recorder.reports().isEmpty());
}



void tst_ModelService::requestLimitExceeded()
{
    m_hosts.reset(); // the limit's period stays with the pool: this test gets a host of its own
    StreamHost host(false);
    QVERIFY(host.isStarted());
    ObservedModel first(host.stream("symbol"), "AAPL");
    QVERIFY(first.observer.waitForEvents(2));
    first.observer.take();
    ReportRecorder recorder;

    sharedEmulator().setRemaining(0);
    host.started().tick();
    QVERIFY(first.observer.waitForEvents(1));
    QCOMPARE(first.observer.take(), QStringList{limitExceeded});
    QVERIFY(host.started().handler()->isOutOfRequests());

    // A model made now hears it once its observers are attached; its loads wait for the next tick.
    sharedEmulator().clearRequests();
    ObservedModel second(host.stream("symbol"), "MSFT");
    QCOMPARE(second.observer.events, QStringList());
    QVERIFY(second.observer.waitForEvents(1));
    QCOMPARE(second.observer.take(), QStringList{limitExceeded});
    QCoreApplication::processEvents();
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/MSFT.json")), 0);

    sharedEmulator().rateLimiter().reset();
    host.started().tick();
    // The held loads go out together, and the tick's one queued request besides: a refresh of the first.
    QVERIFY(second.observer.waitForEvents(2));
    QCOMPARE(second.observer.events, (QStringList{idsEvent("added", newestAbout("MSFT", 30)), "noChange"}));
    QVERIFY(first.observer.waitForEvents(1));
    QCOMPARE(first.observer.events, QStringList{"noChange"});
    QVERIFY(recorder.reports().isEmpty());
}

void tst_ModelService::destroyedModelDropsItsQueuedRequests()
{
    auto gone = loadedModel("symbol", "AAPL");
    const auto kept = loadedModel("symbol", "MSFT");
    QVERIFY(gone && kept);
    QCOMPARE(pendingRefreshes(host()), 4);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    gone.reset();
    QCOMPARE(pendingRefreshes(host()), 2);
    for (int tick = 0; tick < 3; ++tick) {
        host().started().tick();
        QVERIFY(kept->observer.waitForEvents(tick + 1));
    }
    QCOMPARE(kept->observer.events, (QStringList{"noChange", "noChange", "noChange"}));
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 0);
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/MSFT.json")), 3);
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_ModelService)
#include "tst_modelservice.moc"
