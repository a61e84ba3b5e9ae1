#include "serverclock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace Emulator {

namespace {

std::tm utc(std::int64_t seconds)
{
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm parts{};
    gmtime_r(&t, &parts);
    return parts;
}

} // namespace

std::int64_t ServerClock::now() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fixed)
        return *m_fixed;
    return std::chrono::duration_cast<std::chrono::seconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void ServerClock::setFixed(std::int64_t secondsSinceEpoch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fixed = secondsSinceEpoch;
}

void ServerClock::advance(std::int64_t seconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_fixed)
        *m_fixed += seconds;
}

void ServerClock::release()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fixed.reset();
}

bool ServerClock::isFixed() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_fixed.has_value();
}

std::string ServerClock::httpDate(std::int64_t secondsSinceEpoch)
{
    // English names whatever the process locale is.
    static const char* const days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const std::tm t = utc(secondsSinceEpoch);
    char text[128];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT", days[t.tm_wday], t.tm_mday,
                  months[t.tm_mon], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string ServerClock::isoDateTime(std::int64_t secondsSinceEpoch)
{
    const std::tm t = utc(secondsSinceEpoch);
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", t.tm_year + 1900, t.tm_mon + 1,
                  t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
    return text;
}

std::string ServerClock::isoDate(std::int64_t secondsSinceEpoch)
{
    const std::tm t = utc(secondsSinceEpoch);
    char text[128];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
    return text;
}

} // namespace Emulator
