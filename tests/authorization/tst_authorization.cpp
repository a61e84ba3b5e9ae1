#include "testhost.h"

#include "authorization/authorization.h"
#include "authorization/authorizationdialog.h"
#include "requestspool.h"
#include "ventariactionhandler.h"

#include <kelvar/preferences.h>
#include <settings/settingsstore.h>

#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QSet>
#include <QtCore/QTimer>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWidgets/QApplication>

using Ventari::Authorization;
using Ventari::AuthorizationDialog;
using Ventari::StoredUserInfo;
using Ventari::UserInfo;

// Qt's hook for signal dumpers (QtTest's own -vs option uses it): it sees every emission, whether
// anything is connected or not. Declared here because Qt keeps it in a private header.
struct QSignalSpyCallbackSet
{
    using BeginCallback = void (*)(QObject* caller, int signalOrMethodIndex, void** argv);
    using EndCallback = void (*)(QObject* caller, int signalOrMethodIndex);
    BeginCallback signal_begin_callback;
    BeginCallback slot_begin_callback;
    EndCallback signal_end_callback;
    EndCallback slot_end_callback;
};
Q_CORE_EXPORT void qt_register_signal_spy_callbacks(QSignalSpyCallbackSet* callbackSet);

namespace {

const char userInfoPath[] = "/api/2/account/verify.json";
const int pageTimeoutMs = 15000;

// Every signal any Authorization emits while the watch lives, construction included.
class EmissionWatch
{
public:
    EmissionWatch()
    {
        s_emissions.clear();
        qt_register_signal_spy_callbacks(&s_callbacks);
    }
    ~EmissionWatch() { qt_register_signal_spy_callbacks(nullptr); }
    EmissionWatch(const EmissionWatch&) = delete;
    EmissionWatch& operator=(const EmissionWatch&) = delete;

    QStringList emissions() const { return s_emissions; }

private:
    static void onSignal(QObject* caller, int signalIndex, void**)
    {
        // Called from every thread; only the GUI thread's Authorization objects are of interest.
        const QMetaObject* meta = caller->metaObject();
        if (meta != &Authorization::staticMetaObject)
            return;
        int signal = 0;
        for (int i = 0; i < meta->methodCount(); ++i) {
            const QMetaMethod method = meta->method(i);
            if (method.methodType() != QMetaMethod::Signal)
                continue;
            if (signal++ == signalIndex) {
                s_emissions.append(QString::fromLatin1(method.name()));
                return;
            }
        }
    }

    static QStringList s_emissions;
    static QSignalSpyCallbackSet s_callbacks;
};

QStringList EmissionWatch::s_emissions;
QSignalSpyCallbackSet EmissionWatch::s_callbacks = {&EmissionWatch::onSignal, nullptr, nullptr, nullptr};

std::vector<Emulator::RecordedRequest> userInfoRequests(const std::string& token)
{
    std::vector<Emulator::RecordedRequest> found;
    for (const auto& request : sharedEmulator().requests()) {
        if (request.path == userInfoPath && request.queryValue("access_token") == token)
            found.push_back(request);
    }
    return found;
}

// A request that must not come is given this long to show up anyway.
void graceForUnexpectedRequests()
{
    QTest::qWait(200);
}

QByteArray fileContents(const QString& fileName)
{
    QFile file(fileName);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

int userId(const std::string& username)
{
    const auto user = sharedEmulator().store().userByName(username);
    return user ? user->id : -2;
}

} // namespace

// Observes an authorization state the way the rest of the plugin does: through the notifier.
// Each entry tells the signal and the state it was emitted in.
class NotifierObserver : public QObject
{
    Q_OBJECT

public:
    explicit NotifierObserver(Authorization* authorization)
        : m_authorization(authorization)
    {
        authorization->subscribe("authorizationChanged", this, "onAuthorizationChanged");
        authorization->subscribe("userInfoChanged", this, "onUserInfoChanged");
    }

