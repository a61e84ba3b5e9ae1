#include "preferences.h"

#include <QtCore/QTimeZone>

namespace Kelvar {

Preferences* Preferences::instance()
{
    static Preferences preferences;
    return &preferences;
}

// The host signs its user in before plugins load; until then the operating system's names serve.
Preferences::Preferences()
    : m_username(qEnvironmentVariable("USER", QStringLiteral("trader")))
    , m_timeZoneId(QTimeZone::systemTimeZoneId())
{
}

} // namespace Kelvar
