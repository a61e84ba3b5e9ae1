#include "tokenregistry.h"

#include <array>
#include <cstdio>

namespace Emulator {

namespace {

// One 32-bit seed would leave only 2^32 token sequences to guess from.
std::mt19937_64 seededGenerator()
{
    std::random_device device;
    std::array<std::random_device::result_type, 8> words;
    for (auto& word : words)
        word = device();
    std::seed_seq seed(words.begin(), words.end());
    return std::mt19937_64(seed);
}

} // namespace

TokenRegistry::TokenRegistry()
    : m_random(seededGenerator())
{
}

std::string TokenRegistry::issue(int userId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::string token;
    do {
        char text[40];
        std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(m_random()),
                      static_cast<unsigned long long>(m_random()));
        token = text;
    } while (m_users.count(token));
    m_users.emplace(token, userId);
    return token;
}

bool TokenRegistry::adopt(const std::string& token, int userId)
{
    if (token.empty())
        return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_users.emplace(token, userId).first->second == userId;
}

bool TokenRegistry::revoke(const std::string& token)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_users.erase(token) > 0;
}

void TokenRegistry::revokeAll()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users.clear();
}

std::optional<int> TokenRegistry::userOf(const std::string& token) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_users.find(token);
    if (it == m_users.end())
        return std::nullopt;
    return it->second;
}

std::size_t TokenRegistry::count() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_users.size();
}

} // namespace Emulator