    QStringList signalNames() const
    {
        QStringList names;
        for (const QString& event : events)
            names.append(event.section(QLatin1Char(' '), 0, 0));
        return names;
    }

    QStringList events;

public slots:
    void onAuthorizationChanged()
    {
        events.append(QStringLiteral("authorizationChanged ") + state());
    }
    void onUserInfoChanged() { events.append(QStringLiteral("userInfoChanged ") + state()); }

private:
    QString state() const
    {
        const SettingsStore* store = SettingsStore::of(QCoreApplication::instance());
        const QByteArray user = Kelvar::Preferences::instance()->username().toUtf8();
        return QStringLiteral("token=%1 user=%2 stored=%3")
            .arg(QString::fromUtf8(m_authorization->token()))
            .arg(m_authorization->userInfo().info.id)
            .arg(store->value(user + "vr_auth").toString());
    }

    Authorization* m_authorization;
};

// Plays the user at the modal authorization dialog: once the service's form is in it, runs a
// script in its page, or closes the dialog when there is no script.
class DialogPlayer : public QObject
{
    Q_OBJECT

public:
    explicit DialogPlayer(const QString& script)
        : m_script(script)
    {
        connect(&m_timer, &QTimer::timeout, this, &DialogPlayer::onPoll);
        m_timer.start(20);
        m_clock.start();
    }

    int dialogsHandled() const { return m_handled.size(); }
    bool allModal() const { return m_allModal; }
    bool timedOut() const { return m_timedOut; }

private slots:
    void onPoll()
    {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* dialog = qobject_cast<AuthorizationDialog*>(widget);
            if (!dialog || !dialog->isVisible() || m_handled.contains(dialog))
                continue;
            if (m_clock.hasExpired(pageTimeoutMs)) {
                m_timedOut = true;
                dialog->reject();
                continue;
            }
            QWebFrame* frame = dialog->webView()->page()->mainFrame();
            const bool formShown = frame
                                       ->evaluateJavaScript(QStringLiteral(
                                           "document.getElementById('authorize') != null && typeof approve == 'function'"))
                                       .toBool();
            if (!formShown)
                continue;
            m_handled.insert(dialog);
            m_allModal = m_allModal && QApplication::activeModalWidget() == dialog;
            if (m_script.isEmpty())
                dialog->close();
            else
                frame->evaluateJavaScript(m_script);
        }
    }

private:
    QString m_script;
    QTimer m_timer;
    QElapsedTimer m_clock;
    QSet<QWidget*> m_handled;
    bool m_allModal = true;
    bool m_timedOut = false;
};

// The authorization state with a real settings file, the emulator and the real dialog.
class tst_Authorization : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void metaObject();
    void freshStart();
    void startWithStoredToken();
    void equalAnswerChangesNothing();
    void failedUserInfoResetsToken_data();
    void failedUserInfoResetsToken();
    void hostUsersKeptApart();
    void authorizeWhileAuthorized();
    void authorizeThroughDialog_data();
    void authorizeThroughDialog();
    void authorizeRefused_data();
    void authorizeRefused();
    void logTexts_data();
    void logTexts();
};

void tst_Authorization::init()
{
    sharedEmulator().clearRequests();
    sharedEmulator().clearFaults();
}

void tst_Authorization::cleanup()
{
    sharedEmulator().clearFaults();
}

