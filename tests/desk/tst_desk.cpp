#include <accountbutton.h>
#include <addressopener.h>
#include <alertcenter.h>
#include <chartviewer.h>
#include <deskhost.h>
#include <desktheme.h>
#include <deskwindow.h>
#include <imagecache.h>
#include <messagelistmodel.h>
#include <messagelistview.h>
#include <replydialog.h>
#include <requestbudgetlabel.h>
#include <streamtab.h>

#include "dialogplayer.h"
#include "hostilefiles.h"
#include "testsupport.h"

#include <authorization/authorizationdialog.h>
#include <authorization/signinview.h>
#include <corvane/corvanesink.h>

#include <emulator/service.h>
#include <iauthorization.h>
#include <iventarimodel.h>
#include <iventariservice.h>
#include <kelvar/notifications.h>
#include <requestspool.h>
#include <settings/settingsstore.h>
#include <ventariactionhandler.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QAccessible>
#include <QtGui/QHelpEvent>
#include <QtGui/QImageReader>
#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollArea>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QToolButton>
#include <QtWidgets/QToolTip>

#include <algorithm>

namespace {

const int appleId = 686; // $AAPL in the emulator's seed

// Pixels close to a colour.
int colourPixels(const QImage& image, const QColor& like)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor pixel = image.pixelColor(x, y);
            if (qAbs(pixel.red() - like.red()) < 24 && qAbs(pixel.green() - like.green()) < 24
                && qAbs(pixel.blue() - like.blue()) < 24)
                ++count;
        }
    }
    return count;
}

// Pixels of the theme's like colour inside a part of the view, as painted.
int likePixels(MessageListView* view, const QRect& rect)
{
    return colourPixels(view->viewport()->grab(rect).toImage(), DeskTheme::current().like);
}

struct DeskRun
{
    int code = -1; // -1: it crashed or did not finish
    QString output;
    QString errors;
};

// Runs the real program with its configuration under home, on the given Qt platform (empty: none
// and no display either); its exit code and output.
DeskRun runDesk(const QTemporaryDir& home, const QStringList& arguments,
                const QString& platform = QStringLiteral("offscreen"))
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("WAYLAND_DISPLAY"));
    if (platform.isEmpty())
        environment.remove(QStringLiteral("QT_QPA_PLATFORM"));
    else
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    QProcess desk;
    desk.setProcessEnvironment(environment);
    desk.start(QStringLiteral(VENTARI_DESK_PROGRAM), arguments);
    DeskRun run;
    if (!desk.waitForFinished(60000) || desk.exitStatus() != QProcess::NormalExit) {
        run.errors = QStringLiteral("crashed or did not finish");
        return run;
    }
    run.code = desk.exitCode();
    run.output = QString::fromLocal8Bit(desk.readAllStandardOutput());
    run.errors = QString::fromLocal8Bit(desk.readAllStandardError());
    return run;
}

// A message from a user the service does not know, for the tab's model to take as if the service
// had sent it.
Ventari::Message messageFrom(int id, const QString& body)
{
    Ventari::Message message;
    message.id = id;
    message.body = body;
    message.createdAt = QDateTime::currentDateTimeUtc();
    message.user.id = 4242;
    message.user.username = QStringLiteral("mallory");
    message.user.name = QStringLiteral("Mallory");
    return message;
}

// Hands messages to a tab's plugin model as its stream action would: the emulator makes every
// address it sends its own, so local files and other schemes cannot come from it.
bool deliver(StreamTab* tab, const Ventari::Messages& messages)
{
    auto* model = dynamic_cast<QObject*>(tab->messages()->source().data());
    return model && QMetaObject::invokeMethod(model, "onData", Q_ARG(Ventari::Messages, messages));
}

// The tooltip the view shows at a point of its viewport.
QString tooltipAt(MessageListView* view, const QPoint& point)
{
    QToolTip::hideText();
    QHelpEvent help(QEvent::ToolTip, point, view->viewport()->mapToGlobal(point));
    QApplication::sendEvent(view->viewport(), &help);
    return QToolTip::isVisible() ? QToolTip::text() : QString();
}

// The anchors along the first line of a row's body, each with the first point that hits it.
QList<QPair<QString, QPoint>> anchorsOf(MessageListView* view, int row)
{
    const QRect body = view->partRect(row, MessageHit::Anchor);
    const int y = body.top() + view->fontMetrics().height() / 2;
    QList<QPair<QString, QPoint>> anchors;
    for (int x = body.left(); x <= body.right(); ++x) {
        const MessageHit hit = view->hitAt(QPoint(x, y));
        if (hit.kind == MessageHit::Anchor && (anchors.isEmpty() || anchors.last().first != hit.anchor))
            anchors.append({hit.anchor, QPoint(x + 2, y)});
    }
    return anchors;
}

// Drags with the left button held, in steps, as a hand does.
void drag(QWidget* widget, const QPoint& from, const QPoint& to)
{
    QMouseEvent press(QEvent::MouseButtonPress, from, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &press);
    for (int step = 1; step <= 10; ++step) {
        const QPoint at = from + (to - from) * step / 10;
        QMouseEvent move(QEvent::MouseMove, at, Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(widget, &move);
    }
    QMouseEvent release(QEvent::MouseButtonRelease, to, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &release);
}

} // namespace

// The desk as a trader meets it, on its embedded service: messages appear, a like goes to the
// service and comes back painted, a new message arrives with the pool's ticks, the real program
// writes its screenshot and quits cleanly.
class tst_Desk : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void messagesAppearInTheFirstTab();
    void aLikeRoundTrips();
    void followingRoundTrips();
    void popupsShowInTheNewestDeskWindow();
    void backgroundTabsCountAndTellWhatArrives();
    void aReplyShowsWhomItAnswersAndSendsOnCtrlEnter();
    void chartsOpenInTheDesk();
    void theKeyboardReachesTheSymbolBox();
    void namesWithAmpersandsShowAsTheyAre();
    void nothingIsClippedAtTheSmallestSize();
    void aWatchListTabShowsTheFirstListOrTheChosenOne_data();
    void aWatchListTabShowsTheFirstListOrTheChosenOne();
    void retryLoadsAgainAndKeepsTheMessages();
    void everyTabComesBackAfterTheServiceWasGone();
    void aBackgroundTabShowsItsError();
    void signingOutShowsWhatNeedsASignIn();
    void aLikeSignedOutSignsInFirst();
    void clickedAddressesPassThePolicy_data();
    void clickedAddressesPassThePolicy();
    void localPicturesInMessagesAreRefused();
    void manyTabsStayReadableMovableAndClosable();
    void theStatusBarAndThePopUpTellOneTime();
    void theProgramWritesAScreenshotAndQuits();
    void theProgramReportsWhatItCannotDoWithoutADisplay_data();
    void theProgramReportsWhatItCannotDoWithoutADisplay();

