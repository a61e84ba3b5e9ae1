#pragma once

#include "router.h"

#include <functional>
#include <string>

namespace Emulator {

class DataStore;
class ServerClock;

// The JSON web API: streams, likes, follows, watch lists, the user's record and posting.
class ApiEndpoints
{
public:
    struct Limits
    {
        int symbolsLimit = 140; // characters in a message
        int urlSymbols = 20;    // what one link counts for
        std::size_t chartBytes = 1048576; // a posted chart must be smaller
    };

    ApiEndpoints(DataStore& store, const ServerClock& clock, Limits limits, std::function<std::string()> baseUrl);

    void addRoutes(Router& router);

    // Length of a message body as the limit sees it: characters, each link counted as urlSymbols.
    std::size_t countedLength(const std::string& body) const;

    static constexpr std::size_t pageSize = 30;

    nlohmann::json userJson(const User& user) const;
    nlohmann::json symbolJson(const Symbol& symbol) const;
    nlohmann::json messageJson(const Message& message) const;

private:
    struct Paging
    {
        MessageFilter filter = MessageFilter::None;
        int maxId = -1;
        bool empty = false; // a bound at or below zero leaves nothing
    };
    std::optional<Reply> readPaging(const Call& call, Paging& paging) const;
    Reply page(const Call& call, const std::function<bool(const Message&)>& predicate,
               nlohmann::json members = nlohmann::json::object()) const;

    Reply symbolStream(const Call& call) const;
    Reply userStream(const Call& call) const;
    Reply watchListStream(const Call& call) const;
    Reply fixedStream(const Call& call) const;
    Reply like(const Call& call, bool liked);
    Reply followUser(const Call& call);
    Reply followSymbol(const Call& call);
    Reply watchLists(const Call& call) const;
    Reply userInfo(const Call& call) const;
    Reply share(const Call& call);

    DataStore& m_store;
    const ServerClock& m_clock;
    Limits m_limits;
    std::function<std::string()> m_baseUrl;
};

} // namespace Emulator
