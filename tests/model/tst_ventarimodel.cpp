#include "messagenotation.h"
#include "streamhost.h"

#include "actions/ventaristreamaction.h"
#include "authorization/authorization.h"
#include "ventarimodel.h"

#include <kelvar/notifications.h>

#include <QtTest/QtTest>

#include <memory>

using namespace ModelTest;
using Emulator::Fault;
using StreamsTest::StreamHost;
using Ventari::VentariModel;

Q_DECLARE_METATYPE(Emulator::Fault)

namespace {

// The observer's event for a signal carrying ids: "added 10 20".
QString idsEvent(const char* signal, const QList<int>& ids)
{
    QString event = QLatin1String(signal);
    for (int id : ids)
        event += QLatin1Char(' ') + QString::number(id);
    return event;
}

} // namespace

// Watches a model as a host view does, subscribed through the notifier by signal and slot names;
// each signal becomes one event: "added 10 20", "removed 30", "changed 20", "noData", "noChange",
// "error <text>" or "follow true".
class ModelObserver : public QObject
{
    Q_OBJECT

public:
    explicit ModelObserver(Ventari::IVentariModel* model)
    {
        model->subscribe("messagesAdded", this, "onAdded");
        model->subscribe("messagesRemoved", this, "onRemoved");
        model->subscribe("messagesChanged", this, "onChanged");
        model->subscribe("noData", this, "onNoData");
        model->subscribe("error", this, "onError");
        model->subscribe("messagesNoChanged", this, "onNoChange");
        model->subscribe("followStateChanged", this, "onFollowStateChanged");
    }

    bool waitForEvents(int count) { return QTest::qWaitFor([&] { return events.size() >= count; }, 10000); }
    // The events so far, forgotten afterwards.
    QStringList take()
    {
        const QStringList taken = events;
        events.clear();
        return taken;
    }

    QStringList events;

public slots:
    void onAdded(const QList<int>& ids) { events.append(idsEvent("added", ids)); }
    void onRemoved(const QList<int>& ids) { events.append(idsEvent("removed", ids)); }
    void onChanged(const QList<int>& ids) { events.append(idsEvent("changed", ids)); }
    void onNoData() { events.append(QStringLiteral("noData")); }
    void onError(const QString& text) { events.append(QStringLiteral("error ") + text); }
    void onNoChange() { events.append(QStringLiteral("noChange")); }
    void onFollowStateChanged(bool follow) { events.append(follow ? QStringLiteral("follow true") : QStringLiteral("follow false")); }
};

// A model with its observer attached right after construction, as a host window holds them.
struct ObservedModel
{
    ObservedModel(Ventari::IVentariStream* stream, const QByteArray& value, int filter = 0)
        : model(std::make_unique<Ventari::VentariModel>(stream, value, filter))
        , observer(model.get())
    {
    }

    std::unique_ptr<Ventari::VentariModel> model;
    ModelObserver observer;
};

