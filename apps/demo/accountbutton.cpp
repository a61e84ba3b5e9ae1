#include "accountbutton.h"

#include "mnemonictext.h"
#include "safetext.h"

#include <iauthorization.h>

#include <QAction> // QtWidgets under Qt 5, QtGui under Qt 6
#include <QtWidgets/QMenu>

AccountButton::AccountButton(Ventari::IAuthorization* authorization, QWidget* parent)
    : QToolButton(parent)
    , m_authorization(authorization)
    , m_signIn(new QAction(QStringLiteral("Sign in…"), this))
    , m_signOut(new QAction(QStringLiteral("Sign out"), this))
    , m_who(new QAction(this))
    , m_menu(new QMenu(this))
{
    setAutoRaise(true);
    setToolButtonStyle(Qt::ToolButtonTextOnly);
    // The style's own menu arrow sits cramped in the button's corner; the text carries one instead.
    setStyleSheet(QStringLiteral("QToolButton { padding: 2px 10px; }"
                                 " QToolButton:hover, QToolButton:pressed { background: palette(midlight); border-radius: 3px; }"
                                 " QToolButton::menu-indicator { image: none; width: 0; }"));
    m_who->setEnabled(false);
    m_menu->addAction(m_who);
    m_menu->addSeparator();
    m_menu->addAction(m_signOut);
    connect(m_signIn, &QAction::triggered, this, &AccountButton::onSignIn);
    connect(m_signOut, &QAction::triggered, this, &AccountButton::onSignOut);
    // Signed out, the button signs in; signed in, it opens the menu.
    connect(this, &QToolButton::clicked, m_signIn, &QAction::trigger);
    m_authorization->subscribe("authorizationChanged", this, "onAuthorizationChanged");
    m_authorization->subscribe("userInfoChanged", this, "onAuthorizationChanged");
    onAuthorizationChanged();
}

AccountButton::~AccountButton()
{
    m_authorization->unsubscribe(this);
}

QString AccountButton::statusText() const
{
    if (!m_authorization->isAuthorized())
        return QStringLiteral("Not signed in");
    const QString who = handle();
    if (who.isEmpty())
        return QStringLiteral("Signed in");
    return QStringLiteral("Signed in as %1 (%2)").arg(SafeText::inset(m_authorization->userInfo().info.name), who);
}

QString AccountButton::handle() const
{
    const Ventari::StoredUserInfo user = m_authorization->userInfo();
    if (!m_authorization->isAuthorized() || user.isEmpty || user.info.username.isEmpty())
        return QString();
    return SafeText::handle(QLatin1Char('@'), user.info.username);
}

int AccountButton::userId() const
{
    const Ventari::StoredUserInfo user = m_authorization->userInfo();
    return m_authorization->isAuthorized() && !user.isEmpty ? user.info.id : -1;
}

void AccountButton::onSignIn()
{
    m_authorization->authorize();
}

void AccountButton::onSignOut()
{
    m_authorization->resetToken();
}

void AccountButton::onAuthorizationChanged()
{
    const bool signedIn = m_authorization->isAuthorized();
    m_signIn->setEnabled(!signedIn);
    m_signOut->setEnabled(signedIn);
    m_who->setText(mnemonicText(statusText()));
    if (signedIn) {
        const QString who = handle();
        setText(who.isEmpty() ? QStringLiteral("Signed in ▾") : mnemonicText(QStringLiteral("%1 ▾").arg(who)));
        setMenu(m_menu);
        setPopupMode(QToolButton::InstantPopup);
    } else {
        setMenu(nullptr);
        setPopupMode(QToolButton::DelayedPopup);
        setText(QStringLiteral("Sign in…"));
    }
    setToolTip(statusText());
    emit accountChanged();
}
