#include "dialogplayer.h"
#include "testhost.h"

#include "authorization/authorizationdialog.h"
#include "authorization/signinview.h"

#include <QtCore/QFile>
#include <QtGui/QDesktopServices>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QVBoxLayout>

using Ventari::AuthorizationDialog;
using Ventari::SignInView;

namespace {

const int pageTimeoutMs = 15000;

QString baseUrl()
{
    return QString::fromStdString(sharedEmulator().baseUrl());
}

// The address the emulator's remote settings lead to, spelt out rather than computed.
QUrl authorizationAddress()
{
    return QUrl(baseUrl() + QStringLiteral("oauth/authorize?client_id=orvane-desktop&response_type=token&redirect_uri=")
                + baseUrl() + QStringLiteral("oauth/done"));
}

// Waits until the service's form and its script are in the dialog's page.
bool waitForForm(const AuthorizationDialog& dialog)
{
    const QString formShown = QStringLiteral("document.getElementById('authorize') != null && typeof approve == 'function'");
    return QTest::qWaitFor([&] { return evaluateInPage(dialog.webView(), formShown).toBool(); }, pageTimeoutMs);
}

int requestsTo(const QString& path)
{
    int count = 0;
    for (const auto& request : sharedEmulator().requests())
        count += QString::fromStdString(request.path) == path;
    return count;
}

} // namespace

// Stands in for the user's browser: collects what the desktop services would open.
class BrowserStandIn : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void openUrl(const QUrl& url) { opened.append(url); }
};

// The dialog against the emulator's real authorization page, offscreen.
class tst_AuthorizationDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void loaderPageLeadsToAuthorizationPage();
    void missingLoaderLoadsAddressDirectly();
    void finish_data();
    void finish();
    void clickedLinks_data();
    void clickedLinks();
    void addressLine_data();
    void addressLine();
    void theAddressLineFollowsThePage();
    void closedWhileItsPageLoads();

private:
    TemporarySettings* m_settings = nullptr;
    BrowserStandIn m_browser;
};

void tst_AuthorizationDialog::initTestCase()
{
    m_settings = new TemporarySettings;
    TestHost::storeRemoteSettings(m_settings->store());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "openUrl");
}

void tst_AuthorizationDialog::init()
{
    sharedEmulator().clearRequests();
    m_browser.opened.clear();
}

void tst_AuthorizationDialog::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    delete m_settings;
}

void tst_AuthorizationDialog::loaderPageLeadsToAuthorizationPage()
{
    ReportRecorder recorder;
    AuthorizationDialog dialog;
    SignInView* view = dialog.webView();
    QSignalSpy addresses(view, &SignInView::urlChanged);

    QVERIFY(waitForForm(dialog));
    QCOMPARE(evaluateInPage(view, QStringLiteral("document.title")).toString(), QStringLiteral("Ventari - Authorize"));
    // The loader page has no address of its own (an engine may report it blank), and then the
    // one its script went to.
    QVERIFY(!addresses.isEmpty() && addresses.size() <= 2);
    const QUrl loader = addresses.first().first().toUrl();
    QVERIFY2(addresses.size() == 1 || loader.isEmpty(), qPrintable(loader.toString()));
    QCOMPARE(addresses.last().first().toUrl(), authorizationAddress());
    QCOMPARE(view->url(), authorizationAddress());
    QCOMPARE(requestsTo(QStringLiteral("/oauth/authorize")), 1);
    QCOMPARE(dialog.result(), 0);
    QVERIFY(recorder.isEmpty());
}

void tst_AuthorizationDialog::missingLoaderLoadsAddressDirectly()
{
    // The library's resources are taken away for this test only.
    struct ResourcesBack
    {
        ~ResourcesBack() { Q_INIT_RESOURCE(ventari); }
    } resourcesBack;
    Q_CLEANUP_RESOURCE(ventari);
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/loader.html")));

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    QSignalSpy addresses(dialog.webView(), &SignInView::urlChanged);
    QVERIFY(waitForForm(dialog));
    QCOMPARE(addresses.value(0).value(0).toUrl(), authorizationAddress());
    QCOMPARE(requestsTo(QStringLiteral("/oauth/authorize")), 1);
    QVERIFY(recorder.isEmpty());
}

