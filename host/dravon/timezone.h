#pragma once

#include "datetime.h"

#include <QtCore/QByteArray>
#include <QtCore/QString>
#include <QtCore/QTimeZone>

namespace Dravon {

// Turns UTC date-times into wall-clock time of one time zone.
class HOST_EXPORT Timezone
{
public:
    // An IANA id ("Europe/Berlin") or a Windows id ("W. Europe Standard Time"), as the host's
    // preferences give it. An id the system does not know falls back to UTC: a wrong clock is
    // better than none for the texts that show it.
    explicit Timezone(const QByteArray& id);
    explicit Timezone(const QString& id);
    explicit Timezone(const char* id);

    QByteArray id() const { return m_id; }
    // Whether the id was known; false when UTC stands in for it.
    bool isKnown() const { return m_known; }

    // The same moment as wall-clock time in this zone; a null or invalid value gives null.
    Common::DateTime gmtToLocal(const Common::DateTime& gmt) const;

private:
    QByteArray m_id;
    QTimeZone m_zone;
    bool m_known = false;
};

} // namespace Dravon
