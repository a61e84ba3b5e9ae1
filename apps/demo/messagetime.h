#pragma once

#include <QtCore/QDateTime>
#include <QtCore/QString>
#include <QtCore/QTimeZone>

// How long ago a message was written, and when exactly, in the user's time zone. The service's
// times are UTC; the records carry their digits without a zone, so they are read as UTC here.
class MessageTime
{
public:
    explicit MessageTime(const QTimeZone& zone);
    // The host preferences' zone; UTC when it is unknown.
    static MessageTime forHostUser();

    static QDateTime utc(const QDateTime& serviceTime);
    // "now", "4 min", "3 h", then the day ("Mon 14:05" within the week, "12 Mar" within the year,
    // "12 Mar 2023" before).
    QString relative(const QDateTime& serviceTime, const QDateTime& now) const;
    // The full time in the user's zone, with the zone's abbreviation.
    QString exact(const QDateTime& serviceTime) const;
    // A UTC moment as wall-clock time in the user's zone, in his locale's short format: as the
    // status bar and the out-of-requests notification say it.
    QString clock(const QDateTime& moment) const;

private:
    QTimeZone m_zone;
};