private:
    Emulator::Service* service() const { return m_host->embeddedService(); }
    static Ventari::RequestPool* pool() { return Ventari::VentariActionHandler::instance()->requestPool(); }
    StreamTab* appleTab() const { return m_window->tabAt(0); }
    QTabBar* tabBar() const { return m_window->findChild<QTabBar*>(); }
    // Lets the pool send until done holds; whether it does.
    static bool tickUntil(const std::function<bool()>& done, int ticks = 40);
    // Lets the pool refresh until the AAPL tab shows the message, and scrolls to it; its row, or -1.
    int showAppleRow(int messageId);
    // Clicks a point of the AAPL tab's list and lets the queued click arrive.
    void clickApple(const QPoint& point);
    // A message from a user of the service, on the service; symbols empty: its cashtags.
    int post(const std::string& username, const std::string& body, const QByteArray& chartJpeg = QByteArray(),
             const std::vector<int>& symbolIds = {});
    // An id above every message of the service and of the tab.
    int unusedId() { return service()->store().newestMessageId() + 1000 + ++m_injected; }

    QTemporaryDir m_home;
    DeskHost* m_host = nullptr;
    DeskWindow* m_window = nullptr;
    int m_aliceId = -1;
    // What the desk would have handed to the web browser, and whether the browser takes it.
    QList<QUrl> m_opened;
    bool m_browserTakes = true;
    int m_injected = 0;
};

void tst_Desk::initTestCase()
{
    QVERIFY(m_home.isValid());
    DeskOptions options;
    options.generatorSeconds = 0;
    options.signInUser = QStringLiteral("alice");
    options.hostUser = QStringLiteral("desktester");
    options.settingsFile = m_home.filePath(QStringLiteral("settings.ini"));
    m_host = new DeskHost;
    QVERIFY2(m_host->start(options), qPrintable(m_host->errorText()));
    QVERIFY(m_host->facade());
    QVERIFY(service());
    m_aliceId = service()->store().userByName("alice")->id;

    m_window = new DeskWindow(m_host, false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->tabCount(), 3);
    // Nor its notifications, when the tests run on a desktop session.
    m_window->alerts()->setDesktopNotifier(nullptr);
    // Nothing of a test run reaches the desktop's browser.
    m_window->addressOpener()->setHandOver([this](const QUrl& url) {
        m_opened.append(url);
        return m_browserTakes;
    });
}

void tst_Desk::cleanupTestCase()
{
    delete m_window;
    if (m_host)
        m_host->stop();
    QVERIFY(!m_host || !m_host->facade());
    delete m_host;
}

bool tst_Desk::tickUntil(const std::function<bool()>& done, int ticks)
{
    for (int tick = 0; tick < ticks && !done(); ++tick) {
        QMetaObject::invokeMethod(pool(), "runNextRequest");
        (void)QTest::qWaitFor(done, 250);
    }
    return done();
}

int tst_Desk::showAppleRow(int messageId)
{
    MessageListModel* rows = appleTab()->messages();
    if (!tickUntil([&] { return rows->rowOfMessage(messageId) != -1; }))
        return -1;
    appleTab()->view()->scrollTo(rows->index(rows->rowOfMessage(messageId)));
    return rows->rowOfMessage(messageId);
}

void tst_Desk::clickApple(const QPoint& point)
{
    QTest::mouseClick(appleTab()->view()->viewport(), Qt::LeftButton, {}, point);
    QCoreApplication::processEvents();
}

int tst_Desk::post(const std::string& username, const std::string& body, const QByteArray& chartJpeg,
                   const std::vector<int>& symbolIds)
{
    Emulator::MessageDraft draft;
    draft.userId = service()->store().userByName(username)->id;
    draft.body = body;
    draft.chartJpeg = chartJpeg.toStdString();
    draft.symbolIds = symbolIds;
    return service()->store().post(draft, service()->clock().now()).id;
}

void tst_Desk::messagesAppearInTheFirstTab()
{
    QCOMPARE(appleTab()->state(), (TabState{"symbol", QStringLiteral("AAPL"), 0}));
    QTRY_VERIFY_WITH_TIMEOUT(appleTab()->messages()->rowCount() > 0, 10000);
    const MessageListModel* rows = appleTab()->messages();
    for (int row = 0; row < rows->rowCount(); ++row) {
        const Ventari::Message message = rows->messageAt(row);
        QVERIFY(std::any_of(message.symbols.cbegin(), message.symbols.cend(),
                            [](const Ventari::SymbolInfo& symbol) { return symbol.symbol == QLatin1String("AAPL"); }));
    }
    QTRY_COMPARE_WITH_TIMEOUT(m_window->accountButton()->text(), QStringLiteral("@alice ▾"), 10000);
    QCOMPARE(appleTab()->messages()->currentUserId(), m_aliceId);
}

// A click on the heart likes the message on the service and paints it; a second click takes it back.
void tst_Desk::aLikeRoundTrips()
{
    MessageListView* view = appleTab()->view();
    MessageListModel* rows = appleTab()->messages();
    int row = 0;
    while (row < rows->rowCount() && rows->index(row).data(MessageListModel::LikedRole).toBool())
        ++row;
    QVERIFY(row < rows->rowCount());
    view->scrollTo(rows->index(row));
    const Ventari::Message before = rows->messageAt(row);
    auto likeOf = [&] { return view->partRect(rows->rowOfMessage(before.id), MessageHit::Like); };
    auto liked = [&] { return rows->index(rows->rowOfMessage(before.id)).data(MessageListModel::LikedRole).toBool(); };
    QVERIFY(view->viewport()->rect().contains(likeOf()));
    QCOMPARE(likePixels(view, likeOf()), 0);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, likeOf().center());
    QTRY_VERIFY_WITH_TIMEOUT(liked(), 10000);
    QCOMPARE(rows->messageAt(rows->rowOfMessage(before.id)).likes.size(), before.likes.size() + 1);
    const auto stored = service()->store().message(before.id);
    QVERIFY(stored && stored->likes.count(m_aliceId) == 1);
    QTRY_VERIFY(likePixels(view, likeOf()) > 0);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, likeOf().center());
    QTRY_VERIFY_WITH_TIMEOUT(!liked(), 10000);
    QCOMPARE(rows->messageAt(rows->rowOfMessage(before.id)).likes, before.likes);
}

void tst_Desk::followingRoundTrips()
{
    const Emulator::DataStore& store = service()->store();
    auto* follow = appleTab()->findChild<QPushButton*>(QStringLiteral("followButton"));
    QVERIFY(follow->isVisible() && follow->isEnabled());
    const bool before = store.isFollowingSymbol(m_aliceId, appleId);
    QCOMPARE(follow->text(), before ? QStringLiteral("Following $AAPL") : QStringLiteral("Follow $AAPL"));

    for (const bool wanted : {!before, before}) {
        QTest::mouseClick(follow, Qt::LeftButton);
        QCOMPARE(follow->text(), wanted ? QStringLiteral("Following $AAPL") : QStringLiteral("Follow $AAPL"));
        QCOMPARE(follow->isChecked(), wanted);
        QTRY_COMPARE_WITH_TIMEOUT(store.isFollowingSymbol(m_aliceId, appleId), wanted, 10000);
    }
}

