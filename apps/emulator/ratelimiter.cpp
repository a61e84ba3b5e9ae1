#include "ratelimiter.h"

#include "serverclock.h"

#include <algorithm>

namespace Emulator {

namespace {
const char tokenPrefix[] = "token:";
const char addressPrefix[] = "address:";

bool isAnonymous(const std::string& client)
{
    return client.rfind(addressPrefix, 0) == 0;
}
} // namespace

RateLimiter::RateLimiter(const ServerClock& clock, int limit, int windowSeconds)
    : m_clock(clock)
    , m_limit(std::max(0, limit))
    , m_window(std::max(1, windowSeconds))
{
}

std::string RateLimiter::tokenClient(const std::string& token)
{
    return tokenPrefix + token;
}

std::string RateLimiter::addressClient(const std::string& address)
{
    return addressPrefix + address;
}

RateLimitDecision RateLimiter::consume(const std::string& client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    int& left = bucket(client);
    if (left <= 0)
        return {false, 0, m_resetAt};
    --left;
    return {true, left, m_resetAt};
}

RateLimitDecision RateLimiter::peek(const std::string& client)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    const int left = bucket(client);
    return {left > 0, std::max(0, left), m_resetAt};
}

void RateLimiter::setLimit(int limit, int windowSeconds)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_limit = std::max(0, limit);
    m_window = std::max(1, windowSeconds);
    m_remaining.clear();
    m_anonymousStart.reset();
    m_allStart.reset();
    if (!m_pinned)
        m_resetAt = 0;
}

int RateLimiter::limit() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_limit;
}

int RateLimiter::windowSeconds() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_window;
}

void RateLimiter::setRemaining(const std::string& client, int remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    bucket(client) = std::max(0, remaining);
}

void RateLimiter::setRemainingForAnonymous(int remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    m_anonymousStart = std::max(0, remaining);
    for (auto& entry : m_remaining) {
        if (isAnonymous(entry.first))
            entry.second = *m_anonymousStart;
    }
}

void RateLimiter::setRemainingForAll(int remaining)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    m_allStart = std::max(0, remaining);
    m_anonymousStart.reset();
    for (auto& entry : m_remaining)
        entry.second = *m_allStart;
}

void RateLimiter::setResetTime(std::int64_t secondsSinceEpoch)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    renewIfDue();
    m_resetAt = secondsSinceEpoch;
    m_pinned = true;
}

void RateLimiter::unpinResetTime()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = false;
}

void RateLimiter::reset()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pinned = false;
    m_resetAt = 0;
    m_remaining.clear();
    m_anonymousStart.reset();
    m_allStart.reset();
}

void RateLimiter::renewIfDue()
{
    if (m_pinned)
        return;
    const std::int64_t now = m_clock.now();
    if (m_resetAt != 0 && now < m_resetAt)
        return;
    m_resetAt = now + m_window;
    m_remaining.clear();
    m_anonymousStart.reset();
    m_allStart.reset();
}

int& RateLimiter::bucket(const std::string& client)
{
    auto it = m_remaining.find(client);
    if (it != m_remaining.end())
        return it->second;
    int start = m_limit;
    if (m_allStart)
        start = *m_allStart;
    if (m_anonymousStart && isAnonymous(client))
        start = *m_anonymousStart;
    return m_remaining.emplace(client, start).first->second;
}

} // namespace Emulator
