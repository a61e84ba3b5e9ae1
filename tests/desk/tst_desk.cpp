#include <accountbutton.h>
#include <deskhost.h>
#include <desktheme.h>
#include <deskwindow.h>
#include <messagelistmodel.h>
#include <messagelistview.h>
#include <streamtab.h>

#include "dialogplayer.h"

#include <authorization/authorizationdialog.h>
#include <corvane/corvanesink.h>

#include <emulator/service.h>
#include <iauthorization.h>
#include <iventarimodel.h>
#include <iventariservice.h>
#include <kelvar/notifications.h>
#include <requestspool.h>
#include <settings/settingsstore.h>
#include <ventariactionhandler.h>

#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtGui/QImageReader>
#include <QtTest/QtTest>
#include <QtWebKitWidgets/QWebFrame>
#include <QtWebKitWidgets/QWebPage>
#include <QtWebKitWidgets/QWebView>
#include <QtWidgets/QApplication>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QToolButton>

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
    void aGeneratedMessageArrivesWithThePoolsTicks();
    void followingRoundTrips();
    void notificationsPopUpInTheDesk();
    void popupsStayWithTheNewerWindow();
    void aWatchListTabShowsTheFirstListOrTheChosenOne_data();
    void aWatchListTabShowsTheFirstListOrTheChosenOne();
    void retryOpensTheStreamAfresh();
    void aBackgroundTabShowsItsError();
    void signingOutShowsWhatNeedsASignIn();
    void aLikeSignedOutSignsInFirst();
    void theProgramWritesAScreenshotAndQuits();
    void aMissingPluginIsReportedNotACrash();
    void theProgramReadsItsOptionsWithoutADisplay_data();
    void theProgramReadsItsOptionsWithoutADisplay();

private:
    StreamTab* appleTab() const { return m_window->tabAt(0); }

    QTemporaryDir m_home;
    DeskHost* m_host = nullptr;
    DeskWindow* m_window = nullptr;
    int m_aliceId = -1;
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
    QVERIFY(m_host->embeddedService());
    m_aliceId = m_host->embeddedService()->store().userByName("alice")->id;

    m_window = new DeskWindow(m_host, false);
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    QCOMPARE(m_window->tabCount(), 3);
}

void tst_Desk::cleanupTestCase()
{
    delete m_window;
    if (m_host)
        m_host->stop();
    QVERIFY(!m_host || !m_host->facade());
    delete m_host;
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
    const QRect like = view->partRect(row, MessageHit::Like);
    QVERIFY(view->viewport()->rect().contains(like));
    QCOMPARE(likePixels(view, like), 0);

    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, like.center());

    QTRY_VERIFY_WITH_TIMEOUT(rows->index(rows->rowOfMessage(before.id)).data(MessageListModel::LikedRole).toBool(),
                             10000);
    const Ventari::Message after = rows->messageAt(rows->rowOfMessage(before.id));
    QCOMPARE(after.likes.size(), before.likes.size() + 1);
    const auto stored = m_host->embeddedService()->store().message(before.id);
    QVERIFY(stored && stored->likes.count(m_aliceId) == 1);
    QTRY_VERIFY(likePixels(view, view->partRect(rows->rowOfMessage(before.id), MessageHit::Like)) > 0);

    // And back.
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, view->partRect(rows->rowOfMessage(before.id), MessageHit::Like).center());
    QTRY_VERIFY_WITH_TIMEOUT(!rows->index(rows->rowOfMessage(before.id)).data(MessageListModel::LikedRole).toBool(),
                             10000);
    QCOMPARE(rows->messageAt(rows->rowOfMessage(before.id)).likes, before.likes);
}

void tst_Desk::aGeneratedMessageArrivesWithThePoolsTicks()
{
    Emulator::Service* service = m_host->embeddedService();
    // Symbols are taken in turn, so $AAPL comes round within one turn of them all.
    int generated = -1;
    for (int i = 0; i < 40 && generated == -1; ++i) {
        const int id = service->generateMessage();
        const auto message = service->store().message(id);
        QVERIFY(message);
        if (std::count(message->symbolIds.begin(), message->symbolIds.end(), appleId))
            generated = id;
    }
    QVERIFY(generated != -1);
    QCOMPARE(appleTab()->messages()->rowOfMessage(generated), -1);

    Ventari::RequestPool* pool = Ventari::VentariActionHandler::instance()->requestPool();
    for (int tick = 0; tick < 30 && appleTab()->messages()->rowOfMessage(generated) == -1; ++tick) {
        QVERIFY(QMetaObject::invokeMethod(pool, "runNextRequest"));
        (void)QTest::qWaitFor([&] { return appleTab()->messages()->rowOfMessage(generated) != -1; }, 300);
    }
    QCOMPARE(appleTab()->messages()->rowOfMessage(generated), 0);
}

