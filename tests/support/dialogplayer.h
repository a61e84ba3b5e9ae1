#pragma once

#include <QtCore/QElapsedTimer>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QTimer>

#include <QtCore/QVariant>

namespace Ventari {
class AuthorizationDialog;
class SignInView;
}

// What a script gives in a sign-in page, whether the engine answers at once or later; invalid
// when the page did not answer within the time a page may take.
QVariant evaluateInPage(Ventari::SignInView* view, const QString& script);

// Plays the user at the modal authorization dialog: once the service's form is in it, runs a
// script in its page, or closes the dialog when there is no script. The page answers scripts
// later under some engines, so every answer checks that the player is still there.
class DialogPlayer
{
public:
    explicit DialogPlayer(const QString& script);

    int handled = 0;

private:
    void onTick(const QString& script);

    QTimer m_timer;
    QElapsedTimer m_clock;
    QPointer<Ventari::AuthorizationDialog> m_last;
    QPointer<Ventari::AuthorizationDialog> m_asked; // a question to its page is on its way
    QObject m_alive;
};