// Host notifications pop up inside the desk's window, lower right, and go on a click; a window
// going away leaves them to a newer one.
void tst_Desk::popupsShowInTheNewestDeskWindow()
{
    Kelvar::NotificationManager* notifications = m_host->notifications();
    notifications->addEvent(new Kelvar::SimpleNotificationInfo(QStringLiteral("Ventari Error"),
                                                               QStringLiteral("Something to read"), 1));
    QCOMPARE(notifications->popups().size(), 1);
    QWidget* popup = notifications->popups().first();
    QVERIFY(popup->isVisible());
    QCOMPARE(popup->window(), m_window);
    const QRect inWindow(popup->mapTo(m_window, QPoint(0, 0)), popup->size());
    QVERIFY(m_window->rect().contains(inWindow));
    QVERIFY(inWindow.center().x() > m_window->width() / 2 && inWindow.center().y() > m_window->height() / 2);
    QTest::mouseClick(popup, Qt::LeftButton);
    QTRY_VERIFY(notifications->popups().isEmpty());

    auto* older = new DeskWindow(m_host, false);
    DeskWindow newer(m_host, false);
    newer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&newer));
    delete older;
    notifications->addEvent(new Kelvar::SimpleNotificationInfo(QStringLiteral("Ventari Error"),
                                                               QStringLiteral("Still in the desk"), 1));
    QCOMPARE(notifications->popups().size(), 1);
    QCOMPARE(notifications->popups().first()->window(), &newer);
    QTest::mouseClick(notifications->popups().first(), Qt::LeftButton);
    QTRY_VERIFY(notifications->popups().isEmpty());
}

void tst_Desk::aWatchListTabShowsTheFirstListOrTheChosenOne_data()
{
    const std::vector<Emulator::WatchList> lists = service()->store().watchListsOf(m_aliceId);
    QVERIFY(lists.size() >= 2);
    const Emulator::WatchList& first = lists.front();
    const Emulator::WatchList& second = lists.back();
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("shownId");
    QTest::addColumn<QString>("shownName");
    QTest::newRow("nothing chosen") << QString() << QString::number(first.id) << QString::fromStdString(first.name);
    QTest::newRow("an unknown list") << QStringLiteral("999999") << QString::number(first.id)
                                            << QString::fromStdString(first.name);
    QTest::newRow("the second list") << QString::number(second.id) << QString::number(second.id)
                                     << QString::fromStdString(second.name);
}

void tst_Desk::aWatchListTabShowsTheFirstListOrTheChosenOne()
{
    QFETCH(QString, value);
    QFETCH(QString, shownId);
    QFETCH(QString, shownName);
    StreamTab* tab = m_window->showStream({"watchlist", value, 0});
    QTRY_COMPARE_WITH_TIMEOUT(tab->state().value, shownId, 10000);
    QCOMPARE(tab->title(), shownName);
    QTRY_VERIFY_WITH_TIMEOUT(tab->messages()->rowCount() > 0, 10000);
    QVERIFY(tab->bannerText().isEmpty());
    QCOMPARE(m_window->tabAt(m_window->tabCount() - 1), tab);
    m_window->closeTab(m_window->tabCount() - 1);
}

// Retry after an error loads the stream again and keeps what the tab shows.
void tst_Desk::retryLoadsAgainAndKeepsTheMessages()
{
    pool()->setRetryDelays(0, 0);
    StreamTab* tab = m_window->showStream({"symbol", QStringLiteral("MSFT"), 0});
    QVERIFY(tickUntil([&] { return tab->messages()->rowCount() > 0; }));
    const int rows = tab->messages()->rowCount();
    const QSharedPointer<Ventari::IVentariModel> model = tab->messages()->source();

    const char* const path = "/api/2/streams/symbol/MSFT.json";
    service()->addFault(Emulator::Fault::errorStatus(404).onPath(path).times(1));
    QVERIFY(tickUntil([&] { return tab->bannerText() == QLatin1String("Stream not found."); }));
    QCOMPARE(tab->messages()->rowCount(), rows);
    auto* retry = tab->findChild<QPushButton*>(QStringLiteral("bannerRetry"));
    QVERIFY(retry->isVisible());
    auto loads = [this, path] {
        const auto requests = service()->requests();
        return std::count_if(requests.begin(), requests.end(), [path](const Emulator::RecordedRequest& r) { return r.path == path; });
    };
    const auto before = loads();
    QTest::mouseClick(retry, Qt::LeftButton);
    QVERIFY(tab->bannerText().isEmpty());
    QCOMPARE(tab->messages()->source(), model);
    QCOMPARE(tab->messages()->rowCount(), rows);
    QTRY_COMPARE_WITH_TIMEOUT(loads(), before + 1, 10000);
    QTest::qWait(100);
    QVERIFY(tab->bannerText().isEmpty());
    pool()->setRetryDelays(5000, 120000);
    m_window->closeTab(m_window->tabCount() - 1);
}

// The service goes away and comes back on the same address: every tab says so while it is gone,
// keeping its messages, and shows new ones again once it is back, without a click; a picture that
// failed meanwhile comes too.
void tst_Desk::everyTabComesBackAfterTheServiceWasGone()
{
    pool()->setRetryDelays(0, 0);
    const std::uint16_t port = service()->port();
    auto everyTab = [&](const std::function<bool(StreamTab*)>& holds) {
        for (int i = 0; i < m_window->tabCount(); ++i) {
            if (!holds(m_window->tabAt(i)))
                return false;
        }
        return true;
    };
    QVERIFY(tickUntil([&] { return everyTab([](StreamTab* tab) { return tab->messages()->rowCount() > 0; }); }, 60));
    const auto charted = service()->store().message(post("bob", "$AAPL chart", HostileFiles::jpeg(8, 8)));
    const QUrl picture(QString::fromStdString(service()->baseUrl() + charted->chart->thumb));
    ImageCache* images = m_window->imageCache();

    service()->stop();
    const int appleRows = appleTab()->messages()->rowCount();
    QVERIFY(tickUntil([&] {
        return everyTab([](StreamTab* tab) { return tab->bannerText() == QLatin1String("Cannot reach the Ventari service."); });
    }, 60));
    QCOMPARE(appleTab()->messages()->rowCount(), appleRows);
    QVERIFY(images->image(picture, MessageLayout::mediaSize).isNull());
    QTRY_VERIFY_WITH_TIMEOUT(images->hasFailed(picture), 10000);
    // Still wanted; its own wait is a minute.
    QVERIFY(images->image(picture, MessageLayout::mediaSize).isNull());
    QVERIFY(service()->start(port));
    const int posted = post("bob", "$AAPL back again, @alice");
    QVERIFY(tickUntil([&] { return everyTab([](StreamTab* tab) { return tab->bannerText().isEmpty(); }); }, 60));
    QTRY_VERIFY_WITH_TIMEOUT(!images->hasFailed(picture), 10000);
    QVERIFY(!images->image(picture, MessageLayout::mediaSize).isNull());
    StreamTab* mentions = m_window->tabAt(2);
    QCOMPARE(mentions->state().streamId, QByteArray("mentions"));
    QVERIFY(tickUntil([&] { return appleTab()->messages()->rowOfMessage(posted) == 0 && mentions->messages()->rowOfMessage(posted) == 0; }, 60));
    pool()->setRetryDelays(5000, 120000);
}

