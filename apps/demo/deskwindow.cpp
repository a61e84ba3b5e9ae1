#include "deskwindow.h"

#include "accountbutton.h"
#include "addressopener.h"
#include "alertcenter.h"
#include "bellicon.h"
#include "chartviewer.h"
#include "deskhost.h"
#include "desktheme.h"
#include "desktopnotifier.h"
#include "imagecache.h"
#include "mentionwatch.h"
#include "mnemonictext.h"
#include "requestbudgetlabel.h"
#include "safetext.h"
#include "streamtab.h"

#include <iauthorization.h>
#include <iventariservice.h>
#include <kelvar/notifications.h>
#include <settings/settingsstore.h>
#include <requestspool.h>
#include <ventariactionhandler.h>

#include <QtCore/QTimer>
#include <QtGui/QCloseEvent>
#include <QtGui/QKeySequence>
#include <QAction> // QtWidgets under Qt 5, QtGui under Qt 6
#include <QtWidgets/QApplication>
#include <QtWidgets/QHBoxLayout>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenu>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QToolButton>

namespace {

const QByteArray geometryKey = QByteArrayLiteral("VentariDesk/geometry");
const QString mentionsKey = QStringLiteral("mentions");
const QString deskTitle = QStringLiteral("Ventari Desk");

bool isMentions(const StreamTab* tab)
{
    return tab && tab->state().streamId == "mentions";
}

} // namespace

DeskWindow::DeskWindow(DeskHost* host, bool restoreGeometry, QWidget* parent)
    : QMainWindow(parent)
    , m_host(host)
    , m_tabStore(host->settings())
    , m_images(new ImageCache(this))
    , m_opener(new AddressOpener(this))
    , m_tabs(new QTabWidget(this))
    , m_tabList(new QMenu(this))
    , m_account(new AccountButton(host->facade()->authorization(), this))
    , m_budget(new RequestBudgetLabel(this))
    , m_service(new QLabel(this))
    , m_accountStatus(new QLabel(this))
    , m_desktop(new DesktopNotifier(QDBusConnection::sessionBus(), this))
    , m_alerts(new AlertCenter(host->notifications(), this, this))
{
    setWindowTitle(deskTitle);
    // The stream's controls, a few messages and the status bar stay whole down to this size.
    setMinimumSize(640, 420);
    resize(1120, 760);
    if (restoreGeometry)
        this->restoreGeometry(host->settings()->value(geometryKey).toByteArray());

    m_tabs->setDocumentMode(true);
    m_tabs->setMovable(true);
    // Whole titles, scrolled when there are many: Qt's eliding cuts "$AAPL" and "$AMZN" alike.
    m_tabs->setElideMode(Qt::ElideNone);
    m_tabs->setUsesScrollButtons(true);
    m_tabs->tabBar()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_tabs->tabBar(), &QWidget::customContextMenuRequested, this, &DeskWindow::onTabContextMenu);
    // Every tab one click away, however many there are, with its count.
    auto* corner = new QWidget(m_tabs);
    auto* cornerLayout = new QHBoxLayout(corner);
    cornerLayout->setContentsMargins(0, 0, 0, 0);
    cornerLayout->setSpacing(0);
    auto* list = new QToolButton(corner);
    list->setObjectName(QStringLiteral("tabList"));
    list->setText(QStringLiteral("\u25BE"));
    list->setToolTip(QStringLiteral("All tabs"));
    list->setAccessibleName(QStringLiteral("All tabs"));
    list->setAutoRaise(true);
    list->setPopupMode(QToolButton::InstantPopup);
    list->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }")); // the arrow says it
    list->setMenu(m_tabList);
    connect(m_tabList, &QMenu::aboutToShow, this, &DeskWindow::onTabListAboutToShow);
    auto* plus = new QToolButton(corner);
    plus->setText(QStringLiteral("+"));
    plus->setToolTip(QStringLiteral("New stream tab (Ctrl+T)"));
    plus->setAccessibleName(QStringLiteral("New stream tab"));
    plus->setAutoRaise(true);
    connect(plus, &QToolButton::clicked, this, &DeskWindow::newTab);
    cornerLayout->addWidget(list);
    cornerLayout->addWidget(plus);
    m_tabs->setCornerWidget(corner, Qt::TopRightCorner);
    setCentralWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, &DeskWindow::saveTabs);
    connect(m_tabs->tabBar(), &QTabBar::tabMoved, this, &DeskWindow::saveTabs);

    m_alerts->setDesktopNotifier(m_desktop);
    connect(m_alerts, &AlertCenter::showRequested, this, &DeskWindow::onShowRequested);
    m_mentions = new MentionWatch(host->facade(), this);
    connect(m_mentions, &MentionWatch::arrived, this, &DeskWindow::onNewMentions);

    createMenus();
    createStatusBar();
    connect(m_account, &AccountButton::accountChanged, this, &DeskWindow::onAccountChanged);
    onAccountChanged();

    m_restoring = true;
    for (const TabState& state : m_tabStore.tabs())
        addTab(state);
    m_tabs->setCurrentIndex(qBound(0, m_tabStore.currentIndex(), m_tabs->count() - 1));
    m_restoring = false;
    updateTabTitles();

    if (Kelvar::NotificationManager* notifications = host->notifications())
        notifications->setPopupHost(m_tabs);
}

