#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>

namespace Emulator {

// Access tokens handed out by the authorization page or by tests, and the user each stands for.
class TokenRegistry
{
public:
    TokenRegistry();

    std::string issue(int userId);
    // Honours a token handed out by an earlier run for the same user, so that a host restarting
    // its embedded service keeps its sign-in. False when the token is empty or stands for another user.
    bool adopt(const std::string& token, int userId);
    // False when the token was not valid.
    bool revoke(const std::string& token);
    void revokeAll();
    std::optional<int> userOf(const std::string& token) const;
    std::size_t count() const;

private:
    mutable std::mutex m_mutex;
    std::mt19937_64 m_random;
    std::map<std::string, int> m_users;
};

} // namespace Emulator