void tst_Authorization::metaObject()
{
    ReportRecorder recorder;
    TestHost host;
    Authorization* authorization = host.authorization();
    const QMetaObject* meta = authorization->metaObject();
    QCOMPARE(meta->className(), "Ventari::Authorization");
    QCOMPARE(authorization->qt_metacast("IAuthorization"),
             static_cast<void*>(static_cast<Ventari::IAuthorization*>(authorization)));
    QCOMPARE(authorization->qt_metacast("Common::AbstractNotifier"),
             static_cast<void*>(static_cast<Common::AbstractNotifier*>(authorization)));

    const QList<QPair<QByteArray, QMetaMethod::MethodType>> expected = {
        {"authorizationChanged()", QMetaMethod::Signal},
        {"userInfoChanged()", QMetaMethod::Signal},
        {"onUserInfo(UserInfo)", QMetaMethod::Slot},
        {"onUserInfoError(ResponseError)", QMetaMethod::Slot},
        {"requestUserInfo()", QMetaMethod::Slot},
    };
    QCOMPARE(meta->methodCount() - meta->methodOffset(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaMethod method = meta->method(meta->methodOffset() + i);
        QCOMPARE(method.methodSignature(), expected.at(i).first);
        QCOMPARE(method.methodType(), expected.at(i).second);
    }
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::freshStart()
{
    ReportRecorder recorder;
    EmissionWatch watch;
    TestHost host(QStringLiteral("fresh"));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);

    QVERIFY(!authorization->isAuthorized());
    QVERIFY(authorization->token().isEmpty());
    // Read from an empty map: id 0, which is not the empty mark of a default record.
    const StoredUserInfo user = authorization->userInfo();
    QCOMPARE(user.info.id, 0);
    QVERIFY(user.info.username.isEmpty());
    QVERIFY(!user.isEmpty);

    graceForUnexpectedRequests();
    QVERIFY(userInfoRequests(std::string()).empty());
    QVERIFY(watch.emissions().isEmpty());
    QVERIFY(observer.events.isEmpty());
    QVERIFY(!host.settings().store()->value("freshvr_auth").isValid());
    QVERIFY(!host.settings().store()->value("freshuserInfo").isValid());
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::startWithStoredToken()
{
    Emulator::Service& emulator = sharedEmulator();
    const std::string token = emulator.issueToken("alice");
    const auto alice = emulator.store().userByName("alice");
    QVERIFY(alice);
    ReportRecorder recorder;

    EmissionWatch watch;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    QVERIFY(watch.emissions().isEmpty());
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    QVERIFY(authorization->isAuthorized());
    QCOMPARE(authorization->token(), QByteArray::fromStdString(token));
    QCOMPARE(authorization->userInfo().info.id, 0);
    QVERIFY(userInfoRequests(token).empty());

    QVERIFY(QTest::qWaitFor([&] { return !observer.events.isEmpty(); }));
    QCOMPARE(observer.signalNames(), QStringList{QStringLiteral("userInfoChanged")});
    QCOMPARE(watch.emissions(), QStringList{QStringLiteral("userInfoChanged")});
    QCOMPARE(int(userInfoRequests(token).size()), 1);

    const StoredUserInfo user = authorization->userInfo();
    QVERIFY(!user.isEmpty);
    QCOMPARE(user.info.id, alice->id);
    QCOMPARE(user.info.username, QStringLiteral("alice"));
    QCOMPARE(user.info.name, QString::fromStdString(alice->name));
    QCOMPARE(user.info.joinDate.toSecsSinceEpoch(), alice->joinedAt);
    QVERIFY(!user.info.avatarUrl.isEmpty());
    QVERIFY(authorization->isAuthorized());

    SettingsStore* store = host.settings().store();
    QCOMPARE(store->value("tradervr_auth").toString(), QString::fromStdString(token));
    QCOMPARE(Ventari::userInfoFromVariant(store->value("traderuserInfo")), user.info);
    // What a restarted host reads back from the file.
    store = host.settings().reopen();
    QCOMPARE(Ventari::userInfoFromVariant(store->value("traderuserInfo")), user.info);
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::equalAnswerChangesNothing()
{
    const std::string token = sharedEmulator().issueToken("bob");
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    NotifierObserver observer(host.authorization());
    QVERIFY(QTest::qWaitFor([&] { return !observer.events.isEmpty(); }));

    // A key the record's reader ignores: it stays only as long as nobody rewrites the record.
    QVariantMap stored = host.settings().store()->value("traderuserInfo").toMap();
    stored.insert(QStringLiteral("untouched"), true);
    host.settings().store()->setValue("traderuserInfo", stored);
    const QString fileName = host.settings().fileName();
    const QByteArray contents = fileContents(fileName);
    const QDateTime modified = QFileInfo(fileName).lastModified();
    observer.events.clear();

    SettingsStore* store = host.settings().reopen();
    Authorization restarted;
    NotifierObserver restartedObserver(&restarted);
    QCOMPARE(restarted.userInfo().info, host.authorization()->userInfo().info);
    QSignalSpy answered(host.handler()->requestPool(), SIGNAL(replyDone(int, QByteArray)));
    QVERIFY(answered.wait());
    QCOMPARE(int(userInfoRequests(token).size()), 2);

    QVERIFY(restartedObserver.events.isEmpty());
    QVERIFY(observer.events.isEmpty());
    QCOMPARE(restarted.userInfo().info, host.authorization()->userInfo().info);
    QVERIFY(store->value("traderuserInfo").toMap().value(QStringLiteral("untouched")).toBool());
    QCOMPARE(fileContents(fileName), contents);
    QCOMPARE(QFileInfo(fileName).lastModified(), modified);
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::failedUserInfoResetsToken_data()
{
    QTest::addColumn<bool>("revoked");
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<QStringList>("signalNames");

    const QString changed = QStringLiteral("authorizationChanged");
    const QString userChanged = QStringLiteral("userInfoChanged");
    // The service refusing the token makes the pool reset it first; the failed action then
    // resets it again.
    QTest::newRow("revoked token") << true << -1 << QStringList{changed, userChanged, changed, userChanged};
    QTest::newRow("service error") << false << int(Emulator::FaultKind::ErrorStatus)
                                   << QStringList{changed, userChanged};
    QTest::newRow("broken reply") << false << int(Emulator::FaultKind::MalformedBody)
                                  << QStringList{changed, userChanged};
}

void tst_Authorization::failedUserInfoResetsToken()
{
    QFETCH(bool, revoked);
    QFETCH(int, fault);
    QFETCH(QStringList, signalNames);

    Emulator::Service& emulator = sharedEmulator();
    const std::string token = emulator.issueToken("carol");
    if (revoked)
        QVERIFY(emulator.revokeToken(token));
    if (fault == int(Emulator::FaultKind::ErrorStatus))
        emulator.addFault(Emulator::Fault::errorStatus(500).onPath(userInfoPath).times(1));
    else if (fault == int(Emulator::FaultKind::MalformedBody))
        emulator.addFault(Emulator::Fault::malformedBody().onPath(userInfoPath).times(1));

    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() >= signalNames.size(); }));
    QCOMPARE(observer.signalNames(), signalNames);
    // Saved before the signals go out.
    QCOMPARE(observer.events.first(), QStringLiteral("authorizationChanged token= user=-1 stored="));
    QCOMPARE(int(userInfoRequests(token).size()), 1);

    QVERIFY(!authorization->isAuthorized());
    QVERIFY(authorization->token().isEmpty());
    QVERIFY(authorization->userInfo().isEmpty);
    QCOMPARE(authorization->userInfo().info.id, -1);

    SettingsStore* store = host.settings().reopen();
    QVERIFY(store->value("tradervr_auth").isValid());
    QCOMPARE(store->value("tradervr_auth").toString(), QString());
    QCOMPARE(Ventari::userInfoFromVariant(store->value("traderuserInfo")), UserInfo());

    sharedEmulator().clearRequests();
    Authorization next;
    QVERIFY(!next.isAuthorized());
    QVERIFY(next.userInfo().isEmpty);
    QCOMPARE(next.userInfo().info.id, -1);
    graceForUnexpectedRequests();
    QVERIFY(userInfoRequests(std::string()).empty());
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::hostUsersKeptApart()
{
    Emulator::Service& emulator = sharedEmulator();
    const QString annaToken = QString::fromStdString(emulator.issueToken("alice"));
    const QString borisToken = QString::fromStdString(emulator.issueToken("bob"));
    ReportRecorder recorder;
    TestHost host(QStringLiteral("anna"), annaToken.toUtf8());
    NotifierObserver observer(host.authorization());
    QVERIFY(QTest::qWaitFor([&] { return !observer.events.isEmpty(); }));
    SettingsStore* store = host.settings().store();

    Kelvar::Preferences::instance()->setUsername(QStringLiteral("boris"));
    {
        Authorization boris;
        QVERIFY(!boris.isAuthorized());
    }
    store->setValue("borisvr_auth", borisToken);
    {
        // Gone before the event loop runs, so its queued user-info request never goes out.
        Authorization boris;
        QCOMPARE(boris.token(), borisToken.toUtf8());
        boris.resetToken();
    }
    QCOMPARE(store->value("borisvr_auth").toString(), QString());
    QCOMPARE(Ventari::userInfoFromVariant(store->value("borisuserInfo")).id, -1);
    QCOMPARE(store->value("annavr_auth").toString(), annaToken);
    QCOMPARE(Ventari::userInfoFromVariant(store->value("annauserInfo")).username, QStringLiteral("alice"));
    QVERIFY(host.authorization()->isAuthorized());

    Kelvar::Preferences::instance()->setUsername(QStringLiteral("anna"));
    Authorization anna;
    QCOMPARE(anna.token(), annaToken.toUtf8());
    QCOMPARE(anna.userInfo().info.username, QStringLiteral("alice"));
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::authorizeWhileAuthorized()
{
    const std::string token = sharedEmulator().issueToken("dave");
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), QByteArray::fromStdString(token));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    QVERIFY(QTest::qWaitFor([&] { return !observer.events.isEmpty(); }));
    observer.events.clear();
    const QByteArray contents = fileContents(host.settings().fileName());
    const qint64 shown = Corvane::counterValue(QStringLiteral("Window.AuthorizationDialog.count"));

    DialogPlayer player(QStringLiteral("approve('alice')"));
    QVERIFY(authorization->authorize());
    QCOMPARE(player.dialogsHandled(), 0);
    QCOMPARE(Corvane::counterValue(QStringLiteral("Window.AuthorizationDialog.count")), shown);
    QCOMPARE(authorization->token(), QByteArray::fromStdString(token));
    QVERIFY(observer.events.isEmpty());
    QCOMPARE(fileContents(host.settings().fileName()), contents);
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::authorizeThroughDialog_data()
{
    QTest::addColumn<QString>("account");
    QTest::newRow("alice") << "alice";
    QTest::newRow("carol") << "carol";
}

void tst_Authorization::authorizeThroughDialog()
{
    QFETCH(QString, account);
    Emulator::Service& emulator = sharedEmulator();
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    const std::size_t issued = emulator.tokens().count();

    DialogPlayer player(QStringLiteral("approve('%1')").arg(account));
    QVERIFY(authorization->authorize());
    QCOMPARE(player.dialogsHandled(), 1);
    QVERIFY(player.allModal());
    QVERIFY(!player.timedOut());

    const QByteArray token = authorization->token();
    QVERIFY(authorization->isAuthorized());
    QCOMPARE(emulator.tokens().count(), issued + 1);
    QCOMPARE(emulator.tokens().userOf(token.toStdString()), std::optional<int>(userId(account.toStdString())));
    QCOMPARE(host.settings().store()->value("tradervr_auth").toString(), QString::fromUtf8(token));
    // Announced with the token already saved; the user record is not cleared.
    const QString state = QStringLiteral("token=%1 user=0 stored=%1").arg(QString::fromUtf8(token));
    QCOMPARE(observer.events, QStringList{QStringLiteral("authorizationChanged ") + state});

    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() == 2; }));
    QCOMPARE(observer.signalNames().last(), QStringLiteral("userInfoChanged"));
    QCOMPARE(int(userInfoRequests(token.toStdString()).size()), 1);
    QCOMPARE(authorization->userInfo().info.username, account);
    QCOMPARE(authorization->userInfo().info.id, userId(account.toStdString()));
    QCOMPARE(Ventari::userInfoFromVariant(host.settings().store()->value("traderuserInfo")),
             authorization->userInfo().info);

    for (QWidget* widget : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<AuthorizationDialog*>(widget));
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));

    // A restarted host is authorized from the start.
    host.settings().reopen();
    Authorization restarted;
    QVERIFY(restarted.isAuthorized());
    QCOMPARE(restarted.token(), token);
    QCOMPARE(restarted.userInfo().info, authorization->userInfo().info);
}