namespace {

// Refresh requests handed to the handler and neither answered nor cancelled.
int pendingRefreshes(const StreamHost& host)
{
    int count = 0;
    for (const auto* action : host.started().handler()->findChildren<Ventari::VentariStreamAction*>())
        count += action->priority() == 2 && !action->isCancelled();
    return count;
}

// The refresh a model has asked for and the pool not yet answered; null when there is none.
Ventari::VentariStreamAction* pendingRefreshOf(const StreamHost& host, const VentariModel* model)
{
    for (auto* action : host.started().handler()->findChildren<Ventari::VentariStreamAction*>()) {
        if (action->priority() == 2 && !action->isCancelled() && action->refreshTurn().owner == model)
            return action;
    }
    return nullptr;
}

// Posts messages about one symbol on the service, as its users would; their ids, ascending.
QList<int> postAbout(const char* symbol, int count)
{
    Emulator::DataStore& store = sharedEmulator().store();
    Emulator::MessageDraft draft;
    draft.userId = store.userByName("bob")->id;
    draft.symbolIds = {store.symbolByName(symbol)->id};
    QList<int> ids;
    for (int i = 0; i < count; ++i) {
        draft.body = "$" + std::string(symbol) + " tick " + std::to_string(i);
        ids.append(store.post(draft, sharedEmulator().clock().now()).id);
    }
    return ids;
}

// Sets the pool's retry delays for a test, and puts back those a host starts with.
class RetryDelays
{
public:
    RetryDelays(Ventari::RequestPool* pool, int first, int longest)
        : m_pool(pool)
    {
        m_pool->setRetryDelays(first, longest);
    }
    ~RetryDelays() { m_pool->setRetryDelays(5000, 120000); }

private:
    Ventari::RequestPool* m_pool;
};

// Requests the emulator received for one path below "/api/2/".
int requestCount(const QString& path)
{
    return int(ProtocolTest::requestsTo(path).size());
}

int userId(const char* username)
{
    const auto user = sharedEmulator().store().userByName(username);
    return user ? user->id : -2;
}

// Hands a model what its actions would: "page:" a load's answer, "older:" an older page's,
// "like:" a like answer of one message.
bool feed(VentariModel* model, const QString& step)
{
    const int colon = step.indexOf(QLatin1Char(':'));
    const QString kind = step.left(colon);
    const Messages messages = messagesOf(step.mid(colon + 1));
    if (kind == QLatin1String("page"))
        return QMetaObject::invokeMethod(model, "onData", Q_ARG(Ventari::Messages, messages));
    if (kind == QLatin1String("older"))
        return QMetaObject::invokeMethod(model, "onOldMessagesActionData", Q_ARG(Ventari::Messages, messages));
    if (kind == QLatin1String("like") && messages.size() == 1)
        return QMetaObject::invokeMethod(model, "onLikeUnlikeActionDone", Q_ARG(Ventari::Message, messages.first()));
    return false;
}

// "10+alice 20+bob" with the service's ids of those users.
QString withUserIds(QString notation)
{
    for (const char* name : {"alice", "bob", "carol"})
        notation.replace(QLatin1String(name), QString::number(userId(name)));
    return notation;
}

Ventari::UserInfo serviceUser(const char* username)
{
    const auto user = sharedEmulator().store().userByName(username);
    Ventari::UserInfo info;
    info.id = user->id;
    info.username = QString::fromStdString(user->username);
    info.name = QString::fromStdString(user->name);
    return info;
}

const QString streamNotFound = QStringLiteral("error Stream not found.");
const QString cannotReach = QStringLiteral("error Cannot reach the Ventari service.");


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

// The message model: first with the pages and answers its actions would bring handed to it
// directly, so that every id list can be written down (its own loads go to a symbol the service
// does not know and fail); then against the service emulator through the real request pool and
// action handler, the pool's send timer driven tick by tick.
class tst_VentariModel : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase();

    void merges_data();
    void merges();
    void queries_data();
    void queries();
    void userChange_data();
    void userChange();
    void commandsThatSendNothing_data();
    void commandsThatSendNothing();

    void firstPage();
    void likes();
    void followAndUnfollow_data();
    void followAndUnfollow();
    void deletedMessageDisappears();
    void olderPageAtTheFront();
    void requestLimitExceeded();
    void destroyedModelDropsItsQueuedRequests();
    void oneRefreshChain();
    void gapsAreFilled();
    void outages_data();
    void outages();
    void comesUpWhenTheServiceAnswersAgain();
    void aBusyStreamWeighsMore();
    void modelOutlivesThePluginsServices();

private:
    // Alice's host, kept from test to test.
    StreamHost& host() { return m_hosts.get(true); }
    // A model whose own load has failed, and nothing else has happened to it.
    std::unique_ptr<ObservedModel> quietModel(const StreamHost& host);
    // A model whose first load has been answered.
    std::unique_ptr<ObservedModel> loadedModel(const QByteArray& stream, const QByteArray& value);

    StreamsTest::StreamHosts m_hosts;
};

void tst_VentariModel::init()
{
    StreamsTest::resetEmulatorKeepingTokens();
}

void tst_VentariModel::cleanupTestCase()
{
    m_hosts.reset();
}

std::unique_ptr<ObservedModel> tst_VentariModel::quietModel(const StreamHost& host)
{
    auto observed = std::make_unique<ObservedModel>(host.stream("symbol"), "NOSUCH");
    if (!observed->observer.waitForEvents(1) || observed->observer.take() != QStringList{streamNotFound})
        return nullptr;
    return observed;
}