void tst_Desk::aBackgroundTabShowsItsError()
{
    StreamTab* tab = m_window->showStream({"symbol", QStringLiteral("NOSUCHY"), 0});
    QCOMPARE(m_host->settings()->value("VentariDesk/tabs").toStringList().last(), QStringLiteral("symbol\tNOSUCHY\t0"));
    m_window->showStream(appleTab()->state());
    QVERIFY(!tab->isVisible());
    QTRY_COMPARE_WITH_TIMEOUT(tab->bannerText(), QStringLiteral("Stream not found."), 10000);
    QCOMPARE(tab->view()->placeholderText(), QString());

    tab->findChild<QToolButton*>(QStringLiteral("bannerClose"))->click();
    QVERIFY(tab->bannerText().isEmpty());
    QCOMPARE(tab->view()->placeholderText(), QStringLiteral("Stream not found."));
    m_window->closeTab(m_window->tabCount() - 1);
}

void tst_Desk::signingOutShowsWhatNeedsASignIn()
{
    StreamTab* mentions = m_window->showStream({"mentions", QString(), 0});
    QCOMPARE(m_window->currentTab(), mentions);
    QTRY_VERIFY_WITH_TIMEOUT(mentions->messages()->rowCount() > 0, 10000);
    QVERIFY(mentions->bannerText().isEmpty());
    auto* signIn = mentions->findChild<QPushButton*>(QStringLiteral("bannerSignIn"));
    auto* retry = mentions->findChild<QPushButton*>(QStringLiteral("bannerRetry"));

    m_host->facade()->authorization()->resetToken();

    QCOMPARE(m_window->accountButton()->text(), QStringLiteral("Sign in…"));
    // Alice's mentions go with her.
    QCOMPARE(mentions->messages()->rowCount(), 0);
    QVERIFY(!mentions->messages()->source());
    QCOMPARE(mentions->bannerText(), QStringLiteral("Sign in to see Mentions."));
    QVERIFY(signIn->isVisible());
    QVERIFY(!retry->isVisible());
    QCOMPARE(mentions->view()->placeholderText(), QString());
    QCOMPARE(appleTab()->messages()->currentUserId(), -1);

    DialogPlayer player(QStringLiteral("approve('alice')"));
    QTest::mouseClick(signIn, Qt::LeftButton);
    QCOMPARE(player.handled, 1);
    QVERIFY(mentions->messages()->source());
    QVERIFY(mentions->bannerText().isEmpty());
    QTRY_VERIFY_WITH_TIMEOUT(mentions->messages()->rowCount() > 0, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(appleTab()->messages()->currentUserId(), m_aliceId, 10000);
}

void tst_Desk::aLikeSignedOutSignsInFirst()
{
    m_host->facade()->authorization()->resetToken();
    m_window->showStream(appleTab()->state());
    MessageListView* view = appleTab()->view();
    MessageListModel* rows = appleTab()->messages();
    QVERIFY(rows->rowCount() > 2);
    const int row = rows->rowCount() / 2;
    const int id = rows->messageAt(row).id;
    view->scrollTo(rows->index(row));
    const QRect like = view->partRect(row, MessageHit::Like);
    QVERIFY(view->viewport()->rect().contains(like));

    // The user signs in as alice; meanwhile the message is deleted and a refresh takes it away.
    int dialogs = 0;
    bool asking = false; // the page may answer later, while the timer goes on
    QTimer player;
    connect(&player, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<Ventari::AuthorizationDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialogs > 0 || asking)
            return;
        asking = true;
        const bool ready = evaluateInPage(dialog->webView(), QStringLiteral("typeof approve == 'function'")).toBool();
        asking = false;
        if (!ready)
            return;
        ++dialogs;
        QVERIFY(service()->removeMessage(id));
        QVERIFY(tickUntil([&] { return rows->rowOfMessage(id) == -1; }));
        dialog->webView()->runJavaScript(QStringLiteral("approve('alice')"));
    });
    player.start(20);
    Corvane::RecordingSink reports;
    Corvane::ScopedSink reporting(&reports);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, like.center());
    // The dialog is not run from inside the view's mouse handling.
    QCOMPARE(dialogs, 0);

    QTRY_COMPARE_WITH_TIMEOUT(dialogs, 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(m_host->facade()->authorization()->isAuthorized(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(rows->currentUserId(), m_aliceId, 10000);
    QVERIFY2(reports.reports().isEmpty(), qPrintable(reports.reportTexts().join(QLatin1Char('\n'))));
}

// A tab off screen counts what arrives, and the window's title the total; looking clears it. With
// its bell, the tab is told once per burst, as the user's mentions are, without the user's own
// messages; a click on the popup shows the tab.
void tst_Desk::backgroundTabsCountAndTellWhatArrives()
{
    StreamTab* msft = m_window->showStream({"symbol", QStringLiteral("MSFT"), 0});
    QVERIFY(tickUntil([&] { return msft->messages()->hasAnswered(); }));
    const int index = m_window->tabCount() - 1;
    // What it held when first shown is not new.
    QCOMPARE(msft->unreadCount(), 0);
    QCOMPARE(m_window->tabText(index), QStringLiteral("$MSFT"));
    m_window->showStream(appleTab()->state());
    QVERIFY(!msft->isVisible());

    auto title = [this] {
        int total = 0;
        for (int i = 0; i < m_window->tabCount(); ++i)
            total += m_window->tabAt(i)->unreadCount();
        return total > 0 ? QStringLiteral("(%1) Ventari Desk").arg(total) : QStringLiteral("Ventari Desk");
    };
    for (int i = 0; i < 3; ++i)
        post("bob", "$MSFT bid " + std::to_string(i));
    QVERIFY(tickUntil([&] { return msft->unreadCount() == 3; }));
    QCOMPARE(m_window->tabText(index), QStringLiteral("$MSFT (3)"));
    QTRY_COMPARE(tabBar()->tabText(index), QStringLiteral("$MSFT (3)"));
    QVERIFY(m_window->unreadCount() >= 3);
    QCOMPARE(m_window->windowTitle(), title());
    QCOMPARE(appleTab()->unreadCount(), 0); // on screen

    // Another one after a look counts from the look.
    m_window->showStream(msft->state());
    QCOMPARE(msft->unreadCount(), 0);
    QCOMPARE(m_window->tabText(index), QStringLiteral("$MSFT"));
    QTRY_COMPARE(m_window->windowTitle(), title());
    m_window->showStream(appleTab()->state());
    post("bob", "$MSFT offer");
    QVERIFY(tickUntil([&] { return msft->unreadCount() == 1; }));
    QCOMPARE(m_window->tabText(index), QStringLiteral("$MSFT (1)"));
    QTRY_COMPARE(m_window->windowTitle(), title());

    Kelvar::NotificationManager* notifications = m_host->notifications();
    m_window->alerts()->setBurstMs(0);
    msft->setBell(true);
    QVERIFY(m_host->settings()->value("VentariDesk/tabs").toStringList().contains(QStringLiteral("symbol\tMSFT\t0\tbell")));
    notifications->clear();
    for (int i = 0; i < 4; ++i)
        post("bob", "$MSFT run " + std::to_string(i));
    post("alice", "$MSFT my own take");
    post("carol", "$XOM over to you @alice");
    auto titles = [notifications] {
        QStringList shown;
        for (const Kelvar::SimpleNotificationInfo* info : notifications->events())
            shown << info->title();
        return shown;
    };
    QVERIFY(tickUntil([&] { return titles().size() >= 2; }));
    QTest::qWait(50);
    QCOMPARE(titles().size(), 2);
    QVERIFY2(titles().contains(QStringLiteral("4 new messages in $MSFT")), qPrintable(titles().join(" | ")));
    QVERIFY2(titles().contains(QStringLiteral("@carol mentioned you")), qPrintable(titles().join(" | ")));

    const QList<QWidget*> popups = notifications->popups();
    const auto popup = std::find_if(popups.begin(), popups.end(),
                                    [](QWidget* shown) { return shown->toolTip() == QLatin1String("Click to show $MSFT"); });
    QVERIFY(popup != popups.end());
    QTest::mouseClick(*popup, Qt::LeftButton);
    QCOMPARE(m_window->currentTab(), msft);
    msft->setBell(false);
    m_window->showStream(appleTab()->state());
    notifications->clear();
}

// The reply dialog shows whom and what it answers, a hostile author's hidden characters shown and
// the message's markup as text; Enter starts a line and Ctrl+Enter sends it as a reply to that
// message. The message's cashtag opens what it reads as, and its author his own stream.
void tst_Desk::aReplyShowsWhomItAnswersAndSendsOnCtrlEnter()
{
    Emulator::User mallory;
    mallory.id = 9001;
    mallory.username = u8"mal\u202Elory";
    mallory.name = u8"Mallory \u202Eevil";
    mallory.joinedAt = service()->clock().now();
    service()->store().addUser(mallory);
    const QString body = QString::fromUtf8("$AA\u200BPL <b>gap</b> & go?\nsecond line");
    const int answered = post(mallory.username, body.toStdString(), QByteArray(), {appleId});
    m_window->showStream(appleTab()->state());
    const int tabs = m_window->tabCount();
    MessageListView* view = appleTab()->view();
    const int row = showAppleRow(answered);
    QVERIFY(row != -1);

    const auto anchors = anchorsOf(view, row);
    QCOMPARE(anchors.size(), 1);
    QCOMPARE(anchors.first().first, QStringLiteral("symbol:AAPL"));
    QCOMPARE(tooltipAt(view, anchors.first().second), QStringLiteral("Open $AAPL"));
    clickApple(anchors.first().second);
    QCOMPARE(m_window->tabCount(), tabs);
    QCOMPARE(m_window->currentTab(), appleTab());

    // The user name shows its hidden character wherever the desk names the author.
    const QString shown = QString::fromUtf8("@mal\uFFFDlory");
    const QPoint reply = view->partRect(row, MessageHit::Reply).center();
    QCOMPARE(tooltipAt(view, reply), QStringLiteral("Reply to %1").arg(shown));
    clickApple(reply);
    ReplyDialog* dialog = appleTab()->replyDialog();
    QVERIFY(dialog && dialog->isVisible());
    QCOMPARE(dialog->message().id, answered);
    QCOMPARE(dialog->windowTitle(), QStringLiteral("Reply to %1").arg(shown));
    const QString byline = dialog->findChild<QLabel*>(QStringLiteral("author"))->text();
    QVERIFY2(byline.startsWith(QStringLiteral("Mallory evil %1 · ").arg(shown)), qPrintable(byline));
    auto* quote = dialog->findChild<QLabel*>(QStringLiteral("quoteText"));
    QCOMPARE(quote->text(), body);
    QCOMPARE(quote->textFormat(), Qt::PlainText);

    // The override would turn round what the user types after the name.
    auto* text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("text"));
    QCOMPARE(text->toPlainText(), QStringLiteral("@mallory "));
    QTest::keyClicks(text, QStringLiteral("agreed"));
    QTest::keyClick(text, Qt::Key_Return);
    QCOMPARE(text->toPlainText(), QStringLiteral("@mallory agreed\n"));
    QTest::keyClicks(text, QStringLiteral("fully"));
    const int newest = service()->store().newestMessageId();
    QTest::keyClick(text, Qt::Key_Return, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(service()->store().newestMessageId() > newest, 10000);
    const auto sent = service()->store().message(service()->store().newestMessageId());
    QCOMPARE(QString::fromStdString(sent->body), QStringLiteral("@mallory agreed\nfully"));
    QCOMPARE(sent->inReplyTo, answered);
    QTRY_VERIFY(!appleTab()->replyDialog());
    QCOMPARE(m_window->statusBar()->currentMessage(), QStringLiteral("Reply sent."));

    const QRect author = view->partRect(showAppleRow(answered), MessageHit::Author);
    clickApple(author.topLeft() + QPoint(4, author.height() / 2));
    QCOMPARE(m_window->tabCount(), tabs + 1);
    QCOMPARE(m_window->currentTab()->title(), shown);
    m_window->closeTab(m_window->tabCount() - 1);
}

// "Open chart" shows the large picture in the desk, zoomed by keys, wheel and buttons; "Open in
// browser" hands it on, and says so when no browser takes it.
void tst_Desk::chartsOpenInTheDesk()
{
    const QImage picture = testPicture(600, 400);
    const int row = showAppleRow(post("alice", "$AAPL daily", HostileFiles::encoded(picture, "JPG")));
    QVERIFY(row != -1);
    m_opened.clear();
    clickApple(appleTab()->view()->partRect(row, MessageHit::Chart).center());
    QVERIFY(m_opened.isEmpty());
    ChartViewer* viewer = m_window->chartViewer();
    QVERIFY(viewer && viewer->isVisible());
    QCOMPARE(viewer->chartUrl(), QUrl(appleTab()->messages()->messageAt(row).chart[Ventari::Message::ChartLarge]));
    QTRY_VERIFY_WITH_TIMEOUT(!viewer->picture().isNull(), 10000);
    QCOMPARE(viewer->picture().size(), picture.size());
    QVERIFY(viewer->statusText().isEmpty());
    viewer->resize(500, 400);
    QTRY_VERIFY(viewer->fitsWindow() && viewer->zoom() < 1);
    const qreal fit = viewer->zoom();

    QTest::keyClick(viewer, Qt::Key_Plus);
    QCOMPARE(viewer->zoom(), fit * 1.25);
    QTest::keyClick(viewer, Qt::Key_1);
    QCOMPARE(viewer->zoom(), 1.0);
    auto* area = viewer->findChild<QScrollArea*>();
    QWheelEvent wheel(QPointF(50, 50), area->viewport()->mapToGlobal(QPoint(50, 50)), QPoint(), QPoint(0, -240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(area->viewport(), &wheel);
    QCOMPARE(viewer->zoom(), 1 / 1.5625);
    QTest::keyClick(viewer, Qt::Key_0);
    QVERIFY(viewer->fitsWindow());
    QCOMPARE(viewer->zoom(), fit);

    m_browserTakes = false;
    m_window->statusBar()->clearMessage();
    QTest::mouseClick(viewer->findChild<QPushButton*>(QStringLiteral("openInBrowser")), Qt::LeftButton);
    m_browserTakes = true;
    QCOMPARE(m_opened, QList<QUrl>{viewer->chartUrl()});
    const QString failed = QStringLiteral("Could not hand %1 to a web browser.").arg(viewer->chartUrl().toString());
    QCOMPARE(m_window->statusBar()->currentMessage(), failed);
    QCOMPARE(viewer->statusText(), failed);
    viewer->close();
}

void tst_Desk::theKeyboardReachesTheSymbolBox()
{
    m_window->showStream(appleTab()->state());
    m_window->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), m_window);
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL + Qt::Key_L), QKeySequence(Qt::Key_F6)}) {
        appleTab()->view()->setFocus();
        QCOMPARE(QApplication::focusWidget(), appleTab()->view());
        QTest::keySequence(QApplication::focusWidget(), keys);
        auto* box = qobject_cast<QLineEdit*>(QApplication::focusWidget());
        QVERIFY2(box && appleTab()->isAncestorOf(box), qPrintable(keys.toString()));
        QCOMPARE(box->text(), QStringLiteral("AAPL"));
        QCOMPARE(box->selectedText(), QStringLiteral("AAPL"));
    }
}

