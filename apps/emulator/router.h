#pragma once

#include "datastore.h"
#include "formdata.h"
#include "requestlog.h"

#include <nlohmann/json.hpp>

#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <vector>

namespace Emulator {

// Set when the service reads a stream for itself: the stream then lists the ids of its messages
// here, up to limit of them, instead of answering a page.
struct StreamListing
{
    std::size_t limit = 0;
    std::vector<int> ids; // newest first
};

// What a handler sees of a request.
struct Call
{
    const RecordedRequest& request;
    const FormData& form;
    std::vector<std::string> captures; // the groups of the route's pattern
    std::optional<User> user;          // the user of a valid access token
    StreamListing* listing = nullptr;
};

// What a handler answers; the service adds the common headers.
struct Reply
{
    int status = 200;
    std::string body;
    std::string contentType = "application/json; charset=utf-8";
    std::string location;

    // {"response":{"status":N}} with the given members beside it.
    static Reply json(int status, nlohmann::json members = nlohmann::json::object());
    // The envelope with "errors":[{"message":text}].
    static Reply error(int status, const std::string& text);
    static Reply html(int status, const std::string& page);
    static Reply content(const std::string& bytes, const std::string& contentType);
    static Reply redirect(const std::string& location);
};

enum class Access {
    Open,         // the token is not looked at
    UserOptional, // works without a token; a token that is given must be valid
    UserRequired
};

// Maps method and path to a handler; tells an unknown path from a known path with another method.
class Router
{
public:
    using Handler = std::function<Reply(const Call&)>;

    struct Route
    {
        std::string method;
        std::regex pattern;
        Access access;
        Handler handler;
    };

    struct Match
    {
        const Route* route = nullptr;
        std::vector<std::string> captures;
        bool pathKnown = false; // some route has this path, perhaps for another method
    };

    void add(const std::string& method, const std::string& pattern, Access access, Handler handler);
    Match match(const std::string& method, const std::string& path) const;

private:
    std::vector<Route> m_routes;
};

std::string dumpJson(const nlohmann::json& value);

} // namespace Emulator