void tst_VentariModel::merges_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("limit"); // what the model may keep; 0: all

    QTest::newRow("first page") << QStringList{"page:30 20 10"} << QStringList{"added 10 20 30"} << "10 20 30" << false << 0;
    QTest::newRow("empty first page") << QStringList{"page:"} << QStringList{"noData"} << "" << true << 0;
    QTest::newRow("identical refresh") << QStringList{"page:30 20 10", "page:30 20 10"}
                                       << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 0;
    QTest::newRow("a like on the service") << QStringList{"page:30 20 10", "page:30 20+7 10"}
                                           << QStringList{"added 10 20 30", "changed 20"} << "10 20+7 30" << false << 0;
    QTest::newRow("a changed body alone") << QStringList{"page:30 20 10", "page:30 20* 10"}
                                          << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 0;
    QTest::newRow("10 20 30, then 10 20 25 30") << QStringList{"page:30 20 10", "page:30 25 20 10"}
                                                << QStringList{"added 10 20 30", "removed 30", "added 25 30"}
                                                << "10 20 25 30" << false << 0;
    QTest::newRow("10 15 20, then 10 20") << QStringList{"page:20 15 10", "page:20 10"}
                                          << QStringList{"added 10 15 20", "removed 15"} << "10 20" << false << 0;
    QTest::newRow("removed, added and changed, in this order")
        << QStringList{"page:40 30 20 10", "page:50 40 30+7 10"}
        << QStringList{"added 10 20 30 40", "removed 20", "added 50", "changed 30"} << "10 30+7 40 50" << false << 0;
    QTest::newRow("older page") << QStringList{"page:30 20 10", "older:7 5"}
                                << QStringList{"added 10 20 30", "added 5 7"} << "5 7 10 20 30" << false << 0;
    QTest::newRow("older page empty") << QStringList{"page:30 20 10", "older:"}
                                      << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << true << 0;
    QTest::newRow("unsorted page") << QStringList{"page:20 40 10 30"} << QStringList{"added 10 20 30 40"}
                                   << "10 20 30 40" << false << 0;
    QTest::newRow("an empty refresh keeps the list") << QStringList{"page:10", "page:"}
                                                     << QStringList{"added 10", "noChange"} << "10" << false << 0;
    QTest::newRow("finished stays once set") << QStringList{"page:", "page:10"} << QStringList{"noData", "added 10"}
                                             << "10" << true << 0;
    QTest::newRow("like answer") << QStringList{"page:30 20 10", "like:20+7"}
                                 << QStringList{"added 10 20 30", "changed 20"} << "10 20+7 30" << false << 0;
    QTest::newRow("like answer changing nothing") << QStringList{"page:30 20 10", "like:20"}
                                                  << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 0;
    QTest::newRow("like answer of the newest") << QStringList{"page:30 20 10", "like:30+7+9"}
                                               << QStringList{"added 10 20 30", "changed 30"} << "10 20 30+7+9" << false << 0;
    // New messages push the oldest out; older pages are the user's and stay until the next answer.
    QTest::newRow("a limit pushes the oldest out") << QStringList{"page:30 20 10", "page:40 30 20 10"}
                                                   << QStringList{"added 10 20 30", "added 40", "removed 10"} << "20 30 40" << false << 3;
    QTest::newRow("older pages beyond the limit") << QStringList{"page:30 20", "older:10 5"}
                                                  << QStringList{"added 20 30", "added 5 10"} << "5 10 20 30" << false << 2;
    QTest::newRow("trimmed, so older messages are there again") << QStringList{"page:20 10", "older:", "page:30 20 10"}
                                                                << QStringList{"added 10 20", "noChange", "added 30", "removed 10"}
                                                                << "20 30" << false << 2;
}