// Qt reads "&" on buttons and tabs as the mark of a shortcut key; names show as they are.
void tst_Desk::namesWithAmpersandsShowAsTheyAre()
{
    StreamTab* tab = m_window->showStream({"symbol", QStringLiteral("AT&T"), 0});
    const int index = m_window->tabCount() - 1;
    QCOMPARE(tab->title(), QStringLiteral("$AT&T"));
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(tabBar());
    QVERIFY(bar);
    QCOMPARE(bar->child(index)->text(QAccessible::Name), QStringLiteral("$AT&T"));
    auto* follow = tab->findChild<QPushButton*>(QStringLiteral("followButton"));
    QVERIFY(!follow->isHidden());
    QCOMPARE(QAccessible::queryAccessibleInterface(follow)->text(QAccessible::Name), QStringLiteral("Follow $AT&T"));
    QVERIFY(QKeySequence::mnemonic(follow->text()).isEmpty());
    QVERIFY(QKeySequence::mnemonic(tabBar()->tabText(index)).isEmpty());
    m_window->closeTab(index);
}

// At its smallest the window shows every control whole, side by side, and a status bar that
// says the refresh period or shows that it is cut.
void tst_Desk::nothingIsClippedAtTheSmallestSize()
{
    const QSize before = m_window->size();
    m_window->showStream(appleTab()->state());
    auto controlsWhole = [this] {
        QWidget* controls = appleTab()->findChild<QWidget*>(QStringLiteral("controls"));
        QList<QRect> taken;
        for (QWidget* child : controls->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly)) {
            if (child->isHidden())
                continue;
            const QRect shown = child->geometry();
            if (!controls->rect().contains(shown) || shown.width() < child->minimumSizeHint().width())
                return false;
            for (const QRect& other : qAsConst(taken)) {
                if (other.intersects(shown))
                    return false;
            }
            taken << shown;
        }
        return taken.size() >= 5;
    };
    auto* budget = m_window->findChild<RequestBudgetLabel*>();
    auto budgetShown = [budget] {
        const QString text = budget->text();
        const bool whole = budget->fontMetrics().horizontalAdvance(text) <= budget->contentsRect().width();
        return whole && (text.contains(QRegularExpression(QStringLiteral("\\d+ s$"))) || text.endsWith(QChar(0x2026)))
            && budget->toolTip().startsWith(budget->fullText());
    };

    m_window->resize(400, 300);
    QTRY_COMPARE(m_window->size(), m_window->minimumSize());
    QVERIFY(m_window->minimumWidth() >= 600 && m_window->minimumHeight() >= 400);
    QTRY_VERIFY(controlsWhole());
    QVERIFY(budgetShown());
    m_window->resize(800, 500);
    QTRY_COMPARE(m_window->size(), QSize(800, 500));
    QTRY_VERIFY(controlsWhole());
    QVERIFY(budgetShown());
    QVERIFY(budget->text().endsWith(QLatin1String(" s")));
    for (QLabel* label : m_window->statusBar()->findChildren<QLabel*>()) {
        if (label->isVisible())
            QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->contentsRect().width(), qPrintable(label->text()));
    }
    m_window->resize(before);
    QTRY_COMPARE(m_window->size(), before);
}

