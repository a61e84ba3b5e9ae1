#include "deskwindow.h"

#include "accountbutton.h"
#include "addressopener.h"
#include "deskhost.h"
#include "desktheme.h"
#include "imagecache.h"
#include "requestbudgetlabel.h"
#include "streamtab.h"

#include <iventariservice.h>
#include <kelvar/notifications.h>
#include <settings/settingsstore.h>
#include <requestspool.h>
#include <ventariactionhandler.h>

#include <QtGui/QCloseEvent>
#include <QtGui/QKeySequence>
#include <QAction> // QtWidgets under Qt 5, QtGui under Qt 6
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtWidgets/QMenuBar>
#include <QtWidgets/QStatusBar>
#include <QtWidgets/QTabBar>
#include <QtWidgets/QTabWidget>
#include <QtWidgets/QToolButton>

namespace {

const QByteArray geometryKey = QByteArrayLiteral("VentariDesk/geometry");

} // namespace

DeskWindow::DeskWindow(DeskHost* host, bool restoreGeometry, QWidget* parent)
    : QMainWindow(parent)
    , m_host(host)
    , m_tabStore(host->settings())
    , m_images(new ImageCache(this))
    , m_opener(new AddressOpener(this))
    , m_tabs(new QTabWidget(this))
    , m_account(new AccountButton(host->facade()->authorization(), this))
    , m_budget(new RequestBudgetLabel(this))
    , m_accountStatus(new QLabel(this))
{
    setWindowTitle(QStringLiteral("Ventari Desk"));
    resize(1120, 760);
    if (restoreGeometry)
        this->restoreGeometry(host->settings()->value(geometryKey).toByteArray());

    m_tabs->setDocumentMode(true);
    m_tabs->setMovable(true);
    m_tabs->setElideMode(Qt::ElideRight);
    auto* plus = new QToolButton(m_tabs);
    plus->setText(QStringLiteral("+"));
    plus->setToolTip(QStringLiteral("New stream tab (Ctrl+T)"));
    plus->setAutoRaise(true);
    connect(plus, &QToolButton::clicked, this, &DeskWindow::newTab);
    m_tabs->setCornerWidget(plus, Qt::TopRightCorner);
    setCentralWidget(m_tabs);
    connect(m_tabs, &QTabWidget::currentChanged, this, &DeskWindow::saveTabs);
    connect(m_tabs->tabBar(), &QTabBar::tabMoved, this, &DeskWindow::saveTabs);

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

void DeskWindow::newTab()
{
    StreamTab* tab = addTab({"symbol", QString(), 0});
    m_tabs->setCurrentWidget(tab);
    tab->focusEditor();
}

// The last tab stays: a desk without streams has nothing to show.
void DeskWindow::closeTab(int index)
{
    if (m_tabs->count() <= 1)
        return;
    QWidget* tab = m_tabs->widget(index);
    m_tabs->removeTab(index);
    delete tab;
    updateTabTitles();
    saveTabs();
}

void DeskWindow::closeEvent(QCloseEvent* event)
{
    saveTabs();
    m_host->settings()->setValue(geometryKey, saveGeometry());
    m_host->settings()->sync();
    QMainWindow::closeEvent(event);
}

void DeskWindow::onTabStateChanged()
{
    updateTabTitles();
    saveTabs();
}

void DeskWindow::onAccountChanged()
{
    m_accountStatus->setText(m_account->statusText());
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
    auto* service = new QLabel(this);
    service->setStyleSheet(dim);
    const bool embedded = m_host->embeddedService() != nullptr;
    service->setText(QStringLiteral("%1%2").arg(m_host->serviceAddress(), embedded ? QStringLiteral(" (embedded)")
                                                                                     : QString()));
    service->setToolTip(QStringLiteral("The Ventari service the desk talks to"));
    statusBar()->addPermanentWidget(service);
    statusBar()->addPermanentWidget(m_accountStatus);
    connect(m_opener, &AddressOpener::problem, this,
            [this](const QString& text) { statusBar()->showMessage(text, 15000); });
    if (Ventari::VentariActionHandler* handler = Ventari::VentariActionHandler::instance()) {
        m_budget->setPool(handler->requestPool());
        connect(handler->requestPool(), &Ventari::RequestPool::replyError, this, &DeskWindow::onRequestFailed);
    }
}

// The streams only say "Stream not found."; the status bar says when the service is not there.
void DeskWindow::onRequestFailed(int, QNetworkReply::NetworkError code, const QString& text)
{
    if (code > QNetworkReply::NoError && code < QNetworkReply::ProxyConnectionRefusedError)
        statusBar()->showMessage(QStringLiteral("Cannot reach the Ventari service at %1: %2")
                                     .arg(m_host->serviceAddress(), text),
                                 15000);
}

void DeskWindow::updateTabTitles()
{
    for (int i = 0; i < m_tabs->count(); ++i) {
        m_tabs->setTabText(i, tabAt(i)->title());
        m_tabs->setTabToolTip(i, tabAt(i)->title());
    }
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (QWidget* close = m_tabs->tabBar()->tabButton(i, QTabBar::RightSide))
            close->setVisible(m_tabs->count() > 1);
    }
}