void tst_VentariModel::merges()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, events);
    QFETCH(QString, result);
    QFETCH(bool, finished);
    QFETCH(int, limit);

    StreamHost& host = this->host();
    QVERIFY(host.isStarted());
    const auto observed = quietModel(host);
    QVERIFY(observed);
    observed->model->setMessageLimit(limit);
    QCOMPARE(pendingRefreshes(host), 0); // a stream that is not there ends the chain
    ReportRecorder recorder;
    for (const QString& step : steps)
        QVERIFY2(feed(observed->model.get(), step), qPrintable(step));
    QCOMPARE(observed->observer.events, events);
    QCOMPARE(notationOf(observed->model->messages()), result);
    QCOMPARE(observed->model->isFinished(), finished);
    // One chain: the first answered load asks for a refresh, later answers find it pending, and
    // older pages ask for none.
    QCOMPARE(pendingRefreshes(host), 1);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_VentariModel::queries_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("query");
    QTest::addColumn<int>("argument");
    QTest::addColumn<int>("result"); // an index, a message id, or 1 and 0 for true and false
    QTest::addColumn<QStringList>("reports");

    const QString odd = QStringLiteral("10 20 30 40 50");
    const QString even = QStringLiteral("10 20 30 40");
    const QString notStored = QStringLiteral("ventarimodel Ventari::VentariModel::messageIndex: index != -1");
    const QString outOfRange = QStringLiteral("ventarimodel Ventari::VentariModel::messageByIndex: index >= 0 && index < m_messages.size()");

    QTest::newRow("index of the oldest") << odd << "messageIndex" << 10 << 0 << QStringList{};
    QTest::newRow("index of the middle") << odd << "messageIndex" << 30 << 2 << QStringList{};
    QTest::newRow("index of the newest") << odd << "messageIndex" << 50 << 4 << QStringList{};
    QTest::newRow("index, even count") << even << "messageIndex" << 30 << 2 << QStringList{};
    QTest::newRow("index below the oldest") << odd << "messageIndex" << 5 << -1 << QStringList{notStored};
    QTest::newRow("index in a gap") << even << "messageIndex" << 25 << -1 << QStringList{notStored};
    QTest::newRow("index above the newest") << odd << "messageIndex" << 55 << -1 << QStringList{notStored};
    QTest::newRow("index on an empty model")
        << "" << "messageIndex" << 10 << -1
        << QStringList{"ventarimodel Ventari::VentariModel::messageIndex: !m_messages.isEmpty()", notStored};
    QTest::newRow("contains, stored") << even << "containsMessage" << 40 << 1 << QStringList{};
    QTest::newRow("contains, in a gap") << even << "containsMessage" << 35 << 0 << QStringList{};
    QTest::newRow("contains, empty model") << "" << "containsMessage" << 10 << 0 << QStringList{};
    QTest::newRow("by index, first") << odd << "messageByIndex" << 0 << 10 << QStringList{};
    QTest::newRow("by index, last") << odd << "messageByIndex" << 4 << 50 << QStringList{};
    QTest::newRow("by index, past the end") << odd << "messageByIndex" << 5 << -1 << QStringList{outOfRange};
    QTest::newRow("by index, negative") << odd << "messageByIndex" << -1 << -1 << QStringList{outOfRange};
    QTest::newRow("by id, stored") << even << "messageById" << 30 << 30 << QStringList{};
    QTest::newRow("by id, not stored") << even << "messageById" << 35 << -1 << QStringList{notStored};
    QTest::newRow("like, not stored: sent all the same")
        << even << "likeMessage" << 35 << 1
        << QStringList{notStored, "ventarimodel Ventari::VentariModel::likeMessage: messageIndex(id) != -1"};
    QTest::newRow("unlike, not stored: sent all the same")
        << even << "unlikeMessage" << 35 << 1
        << QStringList{notStored, "ventarimodel Ventari::VentariModel::unlikeMessage: messageIndex(id) != -1"};
}

void tst_VentariModel::queries()
{
    QFETCH(QString, stored);
    QFETCH(QString, query);
    QFETCH(int, argument);
    QFETCH(int, result);
    QFETCH(QStringList, reports);

    StreamHost& host = this->host();
    const auto observed = quietModel(host);
    QVERIFY(observed);
    VentariModel* model = observed->model.get();
    if (!stored.isEmpty())
        QVERIFY(feed(model, QStringLiteral("page:") + stored));
    QCOMPARE(model->count(), messagesOf(stored).size());

    host.started().host().notifications()->clear();
    ReportRecorder recorder;
    int answer = -2;
    if (query == QLatin1String("messageIndex"))
        answer = model->messageIndex(argument);
    else if (query == QLatin1String("containsMessage"))
        answer = model->containsMessage(argument);
    else if (query == QLatin1String("messageByIndex"))
        answer = model->messageByIndex(argument).id;
    else if (query == QLatin1String("messageById"))
        answer = model->messageById(argument).id;
    else if (query == QLatin1String("likeMessage") || query == QLatin1String("unlikeMessage")) {
        query == QLatin1String("likeMessage") ? model->likeMessage(argument) : model->unlikeMessage(argument);
        // Sent at once; the service knows no such message, so the stored one stays as it was.
        QVERIFY(QTest::qWaitFor([&] { return host.started().host().notifications()->events().size() == 1; }));
        const QString path = query == QLatin1String("likeMessage") ? QStringLiteral("like") : QStringLiteral("unlike");
        QCOMPARE(requestCount("messages/" + path + ".json"), 1);
        QCOMPARE(notationOf(model->messages()), stored);
        answer = 1;
    }
    QCOMPARE(answer, result);
    QCOMPARE(reportsOf(recorder), reports);
}

