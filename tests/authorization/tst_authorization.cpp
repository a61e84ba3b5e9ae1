#include "dialogplayer.h"
#include "testhost.h"

#include "actions/ventariuserinfoaction.h"
#include "authorization/authorization.h"
#include "requestspool.h"
#include "ventariactionhandler.h"

#include <kelvar/preferences.h>
#include <settings/settingsstore.h>

#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>

using Ventari::Authorization;
using Ventari::UserInfo;

namespace {

const char userInfoPath[] = "/api/2/account/verify.json";
const QString category = QStringLiteral("Ventari.Authorization");

int userInfoRequests(const std::string& token)
{
    int count = 0;
    for (const auto& request : sharedEmulator().requests())
        count += request.path == userInfoPath && request.queryValue("access_token") == token;
    return count;
}

// User-info actions handed to the handler and not answered yet.
int pendingUserInfoActions(const TestHost& host)
{
    return host.handler()->findChildren<Ventari::VentariUserInfoAction*>().size();
}

int userId(const char* username)
{
    const auto user = sharedEmulator().store().userByName(username);
    return user ? user->id : -2;
}

} // namespace

// Observes an authorization state through the notifier, as the rest of the plugin does; each
// event tells the signal and the token, user id and stored token at the time it was emitted.
class Observer : public QObject
{
    Q_OBJECT

public:
    explicit Observer(Authorization* authorization)
        : m_authorization(authorization)
    {
        authorization->subscribe("authorizationChanged", this, "onAuthorizationChanged");
        authorization->subscribe("userInfoChanged", this, "onUserInfoChanged");
    }

    QStringList events;

public slots:
    void onAuthorizationChanged() { record("authorizationChanged"); }
    void onUserInfoChanged() { record("userInfoChanged"); }

private:
    void record(const char* signal)
    {
        const QByteArray hostUser = Kelvar::Preferences::instance()->username().toUtf8();
        const QString stored = SettingsStore::of(QCoreApplication::instance())->value(hostUser + "vr_auth").toString();
        events.append(QStringLiteral("%1 token=%2 user=%3 stored=%4")
                          .arg(QLatin1String(signal), QString::fromUtf8(m_authorization->token()))
                          .arg(m_authorization->userInfo().info.id)
                          .arg(stored));
    }

    Authorization* m_authorization;
};

// The authorization state with a real settings file, the emulator and the real dialog.
class tst_Authorization : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void startWithStoredToken();
    void failedUserInfoResetsToken_data();
    void failedUserInfoResetsToken();
    void hostUsersKeptApart();
    void authorizeThroughDialog_data();
    void authorizeThroughDialog();
};

void tst_Authorization::init()
{
    sharedEmulator().clearRequests();
    sharedEmulator().clearFaults();
}

void tst_Authorization::startWithStoredToken()
{
    const std::string token = sharedEmulator().issueToken("alice");
    const QString tokenText = QString::fromStdString(token);
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"), tokenText.toUtf8());
    Authorization* authorization = host.authorization();
    Observer observer(authorization);
    QVERIFY(authorization->isAuthorized());
    QCOMPARE(authorization->userInfo().info.id, 0);
    QCOMPARE(pendingUserInfoActions(host), 0); // queued until the event loop runs

    QVERIFY(QTest::qWaitFor([&] { return !observer.events.isEmpty(); }));
    QCOMPARE(observer.events, QStringList{QStringLiteral("userInfoChanged token=%1 user=%2 stored=%1")
                                              .arg(tokenText)
                                              .arg(userId("alice"))});
    QCOMPARE(userInfoRequests(token), 1);
    const UserInfo alice = authorization->userInfo().info;
    QCOMPARE(alice.username, QStringLiteral("alice"));
    QVERIFY(!authorization->userInfo().isEmpty);
    SettingsStore* store = host.settings().reopen();
    QCOMPARE(Ventari::userInfoFromVariant(store->value("traderuserInfo")), alice);

    // The next start fetches a record equal to the stored one: no signal and no write. A key the
    // record's reader ignores stays only as long as nobody rewrites the record.
    QVariantMap stored = store->value("traderuserInfo").toMap();
    stored.insert(QStringLiteral("untouched"), true);
    store->setValue("traderuserInfo", stored);
    Authorization restarted;
    Observer restartedObserver(&restarted);
    QCOMPARE(restarted.userInfo().info, alice);
    QSignalSpy answered(host.handler()->requestPool(), SIGNAL(replyDone(int, QByteArray)));
    QVERIFY(answered.wait());
    QCOMPARE(userInfoRequests(token), 2);
    QVERIFY(restartedObserver.events.isEmpty());
    QVERIFY(store->value("traderuserInfo").toMap().value(QStringLiteral("untouched")).toBool());

    QCOMPARE(recorder.messages(category).mid(0, 3),
             (QStringList{QStringLiteral("Token Loaded:") + tokenText, QStringLiteral("UserInfo Loaded:"),
                          QStringLiteral("UserInfo Received:alice")}));
    QVERIFY_NO_REPORTS(recorder);
}

void tst_Authorization::failedUserInfoResetsToken_data()
{
    QTest::addColumn<bool>("revoked");
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<int>("resets");

    // The service refusing the token makes the pool reset it first; the failed action then
    // resets it again.
    QTest::newRow("revoked token") << true << -1 << 2;
    QTest::newRow("service error") << false << int(Emulator::FaultKind::ErrorStatus) << 1;
    QTest::newRow("broken reply") << false << int(Emulator::FaultKind::MalformedBody) << 1;
}

