#pragma once

#include "tabstore.h"

#include <ventaritypes.h>

#include <QtCore/QPointer>
#include <QtCore/QVector>
#include <QtNetwork/QNetworkReply>
#include <QtWidgets/QMainWindow>

class AccountButton;
class AddressOpener;
class AlertCenter;
class ChartViewer;
class DeskHost;
class DesktopNotifier;
class ImageCache;
class MentionWatch;
class QLabel;
class QMenu;
class QTabWidget;
class RequestBudgetLabel;
class StreamTab;

// The desk's main window: menus, the Ventari account, stream tabs kept from one run to the
// next with counts of what came while they were in the background, notifications of mentions and
// of tabs with a bell, the chart viewer, and a status bar with the request budget, the service
// and the signed-in user.
class DeskWindow : public QMainWindow
{
    Q_OBJECT

public:
    // restoreGeometry: take the size and place of the last run (not for screenshots).
    DeskWindow(DeskHost* host, bool restoreGeometry, QWidget* parent = nullptr);
    ~DeskWindow() override;

    int tabCount() const;
    StreamTab* tabAt(int index) const;
    StreamTab* currentTab() const;
    // The tab's title as its tab shows it: shortened in the middle when long, with its count.
    QString tabText(int index) const;
    // New messages in the tabs that are not on screen.
    int unreadCount() const;
    ImageCache* imageCache() const { return m_images; }
    // Where the tabs' clicked addresses go; its refusals show in the status bar.
    AddressOpener* addressOpener() const { return m_opener; }
    AccountButton* accountButton() const { return m_account; }
    AlertCenter* alerts() const { return m_alerts; }
    // The chart on show; null until one was asked for.
    ChartViewer* chartViewer() const;

    // Switches to a tab showing that state, or opens one.
    StreamTab* showStream(const TabState& state);
    void showChart(const Ventari::Message& message);

    // Titles longer than this many pixels are shortened in the middle, keeping both ends.
    static constexpr int longestTitle = 160;

public slots:
    void newTab();
    void closeTab(int index);
    void closeOtherTabs(int index);
    // The keyboard to the current stream's symbol, user or list box.
    void focusStreamEditor();

protected:
    void closeEvent(QCloseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onTabStateChanged();
    void onAccountChanged();
    void saveTabs();
    void onRequestFailed(int id, QNetworkReply::NetworkError code, const QString& text);
    void onReplyDone();
    void onTabContextMenu(const QPoint& pos);
    void onTabListAboutToShow();
    void onNewMessages(const QVector<Ventari::Message>& messages);
    void onNewMentions(const QVector<Ventari::Message>& messages);
    void onShowRequested(const QString& key);
    void scheduleTabTitles();
    void updateTabTitles();

private:
    StreamTab* addTab(const TabState& state);
    void createMenus();
    void createStatusBar();
    void updateWindowTitle();
    // The budget keeps its words; the service and the account shorten or give way.
    void fitStatusBar();
    // The user sees it now: on screen in the active desk.
    bool isWatched(StreamTab* tab) const;
    void bringForward();

    DeskHost* m_host;
    TabStore m_tabStore;
    ImageCache* m_images;
    AddressOpener* m_opener;
    QTabWidget* m_tabs;
    QMenu* m_tabList;
    AccountButton* m_account;
    RequestBudgetLabel* m_budget;
    QLabel* m_service;
    QLabel* m_accountStatus;
    DesktopNotifier* m_desktop;
    AlertCenter* m_alerts;
    MentionWatch* m_mentions = nullptr;
    QPointer<ChartViewer> m_chart;
    int m_lastAlertKey = 0;
    bool m_restoring = false;
    bool m_titlesDue = false;
    bool m_serviceUnreachable = false;
};