DeskWindow::~DeskWindow()
{
    // A window made since has the popups now.
    Kelvar::NotificationManager* notifications = m_host->notifications();
    if (notifications && notifications->popupHost() == m_tabs)
        notifications->setPopupHost(nullptr);
    // The tabs go with the window's children, after its members: they have nothing more to say.
    for (int i = 0; i < m_tabs->count(); ++i)
        m_tabs->widget(i)->disconnect(this);
}

int DeskWindow::tabCount() const
{
    return m_tabs->count();
}

StreamTab* DeskWindow::tabAt(int index) const
{
    return qobject_cast<StreamTab*>(m_tabs->widget(index));
}

StreamTab* DeskWindow::currentTab() const
{
    return qobject_cast<StreamTab*>(m_tabs->currentWidget());
}

QString DeskWindow::tabText(int index) const
{
    StreamTab* tab = tabAt(index);
    if (!tab)
        return QString();
    const QString title = m_tabs->tabBar()->fontMetrics().elidedText(tab->title(), Qt::ElideMiddle, longestTitle);
    const int unread = tab->unreadCount();
    return unread > 0 ? QStringLiteral("%1 (%2)").arg(title).arg(unread) : title;
}

int DeskWindow::unreadCount() const
{
    int count = 0;
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (StreamTab* tab = tabAt(i))
            count += tab->unreadCount();
    }
    return count;
}

ChartViewer* DeskWindow::chartViewer() const
{
    return m_chart;
}

StreamTab* DeskWindow::showStream(const TabState& state)
{
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (tabAt(i)->state() == state) {
            m_tabs->setCurrentIndex(i);
            return tabAt(i);
        }
    }
    StreamTab* tab = addTab(state);
    m_tabs->setCurrentWidget(tab);
    return tab;
}

void DeskWindow::showChart(const Ventari::Message& message)
{
    if (!m_chart)
        m_chart = new ChartViewer(m_images, m_opener, this);
    m_chart->showChart(message);
    m_chart->show();
    m_chart->raise();
    m_chart->activateWindow();
}

void DeskWindow::newTab()
{
    StreamTab* tab = addTab({"symbol", QString(), 0});
    m_tabs->setCurrentWidget(tab);
    tab->focusEditor();
}

// The last tab stays: a desk without streams has nothing to show.
void DeskWindow::closeTab(int index)
{
    if (m_tabs->count() <= 1 || index < 0 || index >= m_tabs->count())
        return;
    QWidget* tab = m_tabs->widget(index);
    m_tabs->removeTab(index);
    tab->disconnect(this);
    delete tab;
    updateTabTitles();
    saveTabs();
}

void DeskWindow::closeOtherTabs(int index)
{
    StreamTab* kept = tabAt(index);
    if (!kept)
        return;
    for (int i = m_tabs->count() - 1; i >= 0; --i) {
        QWidget* tab = m_tabs->widget(i);
        if (tab == kept)
            continue;
        m_tabs->removeTab(i);
        tab->disconnect(this);
        delete tab;
    }
    updateTabTitles();
    saveTabs();
}

