#include "timezone.h"

namespace Dravon {
namespace {

QTimeZone zoneFor(const QByteArray& id)
{
    if (id.isEmpty())
        return QTimeZone();
    const QTimeZone zone(id);
    if (zone.isValid())
        return zone;
    // An empty id would give the system's own zone, so only a mapped Windows id is tried.
    const QByteArray ianaId = QTimeZone::windowsIdToDefaultIanaId(id);
    return ianaId.isEmpty() ? QTimeZone() : QTimeZone(ianaId);
}

} // namespace

Timezone::Timezone(const QByteArray& id)
    : m_id(id)
    , m_zone(zoneFor(id))
    , m_known(m_zone.isValid())
{
    if (!m_known)
        m_zone = QTimeZone::utc();
}

Timezone::Timezone(const QString& id)
    : Timezone(id.toUtf8())
{
}

Timezone::Timezone(const char* id)
    : Timezone(QByteArray(id))
{
}

Common::DateTime Timezone::gmtToLocal(const Common::DateTime& gmt) const
{
    const QDateTime utc = gmt.toQDateTime(Qt::UTC);
    if (!utc.isValid())
        return Common::DateTime();
    return Common::DateTime::fromQDateTime(utc.toTimeZone(m_zone));
}

} // namespace Dravon