void tst_Authorization::authorizeRefused_data()
{
    QTest::addColumn<QString>("script");
    QTest::newRow("denied") << "deny()";
    QTest::newRow("closed") << "";
}

void tst_Authorization::authorizeRefused()
{
    QFETCH(QString, script);
    Emulator::Service& emulator = sharedEmulator();
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    const std::size_t issued = emulator.tokens().count();

    DialogPlayer player(script);
    QVERIFY(!authorization->authorize());
    QCOMPARE(player.dialogsHandled(), 1);
    QVERIFY(!player.timedOut());

    QVERIFY(!authorization->isAuthorized());
    QVERIFY(authorization->token().isEmpty());
    QCOMPARE(authorization->userInfo().info.id, 0);
    QCOMPARE(emulator.tokens().count(), issued);
    QVERIFY(!host.settings().store()->value("tradervr_auth").isValid());
    QVERIFY(!host.settings().store()->value("traderuserInfo").isValid());
    graceForUnexpectedRequests();
    QVERIFY(observer.events.isEmpty());
    QVERIFY(userInfoRequests(std::string()).empty());
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_Authorization::logTexts_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<bool>("written");
    QTest::newRow("detail") << 1 << true;
    QTest::newRow("progress") << 2 << true;
    QTest::newRow("errors only") << 3 << false;
    QTest::newRow("off") << -1 << false;
}

