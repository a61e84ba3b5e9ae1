#pragma once

#include "hostglobal.h"

#include <QtCore/QDateTime>

namespace Common {

// The host's date-time value: time of day as ((hour * 100 + minute) * 100 + second) * 1000 + millisecond,
// date as year * 10000 + month * 100 + day, and a null flag; a null value carries zeros.
struct HOST_EXPORT DateTime
{
    int time = 0;
    int date = 0;
    bool null = true;

    DateTime() = default;
    DateTime(int time, int date);

    // The wall-clock fields of the given date-time, whatever its zone; an invalid one gives null.
    static DateTime fromQDateTime(const QDateTime& dateTime);
    // The fields read in the given time zone kind; null or out-of-range fields give an invalid QDateTime.
    QDateTime toQDateTime(Qt::TimeSpec timeSpec = Qt::UTC) const;

    bool isNull() const { return null; }
    bool operator==(const DateTime& other) const;
    bool operator!=(const DateTime& other) const { return !(*this == other); }
};

} // namespace Common
