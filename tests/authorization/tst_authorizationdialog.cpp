#include "testhost.h"

#include "authorization/authorizationdialog.h"

#include <QtCore/QFile>
#include <QtCore/QMetaMethod>
#include <QtCore/QRegularExpression>
#include <QtGui/QDesktopServices>
#include <QtGui/QImageReader>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkProxy>
#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>
#include <QtWebKit/QWebSettings>
#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWidgets/QVBoxLayout>

#include <cmath>

using Ventari::AuthorizationDialog;

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

QWebFrame* frameOf(const AuthorizationDialog& dialog)
{
    return dialog.webView()->page()->mainFrame();
}

// Waits until the service's form and its script are in the dialog's page.
bool waitForForm(const AuthorizationDialog& dialog)
{
    return QTest::qWaitFor(
        [&] {
            return frameOf(dialog)
                ->evaluateJavaScript(QStringLiteral(
                    "document.getElementById('authorize') != null && typeof approve == 'function'"))
                .toBool();
        },
        pageTimeoutMs);
}

std::vector<Emulator::RecordedRequest> requestsFor(const QString& path)
{
    std::vector<Emulator::RecordedRequest> found;
    for (const auto& request : sharedEmulator().requests()) {
        if (QString::fromStdString(request.path) == path)
            found.push_back(request);
    }
    return found;
}

// Clicks a link in the page the way a user would, so it goes through the page's link delegation.
void clickLink(const AuthorizationDialog& dialog, const QUrl& url)
{
    frameOf(dialog)->evaluateJavaScript(
        QStringLiteral("var link = document.createElement('a'); link.href = '%1'; link.textContent = 'link';"
                       "document.body.appendChild(link); link.click();")
            .arg(url.toString()));
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

    void windowSetUp();
    void showingCountsTheWindow();
    void loaderPageResource();
    void loaderAnimation();
    void loaderPageLeadsToAuthorizationPage();
    void missingLoaderLoadsAddressDirectly();
    void approveCapturesIssuedToken_data();
    void approveCapturesIssuedToken();
    void denyRejectsWithoutToken();
    void pageRedirects_data();
    void pageRedirects();
    void finish_data();
    void finish();
    void tokenOutlivesLaterAddressChanges();
    void clickedLinks_data();
    void clickedLinks();
    void openLink_data();
    void openLink();

private:
    TemporarySettings* m_settings = nullptr;
    BrowserStandIn m_browser;
};

void tst_AuthorizationDialog::initTestCase()
{
    m_settings = new TemporarySettings;
    TestHost::storeRemoteSettings(m_settings->store());
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &m_browser, "openUrl");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_browser, "openUrl");
}

void tst_AuthorizationDialog::init()
{
    sharedEmulator().clearRequests();
    m_browser.opened.clear();
}

void tst_AuthorizationDialog::cleanupTestCase()
{
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    delete m_settings;
}

