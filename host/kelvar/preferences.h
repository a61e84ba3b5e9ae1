#pragma once

#include "hostglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace Kelvar {

// The host user's preferences: who is signed in to the host, in which time zone, with which theme.
class HOST_EXPORT Preferences
{
public:
    enum class Theme { Dark, Light };

    static Preferences* instance();

    QString username() const { return m_username; }
    QByteArray localTimeZoneId() const { return m_timeZoneId; }
    Theme theme() const { return m_theme; }

    void setUsername(const QString& name) { m_username = name; }
    void setLocalTimeZoneId(const QByteArray& id) { m_timeZoneId = id; }
    void setTheme(Theme theme) { m_theme = theme; }

private:
    Preferences();

    QString m_username;
    QByteArray m_timeZoneId;
    Theme m_theme = Theme::Dark;
};

} // namespace Kelvar
