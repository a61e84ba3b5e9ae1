#include "router.h"

namespace Emulator {

std::string dumpJson(const nlohmann::json& value)
{
    // Bodies may carry whatever bytes a client sent; never let them throw here.
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Reply Reply::json(int status, nlohmann::json members)
{
    members["response"] = {{"status", status}};
    Reply reply;
    reply.status = status;
    reply.body = dumpJson(members);
    return reply;
}

Reply Reply::error(int status, const std::string& text)
{
    nlohmann::json members = nlohmann::json::object();
    members["errors"] = nlohmann::json::array({{{"message", text}}});
    return json(status, members);
}

Reply Reply::html(int status, const std::string& page)
{
    Reply reply;
    reply.status = status;
    reply.body = page;
    reply.contentType = "text/html; charset=utf-8";
    return reply;
}

Reply Reply::content(const std::string& bytes, const std::string& contentType)
{
    Reply reply;
    reply.body = bytes;
    reply.contentType = contentType;
    return reply;
}

Reply Reply::redirect(const std::string& location)
{
    Reply reply;
    reply.status = 302;
    reply.location = location;
    reply.contentType = "text/html; charset=utf-8";
    reply.body = "<!DOCTYPE html><html><body>Redirecting&hellip;</body></html>";
    return reply;
}

void Router::add(const std::string& method, const std::string& pattern, Access access, Handler handler)
{
    m_routes.push_back({method, std::regex(pattern), access, std::move(handler)});
}

Router::Match Router::match(const std::string& method, const std::string& path) const
{
    Match result;
    for (const Route& route : m_routes) {
        std::smatch groups;
        if (!std::regex_match(path, groups, route.pattern))
            continue;
        result.pathKnown = true;
        // HEAD is answered like GET.
        if (route.method != method && !(method == "HEAD" && route.method == "GET"))
            continue;
        result.route = &route;
        for (std::size_t i = 1; i < groups.size(); ++i)
            result.captures.push_back(groups[i].str());
        return result;
    }
    return result;
}

} // namespace Emulator
