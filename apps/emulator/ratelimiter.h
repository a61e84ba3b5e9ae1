#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace Emulator {

class ServerClock;

// What the limiter decided about one request.
struct RateLimitDecision
{
    bool allowed = true;
    int remaining = 0;        // requests left after this one
    std::int64_t resetAt = 0; // seconds since the epoch
};

// Counts requests per client in one window shared by all clients, like the service's hourly limit.
class RateLimiter
{
public:
    RateLimiter(const ServerClock& clock, int limit, int windowSeconds);

    // Client keys: one per access token, or one per address for anonymous callers.
    static std::string tokenClient(const std::string& token);
    static std::string addressClient(const std::string& address);

    // Counts one request of the client; refuses it when nothing is left.
    RateLimitDecision consume(const std::string& client);
    // The client's state without counting.
    RateLimitDecision peek(const std::string& client);

    void setLimit(int limit, int windowSeconds);
    int limit() const;
    int windowSeconds() const;

    // "n requests are left" for the rest of this window: one client, every anonymous client,
    // or every client (clients first seen later in the window start with n too).
    void setRemaining(const std::string& client, int remaining);
    void setRemainingForAnonymous(int remaining);
    void setRemainingForAll(int remaining);

    // Pins the reset time reported; the window then stops renewing itself until unpinned.
    void setResetTime(std::int64_t secondsSinceEpoch);
    void unpinResetTime();

    // A fresh window with every count back to the limit.
    void reset();

private:
    void renewIfDue();
    int& bucket(const std::string& client);

    const ServerClock& m_clock;
    mutable std::mutex m_mutex;
    int m_limit;
    int m_window;
    std::int64_t m_resetAt = 0;
    bool m_pinned = false;
    std::map<std::string, int> m_remaining;
    std::optional<int> m_anonymousStart;
    std::optional<int> m_allStart;
};

} // namespace Emulator