void tst_Authorization::failedUserInfoResetsToken()
{
    QFETCH(bool, revoked);
    QFETCH(int, fault);
    QFETCH(int, resets);

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
    Observer observer(authorization);
    // Saved before the signals go out.
    QStringList expected;
    for (int i = 0; i < resets; ++i)
        expected << QStringLiteral("authorizationChanged token= user=-1 stored=")
                 << QStringLiteral("userInfoChanged token= user=-1 stored=");
    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() >= expected.size(); }));
    QCOMPARE(observer.events, expected);
    QCOMPARE(userInfoRequests(token), 1);
    QVERIFY(!authorization->isAuthorized());
    QVERIFY(authorization->userInfo().isEmpty);
    QCOMPARE(recorder.messages(category).mid(recorder.messages(category).size() - 2),
             (QStringList{QStringLiteral("UserInfo Error"), QStringLiteral("Token Reset")}));

    SettingsStore* store = host.settings().reopen();
    QVERIFY(store->value("tradervr_auth").isValid());
    QCOMPARE(store->value("tradervr_auth").toString(), QString());
    QCOMPARE(Ventari::userInfoFromVariant(store->value("traderuserInfo")), UserInfo());

    Authorization next;
    QCoreApplication::processEvents();
    QVERIFY(!next.isAuthorized());
    QVERIFY(next.userInfo().isEmpty);
    QCOMPARE(next.userInfo().info.id, -1);
    QCOMPARE(pendingUserInfoActions(host), 0);
    QVERIFY_NO_REPORTS(recorder);
}

// No event loop runs here, so the queued user-info requests never go out.
void tst_Authorization::hostUsersKeptApart()
{
    ReportRecorder recorder;
    TestHost host(QStringLiteral("anna"), "anna-token");
    SettingsStore* store = host.settings().store();
    Kelvar::Preferences::instance()->setUsername(QStringLiteral("boris"));
    store->setValue("borisvr_auth", QStringLiteral("boris-token"));
    Authorization boris;
    QCOMPARE(boris.token(), QByteArray("boris-token"));
    boris.resetToken();

    QCOMPARE(store->value("borisvr_auth").toString(), QString());
    QCOMPARE(Ventari::userInfoFromVariant(store->value("borisuserInfo")).id, -1);
    QCOMPARE(store->value("annavr_auth").toString(), QStringLiteral("anna-token"));
    QVERIFY(!store->value("annauserInfo").isValid());
    Kelvar::Preferences::instance()->setUsername(QStringLiteral("anna"));
    QCOMPARE(Authorization().token(), QByteArray("anna-token"));
    QVERIFY_NO_REPORTS(recorder);
}

void tst_Authorization::authorizeThroughDialog_data()
{
    QTest::addColumn<QString>("script"); // what the user does in the dialog
    QTest::newRow("approved") << "approve('carol')";
    QTest::newRow("denied") << "deny()";
    QTest::newRow("closed") << "";
}

void tst_Authorization::authorizeThroughDialog()
{
    QFETCH(QString, script);
    const bool approved = script.startsWith(QLatin1String("approve"));
    ReportRecorder recorder;
    TestHost host(QStringLiteral("trader"));
    Authorization* authorization = host.authorization();
    Observer observer(authorization);
    const QString counter = QStringLiteral("Window.AuthorizationDialog.count");
    const qint64 shown = qMax<qint64>(Corvane::counterValue(counter), 0);
    const std::size_t issued = sharedEmulator().tokens().count();

    DialogPlayer player(script);
    QCOMPARE(authorization->authorize(), approved);
    QCOMPARE(player.handled, 1);
    QCOMPARE(Corvane::counterValue(counter), shown + 1);
    if (!approved) {
        // Nothing changed the fresh state, whose record is read from an empty map: id 0, which is
        // not the empty mark of a default record.
        QCoreApplication::processEvents();
        QVERIFY(!authorization->isAuthorized());
        QCOMPARE(authorization->userInfo().info.id, 0);
        QVERIFY(!authorization->userInfo().isEmpty);
        QCOMPARE(sharedEmulator().tokens().count(), issued);
        QVERIFY(!host.settings().store()->value("tradervr_auth").isValid());
        QVERIFY(observer.events.isEmpty());
        QCOMPARE(pendingUserInfoActions(host), 0);
        QVERIFY_NO_REPORTS(recorder);
        return;
    }
    const QString token = QString::fromUtf8(authorization->token());
    QCOMPARE(sharedEmulator().tokens().userOf(token.toStdString()), std::optional<int>(userId("carol")));
    // Announced with the token already saved; the user record is not cleared.
    const QString state = QStringLiteral("token=%1 user=%2 stored=%1");
    QCOMPARE(observer.events, QStringList{QStringLiteral("authorizationChanged ") + state.arg(token).arg(0)});
    QVERIFY(QTest::qWaitFor([&] { return observer.events.size() == 2; }));
    QCOMPARE(observer.events.last(), QStringLiteral("userInfoChanged ") + state.arg(token).arg(userId("carol")));
    QCOMPARE(userInfoRequests(token.toStdString()), 1);
    QCOMPARE(Ventari::userInfoFromVariant(host.settings().store()->value("traderuserInfo")),
             authorization->userInfo().info);
    QCOMPARE(recorder.messages(category).mid(2),
             (QStringList{QStringLiteral("Token Received:") + token, QStringLiteral("UserInfo Received:carol")}));

    // Authorized now: nothing is shown and nothing changes.
    QVERIFY(authorization->authorize());
    QCOMPARE(Corvane::counterValue(counter), shown + 1);
    QCOMPARE(player.handled, 1);
    QCOMPARE(observer.events.size(), 2);
    QVERIFY_NO_REPORTS(recorder);
}

QTEST_MAIN(tst_Authorization)
#include "tst_authorization.moc"