void tst_Desk::followingRoundTrips()
{
    const Emulator::DataStore& store = m_host->embeddedService()->store();
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

void tst_Desk::notificationsPopUpInTheDesk()
{
    Kelvar::NotificationManager* notifications = m_host->notifications();
    notifications->addEvent(new Kelvar::SimpleNotificationInfo(QStringLiteral("Ventari Error"),
                                                               QStringLiteral("Something to read"), 1));
    const QList<QWidget*> popups = notifications->popups();
    QCOMPARE(popups.size(), 1);
    QVERIFY(popups.first()->isVisible());
    QCOMPARE(popups.first()->window(), m_window);
    const QRect inWindow(popups.first()->mapTo(m_window, QPoint(0, 0)), popups.first()->size());
    QVERIFY(m_window->rect().contains(inWindow));
    QVERIFY(inWindow.center().x() > m_window->width() / 2 && inWindow.center().y() > m_window->height() / 2);
    QTest::mouseClick(popups.first(), Qt::LeftButton);
    QTRY_VERIFY(notifications->popups().isEmpty());
}

void tst_Desk::popupsStayWithTheNewerWindow()
{
    auto* older = new DeskWindow(m_host, false);
    DeskWindow newer(m_host, false);
    newer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&newer));
    delete older;

    Kelvar::NotificationManager* notifications = m_host->notifications();
    notifications->addEvent(new Kelvar::SimpleNotificationInfo(QStringLiteral("Ventari Error"),
                                                               QStringLiteral("Still in the desk"), 1));
    const QList<QWidget*> popups = notifications->popups();
    QCOMPARE(popups.size(), 1);
    QCOMPARE(popups.first()->window(), &newer);
    QTest::mouseClick(popups.first(), Qt::LeftButton);
    QTRY_VERIFY(notifications->popups().isEmpty());
}

void tst_Desk::aWatchListTabShowsTheFirstListOrTheChosenOne_data()
{
    const std::vector<Emulator::WatchList> lists = m_host->embeddedService()->store().watchListsOf(m_aliceId);
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

void tst_Desk::retryOpensTheStreamAfresh()
{
    StreamTab* tab = m_window->showStream({"symbol", QStringLiteral("NOSUCHX"), 0});
    QTRY_COMPARE_WITH_TIMEOUT(tab->bannerText(), QStringLiteral("Stream not found."), 10000);
    const QWeakPointer<Ventari::IVentariModel> failed = tab->messages()->source();
    auto* retry = tab->findChild<QPushButton*>(QStringLiteral("bannerRetry"));
    QVERIFY(retry->isVisible());

    QTest::mouseClick(retry, Qt::LeftButton);

    // Forcing the failed model to update would have kept it, with one more refresh chain for good.
    QVERIFY(failed.isNull());
    QVERIFY(tab->messages()->source());
    QVERIFY(tab->bannerText().isEmpty());
    QCOMPARE(tab->view()->placeholderText(), QStringLiteral("Loading messages…"));
    QTRY_COMPARE_WITH_TIMEOUT(tab->bannerText(), QStringLiteral("Stream not found."), 10000);
    m_window->closeTab(m_window->tabCount() - 1);
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
    Emulator::Service* service = m_host->embeddedService();
    Ventari::RequestPool* pool = Ventari::VentariActionHandler::instance()->requestPool();
    int dialogs = 0;
    QTimer player;
    connect(&player, &QTimer::timeout, [&] {
        auto* dialog = qobject_cast<Ventari::AuthorizationDialog*>(QApplication::activeModalWidget());
        if (!dialog || dialogs > 0)
            return;
        QWebFrame* frame = dialog->webView()->page()->mainFrame();
        if (!frame->evaluateJavaScript(QStringLiteral("typeof approve == 'function'")).toBool())
            return;
        ++dialogs;
        QVERIFY(service->removeMessage(id));
        for (int tick = 0; tick < 30 && rows->rowOfMessage(id) != -1; ++tick) {
            QVERIFY(QMetaObject::invokeMethod(pool, "runNextRequest"));
            (void)QTest::qWaitFor([&] { return rows->rowOfMessage(id) == -1; }, 300);
        }
        QCOMPARE(rows->rowOfMessage(id), -1);
        frame->evaluateJavaScript(QStringLiteral("approve('alice')"));
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

void tst_Desk::aMissingPluginIsReportedNotACrash()
{
    QTemporaryDir home;
    const QString missing = home.filePath(QStringLiteral("nowhere"));
    const auto run = runDesk(home, {"--plugin", missing, "--quit-after", "5"});
    QCOMPARE(run.code, 1);
    QVERIFY2(run.errors.contains(missing), qPrintable(run.errors));
    QVERIFY2(run.errors.contains(QStringLiteral("could not be loaded")), qPrintable(run.errors));
}

void tst_Desk::theProgramReadsItsOptionsWithoutADisplay_data()
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
}

void tst_Desk::theProgramReadsItsOptionsWithoutADisplay()
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