void tst_AuthorizationDialog::windowSetUp()
{
    ReportRecorder recorder;
    AuthorizationDialog dialog;

    QCOMPARE(dialog.objectName(), QStringLiteral("AuthorizationDialog"));
    QVERIFY(!dialog.parentWidget());
    QCOMPARE(dialog.windowFlags() & Qt::WindowType_Mask, Qt::WindowFlags(Qt::Tool));
    QVERIFY(dialog.windowFlags() & Qt::WindowCloseButtonHint);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Ventari Authorization"));
    QCOMPARE(dialog.minimumSize(), QSize(479, 500));
    QCOMPARE(dialog.size(), QSize(700, 600));
    QVERIFY(dialog.token().isEmpty());

    QWebView* view = dialog.webView();
    QVERIFY(view);
    QCOMPARE(view->parentWidget(), &dialog);
    QVERIFY(dialog.layout()->indexOf(view) >= 0);
    QCOMPARE(view->contextMenuPolicy(), Qt::NoContextMenu);
    QCOMPARE(view->page()->linkDelegationPolicy(), QWebPage::DelegateExternalLinks);
    QVERIFY(view->settings()->testAttribute(QWebSettings::JavascriptEnabled));
    QVERIFY(view->settings()->testAttribute(QWebSettings::JavascriptCanOpenWindows));

    const QMetaObject* meta = dialog.metaObject();
    QCOMPARE(meta->className(), "Ventari::AuthorizationDialog");
    QCOMPARE(meta->methodCount() - meta->methodOffset(), 2);
    QCOMPARE(meta->method(meta->methodOffset()).methodSignature(), QByteArray("finish(QUrl)"));
    QCOMPARE(meta->method(meta->methodOffset() + 1).methodSignature(), QByteArray("openLink(QUrl)"));
    QCOMPARE(meta->method(meta->methodOffset()).methodType(), QMetaMethod::Slot);
    QCOMPARE(meta->method(meta->methodOffset() + 1).methodType(), QMetaMethod::Slot);

    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::showingCountsTheWindow()
{
    const QString counter = QStringLiteral("Window.AuthorizationDialog.count");
    const qint64 before = qMax<qint64>(Corvane::counterValue(counter), 0);
    AuthorizationDialog dialog;
    dialog.show();
    QCOMPARE(Corvane::counterValue(counter), before + 1);
    dialog.hide();
    dialog.show();
    QCOMPARE(Corvane::counterValue(counter), before + 2);
}

void tst_AuthorizationDialog::loaderPageResource()
{
    QFile page(QStringLiteral(":/ventari/loader.html"));
    QVERIFY(page.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(page.readAll());

    QVERIFY(html.contains(QRegularExpression(QStringLiteral("<script[^>]*>\\s*function redirect\\(\\)\\s*\\{\\s*"
                                                            "window\\.location\\s*=\\s*\"%1\";?\\s*\\}"))));
    QVERIFY(html.contains(QRegularExpression(QStringLiteral("<body[^>]*onload=\"redirect\\(\\)\""))));
    QVERIFY(html.contains(QRegularExpression(QStringLiteral("<table[^>]*width=\"99%\"[^>]*height=\"99%\""))));
    QVERIFY(html.contains(QRegularExpression(QStringLiteral("<img[^>]*src=\"qrc:///ventari/loader.gif\""))));
    // The address goes into the one place marker and nowhere else.
    const QString address = QStringLiteral("http://example.test/a?b=c&d=%20");
    const QString filled = html.arg(address);
    QVERIFY(filled.contains(QStringLiteral("window.location = \"%1\"").arg(address)));
    QVERIFY(!filled.contains(QStringLiteral("%1")));
    QCOMPARE(filled.size(), html.size() - 2 + address.size());
}

void tst_AuthorizationDialog::loaderAnimation()
{
    QImageReader reader(QStringLiteral(":/ventari/loader.gif"));
    QCOMPARE(reader.format(), QByteArray("gif"));
    QCOMPARE(reader.size(), QSize(300, 400));
    QVERIFY(reader.supportsAnimation());
    QVERIFY(reader.imageCount() > 1);

    const QRgb white = qRgb(0xFF, 0xFF, 0xFF);
    const QRgb lit = qRgb(0x23, 0x4E, 0x78);
    const QRgb faded = qRgb(0xD5, 0xDD, 0xE6);
    QList<QImage> frames;
    for (int i = 0; i < reader.imageCount(); ++i) {
        QImage frame = reader.read();
        QVERIFY2(!frame.isNull(), qPrintable(reader.errorString()));
        QCOMPARE(frame.size(), QSize(300, 400));
        frames.append(frame);
    }
    QCOMPARE(frames.size(), 12);
    // A ring of twelve dots around the centre, one of them lit, turning clockwise frame by frame;
    // pixels late in each frame's data prove the whole frame decodes.
    for (int step = 0; step < frames.size(); ++step) {
        const QImage& frame = frames.at(step);
        QCOMPARE(frame.pixel(0, 0), white);
        QCOMPARE(frame.pixel(299, 399), white);
        QCOMPARE(frame.pixel(150, 200), white);
        const double angle = 2 * M_PI * step / 12;
        const QPoint litDot(qRound(150 + 48 * std::sin(angle)), qRound(200 - 48 * std::cos(angle)));
        QCOMPARE(frame.pixel(litDot), lit);
        const double opposite = angle + M_PI;
        const QPoint fadedDot(qRound(150 + 48 * std::sin(opposite)), qRound(200 - 48 * std::cos(opposite)));
        QCOMPARE(frame.pixel(fadedDot), faded);
    }
}

void tst_AuthorizationDialog::loaderPageLeadsToAuthorizationPage()
{
    ReportRecorder recorder;
    AuthorizationDialog dialog;
    QWebView* view = dialog.webView();
    QStringList titles;
    QString firstPage;
    connect(view, &QWebView::loadFinished, this, [&] {
        titles.append(view->title());
        if (firstPage.isEmpty())
            firstPage = view->page()->mainFrame()->toHtml();
    });

    QVERIFY(waitForForm(dialog));
    QVERIFY(!titles.isEmpty());
    QCOMPARE(titles.first(), QStringLiteral("Ventari"));
    QCOMPARE(titles.last(), QStringLiteral("Ventari - Authorize"));
    QVERIFY2(firstPage.contains(QStringLiteral("window.location = \"%1\"").arg(authorizationAddress().toString())),
             qPrintable(firstPage));
    QCOMPARE(view->url(), authorizationAddress());

    const auto requests = requestsFor(QStringLiteral("/oauth/authorize"));
    QCOMPARE(int(requests.size()), 1);
    QCOMPARE(requests.front().method, std::string("GET"));
    QCOMPARE(requests.front().queryValue("client_id"), std::string("orvane-desktop"));
    QCOMPARE(requests.front().queryValue("response_type"), std::string("token"));
    QCOMPARE(QString::fromStdString(requests.front().queryValue("redirect_uri")), baseUrl() + QStringLiteral("oauth/done"));
    QCOMPARE(requests.front().status, 200);

    QCOMPARE(dialog.result(), 0);
    QVERIFY(dialog.token().isEmpty());
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
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
    QCOMPARE(frameOf(dialog)->requestedUrl(), authorizationAddress());
    QWebView* view = dialog.webView();
    QStringList titles;
    connect(view, &QWebView::loadFinished, this, [&] { titles.append(view->title()); });
    QVERIFY(waitForForm(dialog));
    QVERIFY(QTest::qWaitFor([&] { return !titles.isEmpty(); }, pageTimeoutMs));
    QCOMPARE(titles, QStringList{QStringLiteral("Ventari - Authorize")});
    QCOMPARE(view->url(), authorizationAddress());
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::approveCapturesIssuedToken_data()
{
    QTest::addColumn<QString>("account");
    QTest::newRow("alice") << "alice";
    QTest::newRow("dave") << "dave";
}

void tst_AuthorizationDialog::approveCapturesIssuedToken()
{
    QFETCH(QString, account);
    Emulator::Service& emulator = sharedEmulator();
    const auto user = emulator.store().userByName(account.toStdString());
    QVERIFY(user);
    ReportRecorder recorder;
    const std::size_t issuedBefore = emulator.tokens().count();

    AuthorizationDialog dialog;
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QVERIFY(waitForForm(dialog));
    frameOf(dialog)->evaluateJavaScript(QStringLiteral("approve('%1')").arg(account));

    QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, pageTimeoutMs));
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Accepted));
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY(!dialog.isVisible());
    const QString token = dialog.token();
    QVERIFY(!token.isEmpty());
    QCOMPARE(emulator.tokens().count(), issuedBefore + 1);
    QCOMPARE(emulator.tokens().userOf(token.toStdString()), std::optional<int>(user->id));
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::denyRejectsWithoutToken()
{
    Emulator::Service& emulator = sharedEmulator();
    ReportRecorder recorder;
    const std::size_t issuedBefore = emulator.tokens().count();

    AuthorizationDialog dialog;
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QVERIFY(waitForForm(dialog));
    frameOf(dialog)->evaluateJavaScript(QStringLiteral("deny()"));

    QVERIFY(QTest::qWaitFor([&] { return !finished.isEmpty(); }, pageTimeoutMs));
    QCOMPARE(finished.first().first().toInt(), int(QDialog::Rejected));
    QVERIFY(!dialog.isVisible());
    QVERIFY(dialog.token().isEmpty());
    QCOMPARE(emulator.tokens().count(), issuedBefore);
    QVERIFY(dialog.webView()->url().toString().endsWith(QStringLiteral("oauth/done#error=access_denied")));
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::pageRedirects_data()
{
    QTest::addColumn<QString>("fragment");
    QTest::addColumn<int>("outcome"); // -1: still open
    QTest::addColumn<QString>("token");

    QTest::newRow("token with further parameters") << "#access_token=abc&expires_in=3600" << int(QDialog::Accepted)
                                                   << "abc&expires_in=3600";
    QTest::newRow("error with description") << "#error=server_error&error_description=down" << int(QDialog::Rejected)
                                            << "";
    QTest::newRow("neither") << "" << -1 << "";
}

// Address changes made by the page itself reach finish through the view's urlChanged.
void tst_AuthorizationDialog::pageRedirects()
{
    QFETCH(QString, fragment);
    QFETCH(int, outcome);
    QFETCH(QString, token);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QVERIFY(waitForForm(dialog));
    const QUrl target(baseUrl() + QStringLiteral("oauth/done") + fragment);
    frameOf(dialog)->evaluateJavaScript(QStringLiteral("window.location.href = '%1'").arg(target.toString()));

    // The view announces the new address as it commits to it, so finish has seen it by then.
    QVERIFY(QTest::qWaitFor([&] { return dialog.webView()->url() == target; }, pageTimeoutMs));
    QCOMPARE(dialog.token(), token);
    if (outcome < 0) {
        QVERIFY(finished.isEmpty());
        QVERIFY(dialog.isVisible());
        QCOMPARE(dialog.result(), 0);
    } else {
        QVERIFY(!finished.isEmpty());
        QCOMPARE(finished.first().first().toInt(), outcome);
        QVERIFY(!dialog.isVisible());
    }
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::finish_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<int>("outcome"); // -1: still open
    QTest::addColumn<QString>("token");

    const int open = -1;
    const int accepted = QDialog::Accepted;
    const int rejected = QDialog::Rejected;
    QTest::newRow("token") << "http://127.0.0.1/oauth/done#access_token=f00dcafe" << accepted << "f00dcafe";
    QTest::newRow("token and more") << "http://127.0.0.1/oauth/done#access_token=abc&expires_in=3600" << accepted
                                    << "abc&expires_in=3600";
    QTest::newRow("token on any address") << "https://elsewhere.test/x?y=1#access_token=t1" << accepted << "t1";
    QTest::newRow("empty token") << "http://127.0.0.1/oauth/done#access_token=" << open << "";
    QTest::newRow("token in the query") << "http://127.0.0.1/oauth/done?access_token=abc" << open << "";
    QTest::newRow("upper-case key") << "http://127.0.0.1/oauth/done#ACCESS_TOKEN=abc" << open << "";
    QTest::newRow("error") << "http://127.0.0.1/oauth/done#error=access_denied" << rejected << "";
    QTest::newRow("bare error") << "http://127.0.0.1/oauth/done#error=" << rejected << "";
    QTest::newRow("error then token-like text") << "http://127.0.0.1/oauth/done#error=x&access_token=abc" << rejected
                                                << "";
    QTest::newRow("authorization page") << authorizationAddress().toString() << open << "";
    QTest::newRow("service page") << "http://127.0.0.1/oauth/done" << open << "";
}

void tst_AuthorizationDialog::finish()
{
    QFETCH(QString, address);
    QFETCH(int, outcome);
    QFETCH(QString, token);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    dialog.webView()->stop();
    dialog.show();
    QSignalSpy finished(&dialog, &QDialog::finished);
    QVERIFY(QMetaObject::invokeMethod(&dialog, "finish", Q_ARG(QUrl, QUrl(address))));

    QCOMPARE(dialog.token(), token);
    if (outcome < 0) {
        QVERIFY(finished.isEmpty());
        QVERIFY(dialog.isVisible());
    } else {
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.first().first().toInt(), outcome);
        QVERIFY(!dialog.isVisible());
    }
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

// A captured token stays; every later address change accepts again, an error redirect rejects.
void tst_AuthorizationDialog::tokenOutlivesLaterAddressChanges()
{
    AuthorizationDialog dialog;
    dialog.webView()->stop();
    QSignalSpy finished(&dialog, &QDialog::finished);
    const QString done = QStringLiteral("http://127.0.0.1/oauth/done");

    QVERIFY(QMetaObject::invokeMethod(&dialog, "finish", Q_ARG(QUrl, QUrl(done + QStringLiteral("#access_token=kept")))));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "finish", Q_ARG(QUrl, QUrl(done))));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "finish", Q_ARG(QUrl, QUrl(done + QStringLiteral("#error=late")))));

    QCOMPARE(finished.count(), 3);
    QCOMPARE(finished.at(0).first().toInt(), int(QDialog::Accepted));
    QCOMPARE(finished.at(1).first().toInt(), int(QDialog::Accepted));
    QCOMPARE(finished.at(2).first().toInt(), int(QDialog::Rejected));
    QCOMPARE(dialog.token(), QStringLiteral("kept"));
}