void DeskWindow::focusStreamEditor()
{
    if (StreamTab* tab = currentTab())
        tab->focusEditor();
}

void DeskWindow::closeEvent(QCloseEvent* event)
{
    saveTabs();
    m_host->settings()->setValue(geometryKey, saveGeometry());
    m_host->settings()->sync();
    if (m_chart)
        m_chart->close();
    QMainWindow::closeEvent(event);
}

void DeskWindow::resizeEvent(QResizeEvent* event)
{
    QMainWindow::resizeEvent(event);
    fitStatusBar();
}

void DeskWindow::onTabStateChanged()
{
    updateTabTitles();
    saveTabs();
}

void DeskWindow::onAccountChanged()
{
    m_accountStatus->setToolTip(m_account->statusText());
    fitStatusBar();
    m_alerts->setCurrentUserId(m_account->userId());
}

void DeskWindow::saveTabs()
{
    if (m_restoring)
        return;
    QList<TabState> states;
    for (int i = 0; i < m_tabs->count(); ++i)
        states << tabAt(i)->state();
    m_tabStore.save(states, m_tabs->currentIndex());
}

StreamTab* DeskWindow::addTab(const TabState& state)
{
    auto* tab = new StreamTab(m_host->facade(), m_images, m_opener, m_tabs);
    connect(tab, &StreamTab::stateChanged, this, &DeskWindow::onTabStateChanged);
    connect(tab, &StreamTab::openRequested, this, &DeskWindow::showStream);
    connect(tab, &StreamTab::unreadChanged, this, &DeskWindow::scheduleTabTitles);
    connect(tab, &StreamTab::newMessages, this, &DeskWindow::onNewMessages);
    connect(tab, &StreamTab::chartRequested, this, &DeskWindow::showChart);
    connect(tab, &StreamTab::replySent, this, [this] { statusBar()->showMessage(QStringLiteral("Reply sent."), 5000); });
    tab->setProperty("alertKey", QStringLiteral("tab-%1").arg(++m_lastAlertKey));
    const int index = m_tabs->addTab(tab, QString());
    // Fusion's own close mark comes from the icon theme, which a bare system may lack.
    auto* close = new QToolButton(m_tabs);
    close->setText(QStringLiteral("✕"));
    close->setAutoRaise(true);
    close->setToolTip(QStringLiteral("Close this tab (Ctrl+W)"));
    close->setFixedSize(18, 18);
    connect(close, &QToolButton::clicked, this, [this, tab] { closeTab(m_tabs->indexOf(tab)); });
    m_tabs->tabBar()->setTabButton(index, QTabBar::RightSide, close);
    // The tab announces its state, which names and saves the tabs.
    tab->setState(state);
    return tab;
}

void DeskWindow::createMenus()
{
    QMenu* desk = menuBar()->addMenu(QStringLiteral("&Desk"));
    QAction* newTab = desk->addAction(QStringLiteral("&New stream tab"), this, &DeskWindow::newTab);
    newTab->setShortcut(QKeySequence::AddTab);
    QAction* closeTab = desk->addAction(QStringLiteral("&Close tab"), this, [this] { this->closeTab(m_tabs->currentIndex()); });
    closeTab->setShortcut(QKeySequence::Close);
    QAction* editor = desk->addAction(QStringLiteral("&Go to the stream's symbol"), this, &DeskWindow::focusStreamEditor);
    editor->setShortcuts({QKeySequence(Qt::CTRL + Qt::Key_L), QKeySequence(Qt::Key_F6)});
    desk->addSeparator();
    QAction* quit = desk->addAction(QStringLiteral("&Quit"), this, &QWidget::close);
    quit->setShortcut(QKeySequence::Quit);

    QMenu* account = menuBar()->addMenu(QStringLiteral("&Account"));
    account->addAction(m_account->signInAction());
    account->addAction(m_account->signOutAction());

    QMenu* share = menuBar()->addMenu(QStringLiteral("&Share"));
    share->addAction(QStringLiteral("Share an &idea…"), this, [this] { m_host->facade()->shareText(QString()); });
    share->addAction(QStringLiteral("Share a &screenshot…"), this, [this] { currentTab()->shareScreenshot(); });

    menuBar()->setCornerWidget(m_account, Qt::TopRightCorner);
}