void tst_VentariModel::userChange_data()
{
    QTest::addColumn<QString>("from");
    QTest::addColumn<QString>("to");
    QTest::addColumn<bool>("following");
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QStringList>("events");

    const QString liked = QStringLiteral("10+alice 20+bob 30+alice+bob 40 50+carol");
    QTest::newRow("alice to bob") << "alice" << "bob" << false << liked << QStringList{"changed 10 20", streamNotFound};
    QTest::newRow("alice to nobody") << "alice" << "nobody" << false << liked << QStringList{"changed 10 30", streamNotFound};
    QTest::newRow("nobody to alice") << "nobody" << "alice" << false << liked << QStringList{"changed 10 30", streamNotFound};
    QTest::newRow("alice to bob while following")
        << "alice" << "bob" << true << liked << QStringList{"changed 10 20", "follow false", streamNotFound};
    QTest::newRow("no liked status differs") << "alice" << "bob" << true << "40 50+carol"
                                             << QStringList{"follow false", streamNotFound};
    QTest::newRow("an empty model") << "alice" << "nobody" << false << "" << QStringList{streamNotFound};
}

// The service's stand-in for the user answers the change: the authorization state stores the new
// record, and the model re-judges the likes it holds and loads afresh.
void tst_VentariModel::userChange()
{
    QFETCH(QString, from);
    QFETCH(QString, to);
    QFETCH(bool, following);
    QFETCH(QString, stored);
    QFETCH(QStringList, events);

    m_hosts.reset(); // this test starts hosts of its own
    StreamHost host(from == QLatin1String("alice"));
    QVERIFY(host.isStarted());
    Ventari::Authorization* authorization = host.started().authorization();
    if (from == QLatin1String("nobody"))
        authorization->resetToken();
    const auto observed = quietModel(host);
    QVERIFY(observed);
    VentariModel* model = observed->model.get();
    if (!stored.isEmpty())
        QVERIFY(feed(model, QStringLiteral("page:") + withUserIds(stored)));
    if (following)
        QVERIFY(QMetaObject::invokeMethod(model, "setFollow", Q_ARG(bool, true)));
    observed->observer.take();
    sharedEmulator().clearRequests();

    ReportRecorder recorder;
    if (to == QLatin1String("nobody"))
        authorization->resetToken();
    else
        QVERIFY(QMetaObject::invokeMethod(authorization, "onUserInfo", Q_ARG(Ventari::UserInfo, serviceUser(qPrintable(to)))));
    QVERIFY(observed->observer.waitForEvents(events.size()));
    QCOMPARE(observed->observer.events, events);
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/NOSUCH.json")), 1);
    QVERIFY(!model->isFollow());
    // The likes stay as stored; only the judgement changed.
    QCOMPARE(notationOf(model->messages()), withUserIds(stored));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_VentariModel::commandsThatSendNothing_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<bool>("subjectReported");
    QTest::addColumn<bool>("older"); // older messages asked for instead of a follow

    // Following is for symbols and users, once a load has reported the service's id of the subject.
    QTest::newRow("follow a symbol before any subject") << QByteArray("symbol") << QByteArray("NOSUCH") << false << false;
    QTest::newRow("follow a fixed stream") << QByteArray("trending") << QByteArray() << true << false;
    QTest::newRow("follow a watch-list stream") << QByteArray("watchlist") << QByteArray("7") << true << false;
    QTest::newRow("older messages of an empty model") << QByteArray("symbol") << QByteArray("NOSUCH") << false << true;
}

void tst_VentariModel::commandsThatSendNothing()
{
    QFETCH(QByteArray, stream);
    QFETCH(QByteArray, value);
    QFETCH(bool, subjectReported);
    QFETCH(bool, older);

    ObservedModel observed(host().stream(stream), value);
    QVERIFY(observed.observer.waitForEvents(1));
    observed.observer.take();
    if (subjectReported)
        QVERIFY(QMetaObject::invokeMethod(observed.model.get(), "onStreamId", Q_ARG(int, userId("dave"))));
    ReportRecorder recorder;

    older ? observed.model->loadOldMessages() : observed.model->follow(true);
    QVERIFY(recorder.isEmpty()); // the pool logs every request it is given, at once
    QCoreApplication::processEvents();
    QCOMPARE(observed.observer.events, QStringList());
}

std::unique_ptr<ObservedModel> tst_VentariModel::loadedModel(const QByteArray& stream, const QByteArray& value)
{
    auto observed = std::make_unique<ObservedModel>(host().stream(stream), value);
    if (!QTest::qWaitFor([&] { return observed->model->count() > 0; }, 10000))
        return nullptr;
    observed->observer.take();
    return observed;
}