void tst_AuthorizationDialog::clickedLinks_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("inView");

    QTest::newRow("api.") << "api.docs/limits" << true;
    QTest::newRow("orvane") << "help/orvane" << true;
    QTest::newRow("other page") << "help/ventari" << false;
    QTest::newRow("api without dot") << "api/2/docs" << false;
    QTest::newRow("upper-case Orvane") << "help/Orvane" << false;
}

// A link clicked in the page: delegated by the page, then kept or handed to the browser.
void tst_AuthorizationDialog::clickedLinks()
{
    QFETCH(QString, path);
    QFETCH(bool, inView);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    QVERIFY(waitForForm(dialog));
    const QUrl formAddress = dialog.webView()->url();
    const QUrl link(baseUrl() + path);
    QSignalSpy started(dialog.webView(), &QWebView::loadStarted);
    clickLink(dialog, link);

    if (inView) {
        QVERIFY(QTest::qWaitFor([&] { return dialog.webView()->url() == link; }, pageTimeoutMs));
        QCOMPARE(int(requestsFor(QLatin1Char('/') + path).size()), 1);
        QVERIFY(m_browser.opened.isEmpty());
    } else {
        QCOMPARE(m_browser.opened, QList<QUrl>{link});
        QCoreApplication::processEvents();
        QVERIFY(started.isEmpty());
        QCOMPARE(dialog.webView()->url(), formAddress);
        QVERIFY(requestsFor(QLatin1Char('/') + path).empty());
    }
    QCOMPARE(dialog.result(), 0);
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_AuthorizationDialog::openLink_data()
{
    QTest::addColumn<QUrl>("link");
    QTest::addColumn<bool>("inView");

    QTest::newRow("https api. host") << QUrl(QStringLiteral("https://api.example.test/v2/docs")) << true;
    QTest::newRow("orvane host") << QUrl(QStringLiteral("http://www.orvane.example.test/")) << true;
    QTest::newRow("other site") << QUrl(QStringLiteral("https://www.example.test/about")) << false;
    QTest::newRow("API. in capitals") << QUrl(QStringLiteral("https://www.example.test/API.html")) << false;
}

// The slot on its own, for addresses that must never be fetched from a test.
void tst_AuthorizationDialog::openLink()
{
    QFETCH(QUrl, link);
    QFETCH(bool, inView);

    ReportRecorder recorder;
    AuthorizationDialog dialog;
    QVERIFY(waitForForm(dialog));
    QWebPage* page = dialog.webView()->page();
    // Requests the view makes go nowhere: only the address it asked for matters here.
    QSignalSpy started(dialog.webView(), &QWebView::loadStarted);
    page->networkAccessManager()->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), 1));
    QVERIFY(QMetaObject::invokeMethod(&dialog, "openLink", Q_ARG(QUrl, link)));

    if (inView) {
        QCOMPARE(page->mainFrame()->requestedUrl(), link);
        QVERIFY(!started.isEmpty());
        QVERIFY(m_browser.opened.isEmpty());
    } else {
        QCOMPARE(m_browser.opened, QList<QUrl>{link});
        QVERIFY(started.isEmpty());
        QCOMPARE(page->mainFrame()->requestedUrl(), authorizationAddress());
    }
    dialog.webView()->stop();
    QVERIFY2(recorder.isEmpty(), qPrintable(recorder.reportTexts().join(QLatin1Char('\n'))));
}

QTEST_MAIN(tst_AuthorizationDialog)
#include "tst_authorizationdialog.moc"