void tst_AuthorizationDialog::finish_data()
{
    QTest::addColumn<QStringList>("addresses");
    QTest::addColumn<QList<int>>("results"); // what the dialog finished with, in order
    QTest::addColumn<QString>("token");

    const QString done = QStringLiteral("http://127.0.0.1/oauth/done");
    const int accepted = QDialog::Accepted;
    const int rejected = QDialog::Rejected;
    auto row = [](const char* name, const QStringList& addresses, const QList<int>& results, const QString& token) {
        QTest::newRow(name) << addresses << results << token;
    };
    row("token", {done + "#access_token=f00dcafe"}, {accepted}, "f00dcafe");
    row("token and more", {done + "#access_token=abc&expires_in=3600"}, {accepted}, "abc&expires_in=3600");
    row("empty token", {done + "#access_token="}, {}, "");
    row("token in the query", {done + "?access_token=abc"}, {}, "");
    row("upper-case key", {done + "#ACCESS_TOKEN=abc"}, {}, "");
    row("error", {done + "#error=access_denied"}, {rejected}, "");
    row("error then token-like text", {done + "#error=x&access_token=abc"}, {rejected}, "");
    row("neither", {done}, {}, "");
    // A captured token stays: every later address change accepts again, an error redirect rejects.
    row("token kept", {done + "#access_token=kept", done, done + "#error=late"}, {accepted, accepted, rejected},
        "kept");
}

