#pragma once

#include "tabstore.h"

#include <QtNetwork/QNetworkReply>
#include <QtWidgets/QMainWindow>

class AccountButton;
class AddressOpener;
class DeskHost;
class ImageCache;
class QLabel;
class QTabWidget;
class RequestBudgetLabel;
class StreamTab;

// The desk's main window: menus, the Ventari account, stream tabs kept from one run to the
// next, and a status bar with the request budget, the service and the signed-in user.
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
    ImageCache* imageCache() const { return m_images; }
    // Where the tabs' clicked addresses go; its refusals show in the status bar.
    AddressOpener* addressOpener() const { return m_opener; }
    AccountButton* accountButton() const { return m_account; }

    // Switches to a tab showing that state, or opens one.
    StreamTab* showStream(const TabState& state);

public slots:
    void newTab();
    void closeTab(int index);

protected:
    void closeEvent(QCloseEvent* event) override;

private slots:
    void onTabStateChanged();
    void onAccountChanged();
    void saveTabs();
    void onRequestFailed(int id, QNetworkReply::NetworkError code, const QString& text);

private:
    StreamTab* addTab(const TabState& state);
    void createMenus();
    void createStatusBar();
    void updateTabTitles();

    DeskHost* m_host;
    TabStore m_tabStore;
    ImageCache* m_images;
    AddressOpener* m_opener;
    QTabWidget* m_tabs;
    AccountButton* m_account;
    RequestBudgetLabel* m_budget;
    QLabel* m_accountStatus;
    bool m_restoring = false;
};