void tst_Desk::clickedAddressesPassThePolicy_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("chart"); // thumb, large, original; empty: none
    QTest::addColumn<QStringList>("video"); // thumb, duration, video, page; empty: none
    QTest::addColumn<bool>("browserTakes");
    QTest::addColumn<QList<QUrl>>("opened");
    QTest::addColumn<QString>("status");

    // A thumbnail on the emulator, which has none by this name. A chart the desk may load shows in
    // its own viewer, as chartsOpenInTheDesk finds.
    const QString thumb = QString::fromStdString(service()->baseUrl()) + "charts/1/thumb.svg";
    const QString refused = QStringLiteral("Refused to open %1: only web addresses are opened.");
    QTest::newRow("a chart in a local file") << "Chart" << QStringList{thumb, "file:///etc/passwd", ""} << QStringList{}
                                             << true << QList<QUrl>{} << refused.arg("file:///etc/passwd");
    QTest::newRow("a chart whose only address is local")
        << "Chart" << QStringList{thumb, "", "file:///home/trader/.ssh/id_rsa"} << QStringList{} << true << QList<QUrl>{}
        << refused.arg("file:///home/trader/.ssh/id_rsa");
    QTest::newRow("a video of a custom scheme") << "Video" << QStringList{}
                                                << QStringList{thumb, "1:05", "", "evilscheme://run?cmd=calc"} << true
                                                << QList<QUrl>{} << refused.arg("evilscheme://run?cmd=calc");
    QTest::newRow("a link with a user name and password")
        << "https://user:pw@bank.example.evil.test/login to claim" << QStringList{} << QStringList{} << true
        << QList<QUrl>{}
        << "Refused to open https://user:pw@bank.example.evil.test/login: addresses with a user name or password "
           "are not opened.";
    QTest::newRow("a link no browser takes") << "https://research.example.com/notes/4711 is out" << QStringList{}
                                             << QStringList{} << false
                                             << QList<QUrl>{QUrl("https://research.example.com/notes/4711")}
                                             << "Could not hand https://research.example.com/notes/4711 to a web browser.";
    QTest::newRow("a chart with nothing to open") << "Chart" << QStringList{thumb, "", ""} << QStringList{} << true
                                                  << QList<QUrl>{} << "Nothing to open: there is no address.";
}