void tst_AuthorizationDialog::finish()
{
    QFETCH(QStringList, addresses);
    QFETCH(QList<int>, results);
    QFETCH(QString, token);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    dialog.webView()->stop();
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    for (const QString& address : addresses)
        QVERIFY(QMetaObject::invokeMethod(&dialog, "finish", Q_ARG(QUrl, QUrl(address))));

    QList<int> actual;
    for (const QList<QVariant>& arguments : finished)
        actual.append(arguments.first().toInt());
    QCOMPARE(actual, results);
    QCOMPARE(dialog.token(), token);
    QCOMPARE(dialog.isVisible(), results.isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_AuthorizationDialog::clickedLinks_data()
{
    QTest::addColumn<QString>("path"); // below the service's address, or a whole address
    QTest::addColumn<QString>("fate"); // view, browser or refused

    QTest::newRow("api.") << "api.docs/limits" << "view";
    QTest::newRow("orvane") << "help/orvane" << "view";
    QTest::newRow("other page") << "help/ventari" << "browser";
    QTest::newRow("api without dot") << "api/2/docs" << "browser";
    QTest::newRow("upper-case Orvane") << "help/Orvane" << "browser";
    QTest::newRow("another program's scheme") << "evilscheme://run?cmd=calc" << "refused";
    QTest::newRow("api. on another scheme") << "ftp://api.example.com/limits" << "refused";
    QTest::newRow("a user name and password") << "http://user:pw@bank.example.evil.test/login" << "refused";
}

// A link clicked in the page: delegated by the page, then kept, handed to the browser or refused.
// After it, a plain link is clicked as well: the engine hands links on in order, so once that one
// arrives the first has been dealt with, whether the engine answers at once or later.
void tst_AuthorizationDialog::clickedLinks()
{
    QFETCH(QString, path);
    QFETCH(QString, fate);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    QVERIFY(waitForForm(dialog));
    const QUrl formAddress = dialog.webView()->url();
    const std::size_t requestsBefore = sharedEmulator().requests().size();
    const QUrl link(path.contains(QLatin1String("://")) ? path : baseUrl() + path);
    const QUrl sentinel(baseUrl() + QStringLiteral("help/after"));
    QSignalSpy clicked(dialog.webView(), &SignInView::linkClicked);
    auto click = [&](const QUrl& address) {
        dialog.webView()->runJavaScript(
            QStringLiteral("var link = document.createElement('a'); link.href = '%1'; link.textContent = 'link';"
                           "document.body.appendChild(link); link.click();")
                .arg(address.toString()));
    };
    click(link);

    if (fate == QLatin1String("view")) {
        QVERIFY(QTest::qWaitFor([&] { return dialog.webView()->url() == link; }, pageTimeoutMs));
        QCOMPARE(requestsTo(QLatin1Char('/') + path), 1);
        QVERIFY(m_browser.opened.isEmpty());
        QVERIFY(recorder.isEmpty());
    } else {
        click(sentinel);
        QVERIFY(QTest::qWaitFor([&] { return m_browser.opened.contains(sentinel); }, pageTimeoutMs));
        QCOMPARE(m_browser.opened, fate == QLatin1String("browser") ? (QList<QUrl>{link, sentinel}) : QList<QUrl>{sentinel});
        QCOMPARE(dialog.webView()->url(), formAddress);
        QCOMPARE(sharedEmulator().requests().size(), requestsBefore);
        // A scheme the engine knows no handler for may be refused by the engine itself, unreported.
        const bool handedOn = !clicked.isEmpty() && clicked.first().first().toUrl() == link;
        QCOMPARE(recorder.messages(QStringLiteral("Ventari.Authorization")),
                 fate == QLatin1String("browser") || !handedOn
                     ? QStringList()
                     : QStringList{"Refused to open a link: " + link.toString(QUrl::RemoveUserInfo)});
        QVERIFY(handedOn || link.scheme() != QLatin1String("http"));
    }
    QCOMPARE(dialog.result(), 0);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_AuthorizationDialog::addressLine_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("text");

    const QString lock = QString::fromUtf8("\U0001F512 ");
    QTest::newRow("secure") << QUrl("https://accounts.example.com/oauth/authorize?client_id=x") << lock + "accounts.example.com";
    QTest::newRow("secure, another port") << QUrl("https://accounts.example.com:8443/login") << lock + "accounts.example.com:8443";
    QTest::newRow("plain, with a port") << QUrl("http://127.0.0.1:8080/oauth/authorize") << "Not secure: 127.0.0.1:8080";
    QTest::newRow("a user name that looks like a host") << QUrl("https://accounts.example.com@evil.test/login")
                                                        << lock + "evil.test";
    QTest::newRow("international host") << QUrl(QString::fromUtf8("https://bücher.example/login"))
                                        << lock + "xn--bcher-kva.example";
    QTest::newRow("local file") << QUrl("file:///tmp/login.html") << "Not secure: file:///tmp/login.html";
    QTest::newRow("a long page of data")
        << QUrl("data:text/html," + QString(200, QLatin1Char('x')))
        << "Not secure: data:text/html," + QString(64, QLatin1Char('x')) + QString::fromUtf8("…");
    QTest::newRow("before the page") << QUrl() << QString::fromUtf8("Opening the sign-in page…");
}

void tst_AuthorizationDialog::addressLine()
{
    QFETCH(QUrl, url);
    QFETCH(QString, text);
    QCOMPARE(AuthorizationDialog::addressText(url), text);
}

// The line above the page names the emulator's plain address, and follows a move to another host.
void tst_AuthorizationDialog::theAddressLineFollowsThePage()
{
    ReportRecorder recorder;
    AuthorizationDialog dialog;
    auto* line = dialog.findChild<QLabel*>(QStringLiteral("addressLine"));
    QVERIFY(line);
    QVERIFY(waitForForm(dialog));
    const QString port = QString::number(sharedEmulator().port());
    QTRY_COMPARE(line->text(), QStringLiteral("Not secure: 127.0.0.1:") + port);

    QUrl elsewhere = authorizationAddress();
    elsewhere.setHost(QStringLiteral("localhost"));
    dialog.webView()->load(elsewhere);
    QVERIFY(waitForForm(dialog));
    QTRY_COMPARE(line->text(), QStringLiteral("Not secure: localhost:") + port);
    QVERIFY(dialog.layout()->indexOf(line) < dialog.layout()->indexOf(dialog.webView()));
    QCOMPARE(dialog.result(), 0);
    QVERIFY(recorder.isEmpty());
}

// The view goes with the widget base, after the dialog's own part, and reports the end of a page
// still loading as it goes: nothing of the dialog may hear it then.
void tst_AuthorizationDialog::closedWhileItsPageLoads()
{
    ReportRecorder recorder;
    const int slow = sharedEmulator().addFault(Emulator::Fault::latency(1500).onPath("/oauth/authorize"));
    auto* dialog = new AuthorizationDialog;
    auto* line = dialog->findChild<QLabel*>(QStringLiteral("addressLine"));
    QVERIFY(line);
    QVERIFY(QTest::qWaitFor([&] { return requestsTo(QStringLiteral("/oauth/authorize")) == 1; }, pageTimeoutMs));
    QCOMPARE(dialog->webView()->url(), QUrl());

    const QString untouched = QStringLiteral("as the dialog left it");
    line->setText(untouched);
    QString lastText;
    connect(dialog->webView(), &QObject::destroyed, this, [&] { lastText = line->text(); });
    delete dialog;
    sharedEmulator().faults().remove(slow);
    QCOMPARE(lastText, untouched);
    QVERIFY(recorder.reports().isEmpty());
}

QTEST_MAIN(tst_AuthorizationDialog)
#include "tst_authorizationdialog.moc"
