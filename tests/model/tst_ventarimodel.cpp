#include "modelfixture.h"

#include "authorization/authorization.h"

#include <kelvar/notifications.h>

#include <QtTest/QtTest>

using namespace ModelTest;
using StreamsTest::StreamHost;
using Ventari::VentariModel;

namespace {

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

} // namespace

// The model with the pages and answers its actions would bring handed to it directly, so that every
// id list can be written down; its own loads go to a symbol the service does not know and fail.
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

private:
    // Alice's host, kept from test to test.
    StreamHost& host() { return m_hosts.get(true); }
    // A model whose own two loads have failed, and nothing else has happened to it.
    std::unique_ptr<ObservedModel> quietModel(const StreamHost& host);

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
    if (!observed->observer.waitForEvents(2) || observed->observer.take() != QStringList{streamNotFound, streamNotFound})
        return nullptr;
    return observed;
}

void tst_VentariModel::merges_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<QString>("result");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<int>("refreshes");

    QTest::newRow("first page") << QStringList{"page:30 20 10"} << QStringList{"added 10 20 30"} << "10 20 30" << false << 1;
    QTest::newRow("empty first page") << QStringList{"page:"} << QStringList{"noData"} << "" << true << 1;
    QTest::newRow("identical refresh") << QStringList{"page:30 20 10", "page:30 20 10"}
                                       << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 2;
    QTest::newRow("a like on the service") << QStringList{"page:30 20 10", "page:30 20+7 10"}
                                           << QStringList{"added 10 20 30", "changed 20"} << "10 20+7 30" << false << 2;
    QTest::newRow("a changed body alone") << QStringList{"page:30 20 10", "page:30 20* 10"}
                                          << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 2;
    QTest::newRow("10 20 30, then 10 20 25 30") << QStringList{"page:30 20 10", "page:30 25 20 10"}
                                                << QStringList{"added 10 20 30", "removed 30", "added 25 30"}
                                                << "10 20 25 30" << false << 2;
    QTest::newRow("10 15 20, then 10 20") << QStringList{"page:20 15 10", "page:20 10"}
                                          << QStringList{"added 10 15 20", "removed 15"} << "10 20" << false << 2;
    QTest::newRow("removed, added and changed, in this order")
        << QStringList{"page:40 30 20 10", "page:50 40 30+7 10"}
        << QStringList{"added 10 20 30 40", "removed 20", "added 50", "changed 30"} << "10 30+7 40 50" << false << 2;
    QTest::newRow("older page") << QStringList{"page:30 20 10", "older:7 5"}
                                << QStringList{"added 10 20 30", "added 5 7"} << "5 7 10 20 30" << false << 2;
    QTest::newRow("older page empty") << QStringList{"page:30 20 10", "older:"}
                                      << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << true << 2;
    QTest::newRow("unsorted page") << QStringList{"page:20 40 10 30"} << QStringList{"added 10 20 30 40"}
                                   << "10 20 30 40" << false << 1;
    QTest::newRow("an empty refresh keeps the list") << QStringList{"page:10", "page:"}
                                                     << QStringList{"added 10", "noChange"} << "10" << false << 2;
    QTest::newRow("finished stays once set") << QStringList{"page:", "page:10"} << QStringList{"noData", "added 10"}
                                             << "10" << true << 2;
    QTest::newRow("like answer") << QStringList{"page:30 20 10", "like:20+7"}
                                 << QStringList{"added 10 20 30", "changed 20"} << "10 20+7 30" << false << 1;
    QTest::newRow("like answer changing nothing") << QStringList{"page:30 20 10", "like:20"}
                                                  << QStringList{"added 10 20 30", "noChange"} << "10 20 30" << false << 1;
    QTest::newRow("like answer of the newest") << QStringList{"page:30 20 10", "like:30+7+9"}
                                               << QStringList{"added 10 20 30", "changed 30"} << "10 20 30+7+9" << false << 1;
}

void tst_VentariModel::merges()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, events);
    QFETCH(QString, result);
    QFETCH(bool, finished);
    QFETCH(int, refreshes);

    StreamHost& host = this->host();
    QVERIFY(host.isStarted());
    const auto observed = quietModel(host);
    QVERIFY(observed);
    QCOMPARE(pendingRefreshes(host), 0); // failed loads end their chains
    ReportRecorder recorder;
    for (const QString& step : steps)
        QVERIFY2(feed(observed->model.get(), step), qPrintable(step));
    QCOMPARE(observed->observer.events, events);
    QCOMPARE(notationOf(observed->model->messages()), result);
    QCOMPARE(observed->model->isFinished(), finished);
    QCOMPARE(pendingRefreshes(host), refreshes);
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
    QVERIFY(observed.observer.waitForEvents(2));
    observed.observer.take();
    if (subjectReported)
        QVERIFY(QMetaObject::invokeMethod(observed.model.get(), "onStreamId", Q_ARG(int, userId("dave"))));
    ReportRecorder recorder;

    older ? observed.model->loadOldMessages() : observed.model->follow(true);
    QVERIFY(recorder.isEmpty()); // the pool logs every request it is given, at once
    QCoreApplication::processEvents();
    QCOMPARE(observed.observer.events, QStringList());
}

QTEST_MAIN(tst_VentariModel)
#include "tst_ventarimodel.moc"