void DeskWindow::createStatusBar()
{
    const QString dim = QStringLiteral("color: %1;").arg(DeskTheme::current().dim.name());
    m_budget->setStyleSheet(dim);
    statusBar()->addWidget(m_budget, 1);
    m_service->setStyleSheet(dim);
    m_service->setToolTip(QStringLiteral("The Ventari service the desk talks to: %1%2")
                              .arg(m_host->serviceAddress(), m_host->embeddedService() ? QStringLiteral(" (embedded)") : QString()));
    statusBar()->addPermanentWidget(m_service);
    statusBar()->addPermanentWidget(m_accountStatus);
    connect(m_budget, &RequestBudgetLabel::wordsChanged, this, &DeskWindow::fitStatusBar);
    connect(m_opener, &AddressOpener::problem, this,
            [this](const QString& text) { statusBar()->showMessage(text, 15000); });
    if (Ventari::VentariActionHandler* handler = Ventari::VentariActionHandler::instance()) {
        m_budget->setPool(handler->requestPool());
        connect(handler->requestPool(), &Ventari::RequestPool::replyError, this, &DeskWindow::onRequestFailed);
        connect(handler->requestPool(), &Ventari::RequestPool::replyDone, this, &DeskWindow::onReplyDone);
    }
}

// The streams only say "Stream not found."; the status bar says when the service is not there.
void DeskWindow::onRequestFailed(int, QNetworkReply::NetworkError code, const QString& text)
{
    if (code > QNetworkReply::NoError && code < QNetworkReply::ProxyConnectionRefusedError) {
        m_serviceUnreachable = true;
        statusBar()->showMessage(QStringLiteral("Cannot reach the Ventari service at %1: %2")
                                     .arg(m_host->serviceAddress(), text),
                                 15000);
    }
}

// The first answer after an outage: the pictures that failed meanwhile come now.
void DeskWindow::onReplyDone()
{
    if (!m_serviceUnreachable)
        return;
    m_serviceUnreachable = false;
    m_images->retryFailed();
}

void DeskWindow::onTabContextMenu(const QPoint& pos)
{
    const int index = m_tabs->tabBar()->tabAt(pos);
    StreamTab* tab = tabAt(index);
    if (!tab)
        return;
    QMenu menu(this);
    QAction* bell = menu.addAction(QStringLiteral("&Notify me of new messages"));
    bell->setCheckable(true);
    bell->setChecked(tab->hasBell());
    bell->setIcon(BellIcon::make(palette().color(QPalette::Highlight), true));
    connect(bell, &QAction::toggled, tab, &StreamTab::setBell);
    menu.addSeparator();
    QAction* close = menu.addAction(QStringLiteral("&Close tab"), this, [this, tab] { closeTab(m_tabs->indexOf(tab)); });
    QAction* others = menu.addAction(QStringLiteral("Close &other tabs"), this, [this, tab] { closeOtherTabs(m_tabs->indexOf(tab)); });
    close->setEnabled(m_tabs->count() > 1);
    others->setEnabled(m_tabs->count() > 1);
    menu.exec(m_tabs->tabBar()->mapToGlobal(pos));
}

// Mentions have notifications of their own, which name who wrote.
void DeskWindow::onNewMessages(const QVector<Ventari::Message>& messages)
{
    auto* tab = qobject_cast<StreamTab*>(sender());
    if (!tab || !tab->hasBell() || isMentions(tab) || isWatched(tab))
        return;
    m_alerts->add(tab->property("alertKey").toString(), tab->title(), AlertCenter::Kind::Messages, messages);
}

void DeskWindow::onNewMentions(const QVector<Ventari::Message>& messages)
{
    if (isMentions(currentTab()) && isWatched(currentTab()))
        return;
    m_alerts->add(mentionsKey, QStringLiteral("Mentions"), AlertCenter::Kind::Mentions, messages);
}