void tst_VentariModel::firstPage()
{
    host().started().host().notifications()->clear();
    ReportRecorder recorder;
    ObservedModel observed(host().stream("symbol"), "AAPL");
    const QList<int> expected = newestAbout("AAPL", 30);
    QCOMPARE(expected.size(), 30);

    // One full load, sent at once; alice follows AAPL, which the answer tells first.
    QVERIFY(observed.observer.waitForEvents(2));
    QCOMPARE(observed.observer.events, (QStringList{"follow true", idsEvent("added", expected)}));
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 1);
    QCOMPARE(idsOf(observed.model->messages()), expected);
    QVERIFY(observed.model->isFollow());
    QVERIFY(!observed.model->isFinished());

    // The answered load asks for one refresh, which waits for the pool's timer.
    QCOMPARE(pendingRefreshes(host()), 1);
    QVERIFY(host().started().pool()->isTimerActive());
    QVERIFY(recorder.reports().isEmpty());
    QVERIFY(notificationsOf(host()).isEmpty());
}

// A like and an unlike round-trip into one change each; a refused like leaves the message as it
// was and tells the user.
void tst_VentariModel::likes()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    const int alice = userId("alice");
    const int id = newestNotLikedBy(*observed->model, alice);
    QVERIFY(id != -1);
    const QSet<int> before = observed->model->messageById(id).likes;
    host().started().host().notifications()->clear();
    ReportRecorder recorder;

    observed->model->likeMessage(id);
    QVERIFY(!observed->model->messageById(id).likes.contains(alice)); // until the service answers
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
    QVERIFY(notificationsOf(host()).isEmpty());

    // An HTTP error status reaches the action as a network failure with Qt's text.
    sharedEmulator().addFault(Fault::errorStatus(503).onPath("/api/2/messages/like.json"));
    observed->model->likeMessage(id);
    QVERIFY(QTest::qWaitFor([&] { return !notificationsOf(host()).isEmpty(); }));
    const QStringList shown = notificationsOf(host());
    QCOMPARE(shown.size(), 1);
    QVERIFY2(QRegularExpression(R"(^Like/Unlike Error\|Error transferring http://127\.0\.0\.1:\d+/api/2/messages/like\.json)"
                                R"(\?id=\d+&access_token=\*\*\* - server replied: Service Unavailable\|1$)")
                 .match(shown.first())
                 .hasMatch(),
             qPrintable(shown.first()));
    QCoreApplication::processEvents();
    QCOMPARE(observed->observer.events, QStringList());
    QCOMPARE(observed->model->messageById(id).likes, before);
    QVERIFY(recorder.reports().isEmpty());
    // The emulator breaks its answer after doing the work.
    sharedEmulator().store().setLiked(id, alice, false);
}

void tst_VentariModel::followAndUnfollow_data()
{
    QTest::addColumn<QByteArray>("stream");
    QTest::addColumn<QByteArray>("value");

    QTest::newRow("symbol") << QByteArray("symbol") << QByteArray("EURUSD");
    QTest::newRow("user") << QByteArray("user") << QByteArray("dave");
}

void tst_VentariModel::followAndUnfollow()
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

void tst_VentariModel::deletedMessageDisappears()
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

void tst_VentariModel::olderPageAtTheFront()
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
    QCOMPARE(pendingRefreshes(host()), 1); // the older page asked for none
    QVERIFY(!observed->model->isFinished());
    QVERIFY(recorder.reports().isEmpty());
}



void tst_VentariModel::requestLimitExceeded()
{
    m_hosts.reset(); // the limit's period stays with the pool: this test gets a host of its own
    StreamHost host(false);
    QVERIFY(host.isStarted());
    ObservedModel first(host.stream("symbol"), "AAPL");
    QVERIFY(first.observer.waitForEvents(1));
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
    // The held load goes out, and the tick's one queued request besides: the first's refused refresh.
    QVERIFY(second.observer.waitForEvents(1));
    QCOMPARE(second.observer.events, (QStringList{idsEvent("added", newestAbout("MSFT", 30))}));
    QVERIFY(first.observer.waitForEvents(1));
    QCOMPARE(first.observer.events, QStringList{"noChange"});
    QVERIFY(recorder.reports().isEmpty());
}

