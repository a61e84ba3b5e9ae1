#include "dialogplayer.h"
#include "shareform.h"
#include "testhost.h"

#include "iauthorization.h"
#include "iventariservice.h"
#include "iventarimodel.h"
#include "sharedialog.h"
#include "requestspool.h"
#include "streams/iventaristream.h"
#include "tessel/itavsymbolmapper.h"
#include "ventariactionhandler.h"
#include "ventaristreamshandler.h"

#include <emulator/formdata.h>
#include <kelvar/iplugin.h>
#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>

#include <QtCore/QFile>
#include <QtCore/QPluginLoader>
#include <QtCore/QPointer>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>

#include <memory>

using Ventari::IVentariModel;
using Ventari::IVentariService;
using Ventari::ShareDialog;
using Ventari::Tessel::ITavSymbolMapper;

namespace {

const char hostUser[] = "trader";
const std::string sharePath = "/api/2/messages/create.json";

Kelvar::ServiceLocator* locator()
{
    return Kelvar::ServiceLocator::instance();
}

IVentariService* facade()
{
    return locator()->hasService<IVentariService>() ? locator()->service<IVentariService>() : nullptr;
}

Ventari::IVentariStream* stream(const QByteArray& id)
{
    return Ventari::VentariStreamsHandler::instance()->streamById(id);
}

QObject* objectOf(const QSharedPointer<IVentariModel>& model)
{
    return dynamic_cast<QObject*>(model.data());
}

// Whether the model's first page arrived from the service.
bool receivesMessages(const QSharedPointer<IVentariModel>& model)
{
    return QTest::qWaitFor([&] { return model->count() > 0; }, 10000);
}

QList<ShareDialog*> shareDialogs()
{
    QList<ShareDialog*> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<ShareDialog*>(widget))
            dialogs.append(dialog);
    }
    return dialogs;
}

// Every share post the service received since it last forgot its requests, decoded as the service
// decodes a form.
std::vector<Emulator::FormData> sharePosts()
{
    std::vector<Emulator::FormData> posts;
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests()) {
        if (request.path != sharePath)
            continue;
        const std::string type = request.header("Content-Type");
        posts.push_back(Emulator::Forms::isMultipart(type) ? Emulator::Forms::parseMultipart(type, request.body)
                                                          : Emulator::Forms::parseUrlEncoded(request.body));
    }
    return posts;
}

// Notes the order in which watched objects go, and what else was true at that moment.
class Departures : public QObject
{
public:
    void watch(QObject* object, const QString& name, std::function<QString()> state = {})
    {
        connect(object, &QObject::destroyed, this, [this, name, state] {
            order.append(name);
            if (state)
                states.insert(name, state());
        });
    }

    QStringList order;
    QMap<QString, QString> states;
};

} // namespace

// The plugin as the host drives it: loaded through QPluginLoader from the build tree, started and
// stopped, and its facade asked for models and for the share dialog, against the emulator.
class tst_VentariService : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void initRegistersBothServices();
    void termDestroysTheMapperBeforeTheFacade();
    void aModelHeldAcrossARestartSendsNothing();
    void aSecondInitLeavesTheRunningPluginAlone();
    void modelsAreSharedByKey_data();
    void modelsAreSharedByKey();
    void modelLivesWhileHeld();
    void emptyTextKeepsTheDialogAsItWasLeft();
    void eachRouteSendsWhatItSet_data();
    void eachRouteSendsWhatItSet();

private:
    Kelvar::IPlugin* plugin();
    // Starts the plugin for the host user, with a token of the service user alice stored or not,
    // and lets its queued start-up run.
    bool start(bool authorized);
    // Runs one of the three share routes of the facade.
    void share(const QString& route);

    QPluginLoader m_loader;
    std::unique_ptr<TemporarySettings> m_settings;
};