void tst_Authorization::logTexts()
{
    QFETCH(int, threshold);
    QFETCH(bool, written);
    const QString category = QStringLiteral("Ventari.Authorization");
    // The category keeps its own threshold for the rest of the process; put back the default.
    struct ThresholdBack
    {
        ~ThresholdBack() { Corvane::setLogThreshold(QStringLiteral("Ventari.Authorization"), 2); }
    } thresholdBack;
    Corvane::setLogThreshold(category, qint8(threshold));

    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"));
    Authorization* authorization = host.authorization();
    NotifierObserver observer(authorization);
    DialogPlayer player(QStringLiteral("approve('bob')"));
    QVERIFY(authorization->authorize());
    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() == 2; }));
    const QString token = QString::fromUtf8(authorization->token());

    sharedEmulator().addFault(Emulator::Fault::errorStatus(500).onPath(userInfoPath).times(1));
    QVERIFY(QMetaObject::invokeMethod(authorization, "requestUserInfo"));
    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() == 4; }));

    const QStringList expected = {
        QStringLiteral("Token Loaded:"),
        QStringLiteral("UserInfo Loaded:"),
        QStringLiteral("Token Received:") + token,
        QStringLiteral("UserInfo Received:bob"),
        QStringLiteral("UserInfo Error"),
        QStringLiteral("Token Reset"),
    };
    QCOMPARE(recorder.messages(category), written ? expected : QStringList());
    for (const Corvane::LogRecord& record : recorder.records()) {
        if (record.category != category)
            continue;
        QCOMPARE(record.level, 2);
        QVERIFY2(record.function.startsWith(QStringLiteral("Ventari::Authorization::")), qPrintable(record.function));
        QCOMPARE(record.file, QStringLiteral("authorization/authorization"));
    }
    QVERIFY2(recorder.reports().isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

QTEST_MAIN(tst_Authorization)
#include "tst_authorization.moc"