void tst_VentariModel::destroyedModelDropsItsQueuedRequests()
{
    auto gone = loadedModel("symbol", "AAPL");
    const auto kept = loadedModel("symbol", "MSFT");
    QVERIFY(gone && kept);
    QCOMPARE(pendingRefreshes(host()), 2);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    gone.reset();
    QCOMPARE(pendingRefreshes(host()), 1);
    for (int tick = 0; tick < 3; ++tick) {
        host().started().tick();
        QVERIFY(kept->observer.waitForEvents(tick + 1));
    }
    QCOMPARE(kept->observer.events, (QStringList{"noChange", "noChange", "noChange"}));
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 0);
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/MSFT.json")), 3);
    QVERIFY(recorder.reports().isEmpty());
}

// Forced loads and older pages come and go; one refresh waits all along, and leaves one per tick.
void tst_VentariModel::oneRefreshChain()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    VentariModel* model = observed->model.get();
    QCOMPARE(pendingRefreshes(host()), 1);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    model->forceUpdateData();
    QCOMPARE(pendingRefreshes(host()), 0); // the load takes the refresh's place
    model->forceUpdateData();
    QVERIFY(observed->observer.waitForEvents(2));
    QCOMPARE(observed->observer.take(), (QStringList{"noChange", "noChange"}));
    QCOMPARE(pendingRefreshes(host()), 1);
    model->loadOldMessages();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(pendingRefreshes(host()), 1);

    observed->observer.take();
    sharedEmulator().clearRequests();
    for (int tick = 1; tick <= 3; ++tick) {
        host().started().tick();
        QVERIFY(observed->observer.waitForEvents(tick));
        QCOMPARE(pendingRefreshes(host()), 1);
    }
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 3);
    QVERIFY(recorder.reports().isEmpty());
}

