#pragma once

#include "router.h"

#include <string>

namespace Emulator {

class DataStore;
class TokenRegistry;

// The authorization web page: pick an account, approve or deny, and be redirected with the outcome.
class AuthPage
{
public:
    AuthPage(DataStore& store, TokenRegistry& tokens, std::string clientId);

    void addRoutes(Router& router);

    static std::string escapeHtml(const std::string& text);

private:
    struct Grant
    {
        std::string clientId;
        std::string responseType;
        std::string redirectUri;
    };
    std::optional<Reply> refusal(const Grant& grant) const;
    Reply form(const Call& call) const;
    Reply decide(const Call& call);
    Reply done(const Call& call) const;
    static Reply errorPage(int status, const std::string& text);

    DataStore& m_store;
    TokenRegistry& m_tokens;
    std::string m_clientId;
};

} // namespace Emulator
