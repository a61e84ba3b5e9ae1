#pragma once

#include <QtWidgets/QToolButton>

class QAction;
class QMenu;

namespace Ventari {
class IAuthorization;
}

// Who is signed in to Ventari, with the actions to sign in (the plugin's authorization dialog)
// and out; the button for the menu bar's corner and the actions for the Account menu.
class AccountButton : public QToolButton
{
    Q_OBJECT

public:
    AccountButton(Ventari::IAuthorization* authorization, QWidget* parent = nullptr);
    ~AccountButton() override;

    QAction* signInAction() const { return m_signIn; }
    QAction* signOutAction() const { return m_signOut; }
    // "Signed in as Alice Archer (@alice)", or "Not signed in".
    QString statusText() const;
    // "@alice" while signed in and the user record names someone; empty otherwise.
    QString handle() const;
    // The signed-in user's id; -1 while nobody is signed in or the user record has not come.
    int userId() const;

signals:
    void accountChanged();

private slots:
    void onSignIn();
    void onSignOut();
    // Called by the authorization state's notifier, by name.
    void onAuthorizationChanged();

private:
    Ventari::IAuthorization* m_authorization;
    QAction* m_signIn;
    QAction* m_signOut;
    QAction* m_who;
    QMenu* m_menu;
};