// A click on a message's chart, video or link, in the AAPL tab: what reaches the browser, and
// what the status bar says.
void tst_Desk::clickedAddressesPassThePolicy()
{
    QFETCH(QString, body);
    QFETCH(QStringList, chart);
    QFETCH(QStringList, video);
    QFETCH(bool, browserTakes);
    QFETCH(QList<QUrl>, opened);
    QFETCH(QString, status);

    m_window->showStream(appleTab()->state());
    Ventari::Message message = messageFrom(unusedId(), body);
    for (int i = 0; i < chart.size(); ++i)
        message.chart[i] = chart.at(i);
    for (int i = 0; i < video.size(); ++i)
        message.video[i] = video.at(i);
    m_opened.clear();
    m_browserTakes = browserTakes;
    m_window->statusBar()->clearMessage();

    // The click follows at once: the next refresh may take the message away again.
    QVERIFY(deliver(appleTab(), {message}));
    MessageListView* view = appleTab()->view();
    const int row = appleTab()->messages()->rowOfMessage(message.id);
    QVERIFY(row != -1);
    view->scrollTo(appleTab()->messages()->index(row));
    QPoint point = view->partRect(row, MessageHit::Chart).center();
    if (chart.isEmpty() && video.isEmpty()) {
        const auto anchors = anchorsOf(view, row);
        QVERIFY(!anchors.isEmpty());
        point = anchors.first().second;
    }
    QVERIFY(view->viewport()->rect().contains(point));
    clickApple(point);
    m_browserTakes = true;

    QCOMPARE(m_opened, opened);
    QCOMPARE(m_window->statusBar()->currentMessage(), status);
    QVERIFY(!m_window->chartViewer() || !m_window->chartViewer()->isVisible());
}

// Avatars and thumbnails with local or inline addresses are refused without opening them, a named
// pipe included, and their tooltips say why.
void tst_Desk::localPicturesInMessagesAreRefused()
{
    QTemporaryDir folder;
    QVERIFY(testPicture(40, 40).save(folder.filePath(QStringLiteral("face.png"))));
    PipeGuard pipe(folder.filePath(QStringLiteral("pipe.png")));
    QVERIFY(pipe.isMade());
    const QUrl face = QUrl::fromLocalFile(folder.filePath(QStringLiteral("face.png")));
    const QUrl fifo = QUrl::fromLocalFile(folder.filePath(QStringLiteral("pipe.png")));
    const QUrl inline_(QStringLiteral("data:image/png;base64,")
                       + QString::fromLatin1(HostileFiles::encoded(testPicture(120, 80), "PNG").toBase64()));

    Ventari::Message local = messageFrom(unusedId(), QStringLiteral("Local face"));
    local.user.avatarUrl = face.toString();
    Ventari::Message piped = messageFrom(unusedId(), QStringLiteral("Piped face"));
    piped.user.avatarUrl = fifo.toString();
    Ventari::Message thumbnail = messageFrom(unusedId(), QStringLiteral("Inline chart"));
    thumbnail.chart = {inline_.toString(), QStringLiteral("https://charts.example.com/c/2-large.png"), QString()};

    m_window->showStream(appleTab()->state());
    MessageListView* view = appleTab()->view();
    ImageCache* images = m_window->imageCache();
    QSignalSpy fetching(images, &ImageCache::fetching);
    QVERIFY(deliver(appleTab(), {local, piped, thumbnail}));
    MessageListModel* rows = appleTab()->messages();
    QVERIFY(rows->rowOfMessage(local.id) != -1 && rows->rowOfMessage(thumbnail.id) != -1);
    view->scrollTo(rows->index(0));
    QElapsedTimer clock;
    clock.start();
    view->viewport()->grab();
    QCoreApplication::processEvents();
    // The pipe's guard lets a blocked read go after five seconds.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));

    const QString refusal = QStringLiteral("only web addresses are loaded");
    QCOMPARE(images->refusal(face), refusal);
    QCOMPARE(images->refusal(fifo), refusal);
    QCOMPARE(images->refusal(inline_), refusal);
    for (const QList<QVariant>& fetched : qAsConst(fetching))
        QCOMPARE(fetched.first().toUrl().scheme(), QStringLiteral("http"));

    const QRect avatar = view->partRect(rows->rowOfMessage(local.id), MessageHit::Author);
    // The avatar stands left of the author's name, 12 pixels apart.
    const QPoint avatarCentre(avatar.left() - 12 - MessageLayout::avatarSize / 2,
                              avatar.top() + MessageLayout::avatarSize / 2);
    QCOMPARE(view->hitAt(avatarCentre).kind, MessageHit::Author);
    QCOMPARE(tooltipAt(view, avatarCentre),
             QStringLiteral("Open @mallory's messages\nPicture not shown: only web addresses are loaded."));
    QCOMPARE(tooltipAt(view, view->partRect(rows->rowOfMessage(thumbnail.id), MessageHit::Chart).center()),
             QStringLiteral("Open the chart\nPicture not shown: only web addresses are loaded."));
}

