#include "datetime.h"

namespace Common {

DateTime::DateTime(int time, int date)
    : time(time)
    , date(date)
    , null(false)
{
}

DateTime DateTime::fromQDateTime(const QDateTime& dateTime)
{
    if (!dateTime.isValid())
        return DateTime();
    const QDate d = dateTime.date();
    const QTime t = dateTime.time();
    return DateTime(((t.hour() * 100 + t.minute()) * 100 + t.second()) * 1000 + t.msec(),
                    d.year() * 10000 + d.month() * 100 + d.day());
}

QDateTime DateTime::toQDateTime(Qt::TimeSpec timeSpec) const
{
    if (null)
        return QDateTime();
    const QDate d(date / 10000, date / 100 % 100, date % 100);
    const QTime t(time / 10000000, time / 100000 % 100, time / 1000 % 100, time % 1000);
    if (!d.isValid() || !t.isValid())
        return QDateTime();
    return QDateTime(d, t, timeSpec);
}

bool DateTime::operator==(const DateTime& other) const
{
    return time == other.time && date == other.date && null == other.null;
}

} // namespace Common