// More new messages than a page holds: the refresh brings the newest page, and the next turns the
// pages below it, until they meet the stored messages.
void tst_VentariModel::gapsAreFilled()
{
    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    const QList<int> before = idsOf(observed->model->messages());
    const QList<int> posted = postAbout("AAPL", 70);
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    const QList<QList<int>> pages{posted.mid(40), posted.mid(10, 30), posted.mid(0, 10)};
    for (const QList<int>& page : pages) {
        host().started().tick();
        QVERIFY(observed->observer.waitForEvents(1));
        QCOMPARE(observed->observer.take(), QStringList{idsEvent("added", page)});
    }
    QCOMPARE(idsOf(observed->model->messages()), before + posted);
    host().started().tick();
    QVERIFY(observed->observer.waitForEvents(1));
    QCOMPARE(observed->observer.take(), QStringList{"noChange"});

    QStringList maxes;
    for (const auto& request : ProtocolTest::requestsTo(QStringLiteral("streams/symbol/AAPL.json")))
        maxes << ProtocolTest::text(request.queryValue("max"));
    QCOMPARE(maxes, (QStringList{QString(), QString::number(posted.at(40)), QString::number(posted.at(10)), QString()}));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_VentariModel::outages_data()
{
    QTest::addColumn<Fault>("fault");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("retried");

    QTest::newRow("service unavailable") << Fault::errorStatus(503) << cannotReach << true;
    QTest::newRow("gateway timeout") << Fault::errorStatus(504) << cannotReach << true;
    QTest::newRow("connection dropped") << Fault::droppedConnection() << cannotReach << true;
    QTest::newRow("too many requests, with requests left") << Fault::errorStatus(429) << cannotReach << true;
    QTest::newRow("stream not found") << Fault::errorStatus(404) << streamNotFound << false;
    QTest::newRow("refused") << Fault::errorStatus(403) << streamNotFound << false;
}

// An outage is said once and retried until the service answers; a refusal ends the chain.
void tst_VentariModel::outages()
{
    QFETCH(Fault, fault);
    QFETCH(QString, error);
    QFETCH(bool, retried);

    const auto observed = loadedModel("symbol", "AAPL");
    QVERIFY(observed);
    RetryDelays delays(host().started().pool(), 0, 0);
    sharedEmulator().addFault(fault.onPath("/api/2/streams/symbol/AAPL.json"));
    sharedEmulator().clearRequests();
    ReportRecorder recorder;

    const QString path = QStringLiteral("streams/symbol/AAPL.json");
    for (int tick = 1; tick <= 3; ++tick) {
        host().started().tick();
        if (tick == 1 || retried) {
            QVERIFY(QTest::qWaitFor([&] {
                return ProtocolTest::poolRecords(recorder).filter(QStringLiteral("Error Response")).size() == tick;
            }));
        }
        QCOMPARE(pendingRefreshes(host()), retried ? 1 : 0);
    }
    QCOMPARE(requestCount(path), retried ? 3 : 1);
    QCOMPARE(observed->observer.take(), QStringList{error});

    sharedEmulator().clearFaults();
    const QList<int> posted = postAbout("AAPL", 1);
    host().started().tick();
    if (retried) {
        QVERIFY(observed->observer.waitForEvents(1));
        QCOMPARE(observed->observer.take(), QStringList{idsEvent("added", posted)});
        QCOMPARE(pendingRefreshes(host()), 1);
    } else {
        QCoreApplication::processEvents();
        QCOMPARE(requestCount(path), 1);
    }
    QVERIFY(recorder.reports().isEmpty());
}

// A model made while the service cannot be reached says so once and waits for its retry; the
// first answer the service gives again brings it up without waiting out the delay.
void tst_VentariModel::comesUpWhenTheServiceAnswersAgain()
{
    RetryDelays delays(host().started().pool(), 60000, 120000);
    sharedEmulator().addFault(Fault::droppedConnection().onPath("/api/2/streams/symbol/AAPL.json"));
    ObservedModel observed(host().stream("symbol"), "AAPL");
    QVERIFY(observed.observer.waitForEvents(1));
    QCOMPARE(observed.observer.take(), QStringList{cannotReach});
    QCOMPARE(pendingRefreshes(host()), 1);
    host().started().tick();
    QCoreApplication::processEvents();
    QCOMPARE(requestCount(QStringLiteral("streams/symbol/AAPL.json")), 1);

    sharedEmulator().clearFaults();
    const auto other = loadedModel("symbol", "MSFT");
    QVERIFY(other);
    for (int tick = 0; tick < 2 && observed.observer.events.isEmpty(); ++tick) {
        host().started().tick();
        if (QTest::qWaitFor([&] { return !observed.observer.events.isEmpty(); }, 2000))
            break;
    }
    QCOMPARE(observed.observer.take(), QStringList{idsEvent("added", newestAbout("AAPL", 30))});
}

// A stream whose newest messages came in the last seconds takes its turns more often than one
// with a message every few minutes; one on screen says so in its turns.
void tst_VentariModel::aBusyStreamWeighsMore()
{
    const auto busy = loadedModel("symbol", "AAPL");
    const auto quiet = loadedModel("symbol", "MSFT");
    QVERIFY(busy && quiet);
    const QList<int> posted = postAbout("AAPL", 20);
    host().started().tick();
    host().started().tick();
    QVERIFY(busy->observer.waitForEvents(1));
    QVERIFY(quiet->observer.waitForEvents(1));
    QCOMPARE(busy->observer.take(), QStringList{idsEvent("added", posted)});
    QCOMPARE(quiet->observer.take(), QStringList{"noChange"});
    // Twenty within seconds is far busier than a message a minute: the heaviest weight.
    QCOMPARE(pendingRefreshOf(host(), busy->model.get())->refreshTurn().weight, 4.0);
    QCOMPARE(pendingRefreshOf(host(), quiet->model.get())->refreshTurn().weight, 1.0);

    QVERIFY(!quiet->model->isOnScreen());
    quiet->model->setOnScreen(true);
    QVERIFY(quiet->model->isOnScreen());
    QVERIFY(pendingRefreshOf(host(), quiet->model.get())->refreshTurn().onScreen);
    QVERIFY(!pendingRefreshOf(host(), busy->model.get())->refreshTurn().onScreen);
}

// A host may hold a model after the plugin has ended: its commands then reach no stream and send
// nothing, each saying why.
void tst_VentariModel::modelOutlivesThePluginsServices()
{
    auto held = loadedModel("symbol", "AAPL");
    QVERIFY(held);
    QVERIFY(QMetaObject::invokeMethod(held->model.get(), "onStreamId", Q_ARG(int, symbolId("AAPL"))));
    const int newest = held->model->messages().last().id;
    m_hosts.reset();
    ReportRecorder recorder;

    held->model->forceUpdateData();
    held->model->loadOldMessages();
    held->model->follow(false);
    held->model->likeMessage(newest);
    const QString gone = QStringLiteral("s_instance");
    QCOMPARE(recorder.reportTexts(), (QStringList{gone, gone, gone, gone}));
    QCOMPARE(held->model->messageById(newest).id, newest);
    held.reset();
}

QTEST_MAIN(tst_VentariModel)
#include "tst_ventarimodel.moc"
