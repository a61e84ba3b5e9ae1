#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

namespace Emulator {

// The time the service believes it is: the system clock, or an instant a test has fixed.
class ServerClock
{
public:
    // Seconds since 1970-01-01 00:00 UTC.
    std::int64_t now() const;
    void setFixed(std::int64_t secondsSinceEpoch);
    void advance(std::int64_t seconds); // only while fixed
    void release();
    bool isFixed() const;

    // "Tue, 05 Dec 2023 14:03:00 GMT"
    static std::string httpDate(std::int64_t secondsSinceEpoch);
    // "2023-12-05T14:03:00Z"
    static std::string isoDateTime(std::int64_t secondsSinceEpoch);
    // "2023-12-05"
    static std::string isoDate(std::int64_t secondsSinceEpoch);

private:
    mutable std::mutex m_mutex;
    std::optional<std::int64_t> m_fixed;
};

} // namespace Emulator
