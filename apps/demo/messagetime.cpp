#include "messagetime.h"

#include <kelvar/preferences.h>

#include <QtCore/QLocale>

MessageTime::MessageTime(const QTimeZone& zone)
    : m_zone(zone.isValid() ? zone : QTimeZone::utc())
{
}

MessageTime MessageTime::forHostUser()
{
    return MessageTime(QTimeZone(Kelvar::Preferences::instance()->localTimeZoneId()));
}

QDateTime MessageTime::utc(const QDateTime& serviceTime)
{
    return QDateTime(serviceTime.date(), serviceTime.time(), Qt::UTC);
}

QString MessageTime::relative(const QDateTime& serviceTime, const QDateTime& now) const
{
    if (!serviceTime.isValid())
        return QString();
    const QDateTime written = utc(serviceTime);
    const qint64 seconds = qMax<qint64>(0, written.secsTo(now));
    if (seconds < 60)
        return QStringLiteral("now");
    if (seconds < 3600)
        return QStringLiteral("%1 min").arg(seconds / 60);
    if (seconds < 24 * 3600)
        return QStringLiteral("%1 h").arg(seconds / 3600);
    const QDateTime local = written.toTimeZone(m_zone);
    const QDateTime localNow = now.toTimeZone(m_zone);
    const QLocale c = QLocale::c();
    if (local.date().daysTo(localNow.date()) < 7)
        return c.toString(local, QStringLiteral("ddd HH:mm"));
    if (local.date().year() == localNow.date().year())
        return c.toString(local, QStringLiteral("d MMM"));
    return c.toString(local, QStringLiteral("d MMM yyyy"));
}

QString MessageTime::exact(const QDateTime& serviceTime) const
{
    if (!serviceTime.isValid())
        return QString();
    const QDateTime local = utc(serviceTime).toTimeZone(m_zone);
    return QLocale::c().toString(local, QStringLiteral("ddd d MMM yyyy, HH:mm:ss")) + QLatin1Char(' ')
        + m_zone.abbreviation(local);
}

QString MessageTime::clock(const QDateTime& moment) const
{
    if (!moment.isValid())
        return QString();
    return QLocale().toString(moment.toTimeZone(m_zone).time(), QLocale::ShortFormat);
}
