#pragma once

#include "hostglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace Kelvar {

// The host user's preferences: who is signed in to the host and in which time zone.
class HOST_EXPORT Preferences
{
public:
    static Preferences* instance();

    QString username() const { return m_username; }
    QByteArray localTimeZoneId() const { return m_timeZoneId; }

    void setUsername(const QString& name) { m_username = name; }
    void setLocalTimeZoneId(const QByteArray& id) { m_timeZoneId = id; }

private:
    Preferences();

    QString m_username;
    QByteArray m_timeZoneId;
};

} // namespace Kelvar