void tst_VentariService::initTestCase()
{
    QVERIFY(sharedEmulator().isRunning());
    Kelvar::Preferences::instance()->setUsername(QString::fromLatin1(hostUser));
    if (!locator()->hasService<Kelvar::INotifications>())
        locator()->addService<Kelvar::INotifications>(new Kelvar::Notifications);
    m_loader.setFileName(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
}

void tst_VentariService::init()
{
    sharedEmulator().clearFaults();
    sharedEmulator().rateLimiter().reset();
    sharedEmulator().clearRequests();
    m_settings = std::make_unique<TemporarySettings>();
    TestHost::storeRemoteSettings(m_settings->store());
}

void tst_VentariService::cleanup()
{
    if (locator()->hasService<IVentariService>())
        plugin()->term();
    m_settings.reset();
}

void tst_VentariService::cleanupTestCase()
{
    locator()->destroyService<Kelvar::INotifications>();
}

void tst_VentariService::initRegistersBothServices()
{
    ReportRecorder recorder;
    QVERIFY(!locator()->hasService<IVentariService>());
    QVERIFY(!locator()->hasService<ITavSymbolMapper>());
    QVERIFY(!Ventari::VentariStreamsHandler::instance());

    plugin()->init();
    QVERIFY(locator()->hasService<IVentariService>());
    QVERIFY(locator()->hasService<ITavSymbolMapper>());
    QVERIFY(facade()->authorization());
    // What the facade made: the stream registry and the action handler with its pool.
    QVERIFY(Ventari::VentariStreamsHandler::instance());
    QCOMPARE(Ventari::VentariStreamsHandler::instance()->streams().size(), 10);
    QVERIFY(Ventari::VentariActionHandler::instance());
    // The base initialisation registered the theme's style sheet.
    QVERIFY(QFile::exists(QStringLiteral(":/ventari/ventari.css")));
    QVERIFY_NO_REPORTS(recorder);
}

void tst_VentariService::termDestroysTheMapperBeforeTheFacade()
{
    QVERIFY(start(true));
    ReportRecorder recorder;
    facade()->shareText(QStringLiteral("before the end"));
    QCOMPARE(shareDialogs().size(), 1);
    QSharedPointer<IVentariModel> held = facade()->model(stream("trending"), QByteArray(), 0);
    QVERIFY(receivesMessages(held));
    QPointer<QObject> heldObject(objectOf(held));

    Departures departures;
    departures.watch(dynamic_cast<QObject*>(locator()->service<ITavSymbolMapper>()), QStringLiteral("mapper"), [] {
        return QStringLiteral("facade registered: %1, mapper registered: %2")
            .arg(locator()->hasService<IVentariService>())
            .arg(locator()->hasService<ITavSymbolMapper>());
    });
    departures.watch(shareDialogs().first(), QStringLiteral("share dialog"), [] {
        return QStringLiteral("registry: %1").arg(Ventari::VentariStreamsHandler::instance() != nullptr);
    });
    departures.watch(dynamic_cast<QObject*>(facade()->authorization()), QStringLiteral("authorization"));
    Ventari::VentariActionHandler* handler = Ventari::VentariActionHandler::instance();
    departures.watch(handler->requestPool(), QStringLiteral("request pool"));
    departures.watch(handler, QStringLiteral("action handler"));

    plugin()->term();
    QCOMPARE(departures.order, (QStringList{QStringLiteral("mapper"), QStringLiteral("share dialog"), QStringLiteral("authorization"),
                                            QStringLiteral("request pool"), QStringLiteral("action handler")}));
    QCOMPARE(departures.states.value(QStringLiteral("mapper")), QStringLiteral("facade registered: 1, mapper registered: 0"));
    QCOMPARE(departures.states.value(QStringLiteral("share dialog")), QStringLiteral("registry: 0"));
    QVERIFY(!locator()->hasService<IVentariService>());
    QVERIFY(!locator()->hasService<ITavSymbolMapper>());
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/ventari.css")));

    // A model the host still holds outlives the facade until the host lets it go.
    QVERIFY(heldObject);
    held.reset();
    QVERIFY(!heldObject);
    QVERIFY_NO_REPORTS(recorder);
}

// The held model's stream went with the first registry: neither its loads nor its older pages
// may read it, though a second start made a registry and a handler of its own.
void tst_VentariService::aModelHeldAcrossARestartSendsNothing()
{
    QVERIFY(start(false));
    QSharedPointer<IVentariModel> held = facade()->model(stream("symbol"), "AAPL", 0);
    QVERIFY(receivesMessages(held));
    plugin()->term();
    QVERIFY(start(false));
    ReportRecorder recorder;

    held->forceUpdateData();
    held->loadOldMessages();
    held->follow(true);
    const QString gone = QStringLiteral("ventarimodel Ventari::VentariModel::servicesRunning: "
                                        "m_registry == VentariStreamsHandler::generation()");
    QCOMPARE(reportsOf(recorder), (QStringList{gone, gone, gone}));
    QCoreApplication::processEvents();
    QVERIFY(sharedEmulator().requests().empty());
    // The new start's own models are fine.
    QVERIFY(receivesMessages(facade()->model(stream("symbol"), "AAPL", 0)));
}

void tst_VentariService::aSecondInitLeavesTheRunningPluginAlone()
{
    QVERIFY(start(false));
    IVentariService* running = facade();
    Ventari::VentariStreamsHandler* registry = Ventari::VentariStreamsHandler::instance();
    Ventari::VentariActionHandler* handler = Ventari::VentariActionHandler::instance();
    ReportRecorder recorder;

    plugin()->init();
    QCOMPARE(reportsOf(recorder), QStringList{"ventariplugin Ventari::VentariPlugin::init: !locator->hasService<IVentariService>()"});
    QCOMPARE(facade(), running);
    QCOMPARE(Ventari::VentariStreamsHandler::instance(), registry);
    QCOMPARE(Ventari::VentariActionHandler::instance(), handler);
    QVERIFY(receivesMessages(facade()->model(stream("trending"), QByteArray(), 0)));
}

void tst_VentariService::modelsAreSharedByKey_data()
{
    QTest::addColumn<QStringList>("first");  // stream, value and filter
    QTest::addColumn<QStringList>("second");
    QTest::addColumn<bool>("same");

    QTest::newRow("same symbol, value and filter") << QStringList{"symbol", "AAPL", "0"} << QStringList{"symbol", "AAPL", "0"} << true;
    QTest::newRow("same fixed stream and filter") << QStringList{"trending", "", "3"} << QStringList{"trending", "", "3"} << true;
    QTest::newRow("only the filter differs") << QStringList{"symbol", "AAPL", "0"} << QStringList{"symbol", "AAPL", "1"} << false;
    QTest::newRow("only the value differs") << QStringList{"symbol", "AAPL", "2"} << QStringList{"symbol", "MSFT", "2"} << false;
    QTest::newRow("only the stream differs") << QStringList{"trending", "", "0"} << QStringList{"suggested", "", "0"} << false;
    QTest::newRow("value in another case") << QStringList{"user", "alice", "0"} << QStringList{"user", "Alice", "0"} << false;
}

void tst_VentariService::modelsAreSharedByKey()
{
    QFETCH(QStringList, first);
    QFETCH(QStringList, second);
    QFETCH(bool, same);

    QVERIFY(start(false));
    ReportRecorder recorder;
    auto model = [](const QStringList& key) {
        return facade()->model(stream(key.at(0).toLatin1()), key.at(1).toLatin1(), key.at(2).toInt());
    };
    const QSharedPointer<IVentariModel> firstModel = model(first);
    const QSharedPointer<IVentariModel> secondModel = model(second);
    QVERIFY(firstModel && secondModel);
    QCOMPARE(firstModel == secondModel, same);
    QVERIFY(receivesMessages(firstModel));
    QVERIFY(receivesMessages(secondModel));
    QVERIFY_NO_REPORTS(recorder);
}

// A released model goes; the next request for its key makes one anew, which loads afresh.
void tst_VentariService::modelLivesWhileHeld()
{
    QVERIFY(start(false));
    ReportRecorder recorder;
    Ventari::IVentariStream* trending = stream("trending");
    QSharedPointer<IVentariModel> first = facade()->model(trending, QByteArray(), 0);
    QSharedPointer<IVentariModel> second = facade()->model(trending, QByteArray(), 0);
    QPointer<QObject> shared(objectOf(first));
    first.reset();
    QVERIFY(shared);
    QCOMPARE(facade()->model(trending, QByteArray(), 0), second);
    QVERIFY(receivesMessages(second));

    second.reset();
    QVERIFY(!shared);
    sharedEmulator().clearRequests();
    const QSharedPointer<IVentariModel> renewed = facade()->model(trending, QByteArray(), 0);
    QVERIFY(objectOf(renewed));
    QVERIFY(receivesMessages(renewed));
    // Once: a new model makes one full load.
    const auto requests = sharedEmulator().requests();
    QCOMPARE(std::count_if(requests.begin(), requests.end(),
                           [](const Emulator::RecordedRequest& r) { return r.path == "/api/2/streams/trending.json"; }),
             1);
    QVERIFY_NO_REPORTS(recorder);
}

void tst_VentariService::emptyTextKeepsTheDialogAsItWasLeft()
{
    QVERIFY(start(true));
    ReportRecorder recorder;
    facade()->shareImage(QStringLiteral("chart1"), testPicture(48, 32));
    QCOMPARE(shareDialogs().size(), 1);
    ShareDialog* dialog = shareDialogs().first();
    const ShareForm form{dialog};
    QVERIFY(form.isComplete());
    QVERIFY(dialog->isVisible());
    QVERIFY(dialog->parent() == nullptr);
    QCOMPARE(form.text->toPlainText(), QString());
    QCOMPARE(form.attachment(), QStringLiteral("chart1"));

    QTest::keyClicks(form.text, QStringLiteral("gap filled"));
    dialog->hide();
    facade()->shareText(QString());
    QCOMPARE(shareDialogs(), QList<ShareDialog*>{dialog});
    QVERIFY(dialog->isVisible());
    QCOMPARE(form.text->toPlainText(), QStringLiteral("gap filled"));
    QCOMPARE(form.attachment(), QStringLiteral("chart1"));

    // A text of its own starts afresh, with the cursor after it.
    facade()->shareText(QStringLiteral("$AAPL next stop 207?"));
    QCOMPARE(shareDialogs(), QList<ShareDialog*>{dialog});
    QCOMPARE(form.text->toPlainText(), QStringLiteral("$AAPL next stop 207?"));
    QCOMPARE(form.attachment(), QStringLiteral("none"));
    QCOMPARE(form.text->textCursor().position(), QStringLiteral("$AAPL next stop 207?").size());
    QVERIFY_NO_REPORTS(recorder);
}

void tst_VentariService::eachRouteSendsWhatItSet_data()
{
    QTest::addColumn<QString>("route");
    QTest::addColumn<bool>("authorized");    // else the user declines the authorization it asks for
    QTest::addColumn<QString>("text");       // in the dialog and sent as the body
    QTest::addColumn<QString>("attachment"); // the name shown; "none"
    QTest::addColumn<QString>("inReplyTo");  // sent; empty when absent

    QTest::newRow("image") << "image" << true << QString() << "chart1" << QString();
    QTest::newRow("text") << "text" << true << "$AAPL gap filled" << "none" << QString();
    QTest::newRow("reply") << "reply" << true << "@alice " << "none" << "42";
    for (const char* route : {"image", "text", "reply"})
        QTest::addRow("%s, authorization declined", route) << route << false << QString() << QString() << QString();
}

void tst_VentariService::eachRouteSendsWhatItSet()
{
    QFETCH(QString, route);
    QFETCH(bool, authorized);
    QFETCH(QString, text);
    QFETCH(QString, attachment);
    QFETCH(QString, inReplyTo);

    QVERIFY(start(authorized));
    ReportRecorder recorder;
    if (!authorized) {
        DialogPlayer player{QString()};
        share(route);
        QCOMPARE(player.handled, 1);
        QVERIFY(shareDialogs().isEmpty());
        QVERIFY(!facade()->authorization()->isAuthorized());
        QVERIFY(sharePosts().empty());
        QVERIFY_NO_REPORTS(recorder);
        return;
    }
    // Whatever an earlier share left: a reply to another message, with a picture.
    facade()->replyToMessage(7, QStringLiteral("bob"));
    ShareDialog* dialog = shareDialogs().value(0);
    QVERIFY(dialog);
    dialog->setAttachment(QStringLiteral("old"), testPicture(48, 32));
    dialog->hide();

    share(route);
    QCOMPARE(shareDialogs(), QList<ShareDialog*>{dialog});
    QVERIFY(dialog->isVisible());
    const ShareForm form{dialog};
    QCOMPARE(form.text->toPlainText(), text);
    QCOMPARE(form.attachment(), attachment);

    sharedEmulator().clearRequests();
    QVERIFY(form.sendButton->isEnabled());
    form.sendButton->click();
    QVERIFY(QTest::qWaitFor([] { return !sharePosts().empty(); }));
    const std::vector<Emulator::FormData> posts = sharePosts();
    QCOMPARE(posts.size(), std::size_t(1));
    const Emulator::FormData& post = posts.front();
    QVERIFY(post.ok);
    QCOMPARE(QString::fromStdString(post.value("body")), text);
    QCOMPARE(QString::fromStdString(post.value("in_reply_to_message_id")), inReplyTo);
    QCOMPARE(post.has("in_reply_to_message_id"), !inReplyTo.isEmpty());
    QCOMPARE(post.has("chart"), attachment != QLatin1String("none"));
    QVERIFY_NO_REPORTS(recorder);
}

Kelvar::IPlugin* tst_VentariService::plugin()
{
    return qobject_cast<Kelvar::IPlugin*>(m_loader.instance());
}

bool tst_VentariService::start(bool authorized)
{
    const std::string token = authorized ? sharedEmulator().issueToken("alice") : std::string();
    m_settings->store()->setValue(QByteArray(hostUser) + "vr_auth", QString::fromStdString(token));
    plugin()->init();
    if (!facade())
        return false;
    QCoreApplication::processEvents();
    if (authorized && !QTest::qWaitFor([] { return facade()->authorization()->userInfo().info.username == QLatin1String("alice"); }))
        return false;
    sharedEmulator().clearRequests();
    return true;
}

void tst_VentariService::share(const QString& route)
{
    if (route == QLatin1String("image"))
        facade()->shareImage(QStringLiteral("chart1"), testPicture(48, 32));
    else if (route == QLatin1String("text"))
        facade()->shareText(QStringLiteral("$AAPL gap filled"));
    else
        facade()->replyToMessage(42, QStringLiteral("alice"));
}

QTEST_MAIN(tst_VentariService)
#include "tst_ventariservice.moc"