void DeskWindow::onShowRequested(const QString& key)
{
    if (key == mentionsKey) {
        showStream({"mentions", QString(), 0});
    } else {
        // Nothing when the tab was closed since.
        for (int i = 0; i < m_tabs->count(); ++i) {
            if (m_tabs->widget(i)->property("alertKey") == key)
                m_tabs->setCurrentIndex(i);
        }
    }
    bringForward();
}

void DeskWindow::onTabListAboutToShow()
{
    m_tabList->clear();
    for (int i = 0; i < m_tabs->count(); ++i) {
        QAction* action = m_tabList->addAction(m_tabs->tabIcon(i), mnemonicText(tabText(i)));
        action->setCheckable(true);
        action->setChecked(i == m_tabs->currentIndex());
        QWidget* tab = m_tabs->widget(i);
        connect(action, &QAction::triggered, this, [this, tab] { m_tabs->setCurrentWidget(tab); });
    }
}

// Counts change while tabs come and go, when the tab widget is between two states: the titles
// follow once it is done, all at once.
void DeskWindow::scheduleTabTitles()
{
    if (m_titlesDue)
        return;
    m_titlesDue = true;
    QTimer::singleShot(0, this, &DeskWindow::updateTabTitles);
}

void DeskWindow::updateTabTitles()
{
    m_titlesDue = false;
    const QColor unreadColour = palette().color(QPalette::Highlight).lighter(130);
    const QIcon bell = BellIcon::make(DeskTheme::current().dim, true);
    for (int i = 0; i < m_tabs->count(); ++i) {
        StreamTab* tab = tabAt(i);
        if (!tab)
            continue;
        const int unread = tab->unreadCount();
        m_tabs->setTabText(i, mnemonicText(tabText(i)));
        QString tip = tab->title();
        if (unread > 0)
            tip += QStringLiteral("\n%1 new message%2").arg(unread).arg(unread == 1 ? "" : "s");
        if (tab->hasBell())
            tip += QStringLiteral("\nNew messages raise a notification");
        m_tabs->setTabToolTip(i, tip);
        m_tabs->setTabIcon(i, tab->hasBell() ? bell : QIcon());
        m_tabs->tabBar()->setTabTextColor(i, unread > 0 ? unreadColour : QColor());
        if (QWidget* close = m_tabs->tabBar()->tabButton(i, QTabBar::RightSide))
            close->setVisible(m_tabs->count() > 1);
    }
    updateWindowTitle();
}

void DeskWindow::fitStatusBar()
{
    const QUrl address(m_host->serviceAddress());
    const QString place = address.port() > 0 ? QStringLiteral("%1:%2").arg(address.host()).arg(address.port()) : address.host();
    const QString embedded = m_host->embeddedService() ? QStringLiteral(" (embedded)") : QString();
    const QString who = m_account->handle();
    const QString signedIn = m_account->statusText();
    // Longest first; the account is also in the menu bar's corner, so it gives way first.
    const QList<QPair<QString, QString>> forms{{place + embedded, signedIn},
                                               {place, signedIn},
                                               {place, who},
                                               {place, QString()},
                                               {QString(), QString()}};
    const QFontMetrics metrics = m_service->fontMetrics();
    const int spacing = 24; // label margins and the status bar's gaps and grip
    const int room = statusBar()->width() - m_budget->briefWidth() - spacing;
    for (const auto& form : forms) {
        const int needed = metrics.horizontalAdvance(form.first) + metrics.horizontalAdvance(form.second) + spacing;
        if (needed <= room || form.first.isEmpty()) {
            m_service->setText(form.first);
            m_service->setVisible(!form.first.isEmpty());
            m_accountStatus->setText(form.second);
            m_accountStatus->setVisible(!form.second.isEmpty());
            return;
        }
    }
}

void DeskWindow::updateWindowTitle()
{
    const int unread = unreadCount();
    setWindowTitle(unread > 0 ? QStringLiteral("(%1) %2").arg(unread).arg(deskTitle) : deskTitle);
}

bool DeskWindow::isWatched(StreamTab* tab) const
{
    return tab && tab->isVisible() && isActiveWindow() && !isMinimized();
}

void DeskWindow::bringForward()
{
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}