// Sixteen tabs keep titles that tell them apart; a tab dragged elsewhere stays there after a
// restart; "Close other tabs" leaves the one it was asked on.
void tst_Desk::manyTabsStayReadableMovableAndClosable()
{
    const QStringList symbols{"MSFT", "GOOG", "TSLA", "XOM", "BRK.B", "RY.CA", "TD.CA", "EURUSD", "GBPJPY", "ES_F", "CL_F"};
    for (const QString& symbol : symbols)
        m_window->showStream({"symbol", symbol, 0});
    m_window->showStream({"user", QStringLiteral("a_very_long_user_name_to_shorten"), 0});
    while (m_window->tabCount() < 16)
        m_window->showStream({"symbol", QStringLiteral("ZZ%1").arg(m_window->tabCount()), 0});
    m_window->showStream(appleTab()->state());
    QCOMPARE(m_window->tabCount(), 16);

    QTabBar* bar = tabBar();
    QSet<QString> seen;
    for (int i = 0; i < bar->count(); ++i) {
        const QString text = bar->tabText(i);
        QVERIFY2(!seen.contains(text), qPrintable(text));
        seen.insert(text);
        QVERIFY2(bar->tabRect(i).width() > bar->fontMetrics().horizontalAdvance(text), qPrintable(text));
        const QString title = m_window->tabAt(i)->title();
        if (bar->fontMetrics().horizontalAdvance(title) <= DeskWindow::longestTitle)
            QVERIFY2(text.startsWith(title), qPrintable(text));
    }
    int longIndex = 0;
    while (m_window->tabAt(longIndex)->state().streamId != "user")
        ++longIndex;
    const QString longOne = m_window->tabText(longIndex);
    QVERIFY2(longOne.startsWith(QLatin1String("@a_very")) && longOne.endsWith(QLatin1String("shorten"))
                 && longOne.contains(QChar(0x2026)),
             qPrintable(longOne));
    QCOMPARE(bar->tabToolTip(longIndex), QStringLiteral("@a_very_long_user_name_to_shorten"));

    // The list of all tabs names each as its tab does, marks the current one and goes to another.
    QMenu* list = m_window->findChild<QToolButton*>(QStringLiteral("tabList"))->menu();
    emit list->aboutToShow();
    QCOMPARE(list->actions().size(), 16);
    for (int i = 0; i < 16; ++i) {
        QCOMPARE(list->actions().at(i)->text(), bar->tabText(i));
        QCOMPARE(list->actions().at(i)->isChecked(), i == bar->currentIndex());
    }
    list->actions().at(longIndex)->trigger();
    QCOMPARE(bar->currentIndex(), longIndex);

    // The fourth tab is dragged onto the second.
    const TabState dragged = m_window->tabAt(3)->state();
    bar->setCurrentIndex(3);
    drag(bar, bar->tabRect(3).center(), bar->tabRect(1).center() - QPoint(bar->tabRect(1).width() / 4, 0));
    QTRY_COMPARE(m_window->tabAt(1)->state(), dragged);
    QTRY_COMPARE(TabStore(m_host->settings()).tabs().at(1), dragged);

    m_window->showStream(appleTab()->state());
    QTimer::singleShot(0, this, [] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (!menu)
            return;
        for (QAction* action : menu->actions()) {
            if (action->text() == QLatin1String("Close &other tabs"))
                action->trigger();
        }
        menu->close();
    });
    emit bar->customContextMenuRequested(bar->tabRect(0).center());
    QCOMPARE(m_window->tabCount(), 1);
    QCOMPARE(appleTab()->state(), (TabState{"symbol", QStringLiteral("AAPL"), 0}));
    QCOMPARE(TabStore(m_host->settings()).tabs(), QList<TabState>{appleTab()->state()});
    m_window->showStream({"trending", QString(), 0});
    m_window->showStream({"mentions", QString(), 0});
    m_window->showStream(appleTab()->state());
}

// The status bar and the out-of-requests pop-up write the reset time alike, as the user's locale
// writes times.
void tst_Desk::theStatusBarAndThePopUpTellOneTime()
{
    Kelvar::NotificationManager* notifications = m_host->notifications();
    notifications->clear();
    auto* budget = m_window->findChild<RequestBudgetLabel*>();
    service()->setRemaining(0);
    const QString prefix = QStringLiteral("Requests limit exceeded. Please wait until ");
    QVERIFY(tickUntil([&] { return !notifications->events().isEmpty(); }));
    const QString popup = notifications->events().first()->text();
    QVERIFY2(popup.startsWith(prefix) && popup.endsWith(QLatin1Char('.')), qPrintable(popup));
    const QString time = popup.mid(prefix.size()).chopped(1);
    QVERIFY2(QLocale().toTime(time, QLocale::ShortFormat).isValid(), qPrintable(time));
    QTRY_VERIFY2(budget->fullText().contains(QStringLiteral("resets %1 ").arg(time)), qPrintable(budget->fullText()));
    service()->setRemaining(1000);
    QVERIFY(tickUntil([] { return !pool()->isOutOfRequests(); }));
    notifications->clear();
}

void tst_Desk::theProgramWritesAScreenshotAndQuits()
{
    QTemporaryDir home;
    const QString shot = home.filePath(QStringLiteral("desk.png"));
    const auto run = runDesk(home, {"--screenshot", shot, "--quit-after", "5", "--generate", "0", "--user", "screenshooter"});
    QVERIFY2(run.code == 0, qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("wrote")), qPrintable(run.errors));

    QImageReader reader(shot);
    QCOMPARE(reader.format(), QByteArray("png"));
    const QImage image = reader.read();
    QVERIFY(!image.isNull());
    // The same window, made here: the program's window has its size.
    DeskWindow same(m_host, false);
    QCOMPARE(image.size(), same.size() * same.devicePixelRatioF());
    // It shows messages, not an empty list: their $AAPL stands out in the symbol colour.
    QVERIFY(colourPixels(image, DeskTheme::current().symbol) > 100);
    QVERIFY(QFileInfo::exists(home.filePath(QStringLiteral("VentariHost/settings.ini"))));
}

void tst_Desk::theProgramReportsWhatItCannotDoWithoutADisplay_data()
{
    QTest::addColumn<QString>("platform"); // empty: none
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output"); // help on standard output, complaints on standard error

    QTest::newRow("help") << QString() << QStringList{"--help"} << 0 << "  --screenshot <FILE>";
    QTest::newRow("help, unknown platform") << "nosuchplatform" << QStringList{"-h"} << 0 << "  --quit-after <SECONDS>";
    QTest::newRow("unknown option") << QString() << QStringList{"--colour"} << 2 << "ventari-desk: Unknown option 'colour'.";
    QTest::newRow("bad value, unknown platform") << "nosuchplatform" << QStringList{"--theme", "blue"} << 2
                                                 << "--theme is dark or light, not \"blue\"";
    QTest::newRow("the desk's own --plugin") << QString() << QStringList{"--plugin"} << 2
                                             << "Missing value after '--plugin'.";
    // Reported, not a crash.
    QTest::newRow("a missing plugin") << "offscreen" << QStringList{"--plugin", "/nowhere/libventari.so", "--quit-after", "5"}
                                      << 1 << "could not be loaded (no such file).\nPaths tried:\n  /nowhere/libventari.so";
}

void tst_Desk::theProgramReportsWhatItCannotDoWithoutADisplay()
{
    QFETCH(QString, platform);
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QString, output);
    QTemporaryDir home;
    const DeskRun run = runDesk(home, arguments, platform);
    QVERIFY2(run.code == code, qPrintable(QStringLiteral("%1: %2").arg(run.code).arg(run.errors)));
    const QString written = code == 0 ? run.output : run.errors;
    QVERIFY2(written.contains(output), qPrintable(written));
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    DeskTheme::apply(DeskOptions::Theme::Dark, &application);
    tst_Desk test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_desk.moc"
