#pragma once

#include <QtCore/QElapsedTimer>
#include <QtCore/QPointer>
#include <QtCore/QString>
#include <QtCore/QTimer>

namespace Ventari {
class AuthorizationDialog;
}

// Plays the user at the modal authorization dialog: once the service's form is in it, runs a
// script in its page, or closes the dialog when there is no script.
class DialogPlayer
{
public:
    explicit DialogPlayer(const QString& script);

    int handled = 0;

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    QPointer<Ventari::AuthorizationDialog> m_last;
};
