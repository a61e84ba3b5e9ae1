#include "apiendpoints.h"

#include "datastore.h"
#include "serverclock.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <map>

namespace Emulator {

namespace {

bool readInt(const std::string& text, int& value)
{
    if (text.empty())
        return false;
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

bool mentions(const std::string& body, const std::string& username)
{
    const std::string tag = "@" + username;
    for (std::size_t pos = 0; pos + tag.size() <= body.size(); ++pos) {
        bool same = true;
        for (std::size_t i = 0; i < tag.size() && same; ++i)
            same = std::tolower(static_cast<unsigned char>(body[pos + i])) ==
                   std::tolower(static_cast<unsigned char>(tag[i]));
        if (!same)
            continue;
        const std::size_t after = pos + tag.size();
        if (after == body.size() ||
            !(std::isalnum(static_cast<unsigned char>(body[after])) || body[after] == '_'))
            return true;
    }
    return false;
}

bool isJpeg(const std::string& bytes)
{
    return bytes.size() > 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF;
}

template<typename Container>
bool contains(const Container& items, int id)
{
    return std::find(items.begin(), items.end(), id) != items.end();
}

} // namespace

ApiEndpoints::ApiEndpoints(DataStore& store, const ServerClock& clock, Limits limits,
                           std::function<std::string()> baseUrl)
    : m_store(store)
    , m_clock(clock)
    , m_limits(limits)
    , m_baseUrl(std::move(baseUrl))
{
}

void ApiEndpoints::addRoutes(Router& router)
{
    const std::string api = "/api/2/";
    router.add("GET", api + "streams/symbol/([^/]+)\\.json", Access::UserOptional,
               [this](const Call& c) { return symbolStream(c); });
    router.add("GET", api + "streams/user/([^/]+)\\.json", Access::UserOptional,
               [this](const Call& c) { return userStream(c); });
    router.add("GET", api + "streams/watchlist/([^/]+)\\.json", Access::UserRequired,
               [this](const Call& c) { return watchListStream(c); });
    router.add("GET", api + "streams/(trending|suggested|charts|investor_relations)\\.json", Access::UserOptional,
               [this](const Call& c) { return fixedStream(c); });
    router.add("GET", api + "streams/(home|friends|mentions)\\.json", Access::UserRequired,
               [this](const Call& c) { return fixedStream(c); });
    router.add("POST", api + "messages/like\\.json", Access::UserRequired,
               [this](const Call& c) { return like(c, true); });
    router.add("POST", api + "messages/unlike\\.json", Access::UserRequired,
               [this](const Call& c) { return like(c, false); });
    router.add("POST", api + "messages/create\\.json", Access::UserRequired,
               [this](const Call& c) { return share(c); });
    router.add("POST", api + "friendships/(create|destroy)/([^/]+)\\.json", Access::UserRequired,
               [this](const Call& c) { return followUser(c); });
    router.add("POST", api + "stockships/(create|destroy)/([^/]+)\\.json", Access::UserRequired,
               [this](const Call& c) { return followSymbol(c); });
    router.add("GET", api + "watchlists\\.json", Access::UserRequired,
               [this](const Call& c) { return watchLists(c); });
    router.add("GET", api + "account/verify\\.json", Access::UserRequired,
               [this](const Call& c) { return userInfo(c); });
}

// A link counts as the service's link length, or as itself when it is shorter.
std::size_t ApiEndpoints::countedLength(const std::string& body) const
{
    const std::string_view text(body);
    const std::size_t linkLength = static_cast<std::size_t>(m_limits.urlSymbols);
    std::size_t length = 0;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t link = std::min(text.find("http://", pos), text.find("https://", pos));
        if (link == std::string_view::npos) {
            length += Forms::codePointCount(text.substr(pos));
            break;
        }
        std::size_t end = link;
        while (end < text.size() && !std::isspace(static_cast<unsigned char>(text[end])))
            ++end;
        length += Forms::codePointCount(text.substr(pos, link - pos));
        length += std::min(Forms::codePointCount(text.substr(link, end - link)), linkLength);
        pos = end;
    }
    return length;
}

nlohmann::json ApiEndpoints::userJson(const User& user) const
{
    return {{"id", user.id},
            {"username", user.username},
            {"name", user.name},
            {"avatar_url", m_baseUrl() + "avatars/" + user.username + ".svg"},
            {"join_date", ServerClock::isoDate(user.joinedAt)}};
}

nlohmann::json ApiEndpoints::symbolJson(const Symbol& symbol) const
{
    return {{"id", symbol.id}, {"symbol", symbol.symbol}, {"title", symbol.title}};
}

nlohmann::json ApiEndpoints::messageJson(const Message& message) const
{
    const std::string base = m_baseUrl();
    nlohmann::json json;
    json["id"] = message.id;
    json["body"] = message.body;
    json["created_at"] = ServerClock::isoDateTime(message.createdAt);
    if (const auto author = m_store.user(message.userId))
        json["user"] = userJson(*author);
    nlohmann::json symbols = nlohmann::json::array();
    for (int id : message.symbolIds) {
        if (const auto symbol = m_store.symbol(id))
            symbols.push_back(symbolJson(*symbol));
    }
    json["symbols"] = symbols;
    json["likes"] = {{"total", message.likes.size()},
                     {"user_ids", std::vector<int>(message.likes.begin(), message.likes.end())}};
    nlohmann::json entities = nlohmann::json::object();
    if (message.chart) {
        entities["chart"] = {{"thumb", base + message.chart->thumb},
                             {"large", base + message.chart->large},
                             {"original", base + message.chart->original}};
    }
    if (message.video) {
        entities["video"] = {{"thumb", base + message.video->thumb},
                             {"duration", message.video->duration},
                             {"video", base + message.video->video},
                             {"url", base + message.video->url}};
    }
    json["entities"] = entities;
    if (message.inReplyTo != -1)
        json["in_reply_to_message_id"] = message.inReplyTo;
    return json;
}

std::optional<Reply> ApiEndpoints::readPaging(const Call& call, Paging& paging) const
{
    static const std::map<std::string, MessageFilter> filters = {{"", MessageFilter::None},
                                                                 {"charts", MessageFilter::Charts},
                                                                 {"videos", MessageFilter::Videos},
                                                                 {"links", MessageFilter::Links}};
    const auto filter = filters.find(call.request.queryValue("filter"));
    if (filter == filters.end())
        return Reply::error(400, "Unknown filter: " + call.request.queryValue("filter"));
    paging.filter = filter->second;
    if (call.request.hasQueryItem("max")) {
        int max = 0;
        if (!readInt(call.request.queryValue("max"), max))
            return Reply::error(400, "Invalid max: " + call.request.queryValue("max"));
        paging.maxId = max;
        paging.empty = max <= 0;
    }
    return std::nullopt;
}

Reply ApiEndpoints::page(const Call& call, const std::function<bool(const Message&)>& predicate,
                         nlohmann::json members) const
{
    Paging paging;
    if (auto refusal = readPaging(call, paging))
        return *refusal;
    // The service reading a stream for itself is not held to the page size.
    const std::size_t limit = call.listing ? call.listing->limit : pageSize;
    std::vector<Message> messages;
    if (!paging.empty)
        messages = m_store.select(predicate, paging.filter, paging.maxId, limit);
    if (call.listing) {
        call.listing->ids.clear();
        for (const Message& message : messages)
            call.listing->ids.push_back(message.id);
        return Reply::json(200);
    }
    nlohmann::json list = nlohmann::json::array();
    for (const Message& message : messages)
        list.push_back(messageJson(message));
    members["messages"] = list;
    return Reply::json(200, members);
}

Reply ApiEndpoints::symbolStream(const Call& call) const
{
    const auto symbol = m_store.symbolByName(call.captures.at(0));
    if (!symbol)
        return Reply::error(404, "Symbol not found: " + call.captures.at(0));
    nlohmann::json subject = symbolJson(*symbol);
    subject["is_following"] = call.user && m_store.isFollowingSymbol(call.user->id, symbol->id);
    const int id = symbol->id;
    return page(call, [id](const Message& m) { return contains(m.symbolIds, id); }, {{"symbol", subject}});
}

Reply ApiEndpoints::userStream(const Call& call) const
{
    const auto user = m_store.userByName(call.captures.at(0));
    if (!user)
        return Reply::error(404, "User not found: " + call.captures.at(0));
    nlohmann::json subject = userJson(*user);
    subject["is_following"] = call.user && m_store.isFollowingUser(call.user->id, user->id);
    const int id = user->id;
    return page(call, [id](const Message& m) { return m.userId == id; }, {{"user", subject}});
}

Reply ApiEndpoints::watchListStream(const Call& call) const
{
    int id = 0;
    std::optional<WatchList> list;
    if (readInt(call.captures.at(0), id))
        list = m_store.watchList(id);
    // Someone else's list is as unknown as a list that does not exist.
    if (!list || list->ownerId != call.user->id)
        return Reply::error(404, "Watch list not found: " + call.captures.at(0));
    const std::vector<int> symbols = list->symbolIds;
    return page(call, [symbols](const Message& m) {
        return std::any_of(m.symbolIds.begin(), m.symbolIds.end(), [&](int s) { return contains(symbols, s); });
    });
}

Reply ApiEndpoints::fixedStream(const Call& call) const
{
    const std::string& name = call.captures.at(0);
    if (name == "charts")
        return page(call, [](const Message& m) { return m.chart.has_value(); });
    if (name == "trending") {
        // The most talked-about symbols of the latest messages.
        std::map<int, int> counts;
        for (const Message& m : m_store.select([](const Message&) { return true; }, MessageFilter::None, -1, 100)) {
            for (int s : m.symbolIds)
                ++counts[s];
        }
        std::vector<std::pair<int, int>> ranked(counts.begin(), counts.end());
        std::stable_sort(ranked.begin(), ranked.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
        std::vector<int> top;
        for (std::size_t i = 0; i < ranked.size() && i < 3; ++i)
            top.push_back(ranked[i].first);
        return page(call, [top](const Message& m) {
            return std::any_of(m.symbolIds.begin(), m.symbolIds.end(), [&](int s) { return contains(top, s); });
        });
    }
    if (name == "suggested" || name == "investor_relations") {
        const bool desks = name == "investor_relations";
        std::set<int> authors;
        const std::set<int> followed = call.user ? m_store.followedUsers(call.user->id) : std::set<int>();
        for (const User& user : m_store.users()) {
            if (desks ? user.investorRelations
                      : user.suggested && !followed.count(user.id) && !(call.user && call.user->id == user.id))
                authors.insert(user.id);
        }
        return page(call, [authors](const Message& m) { return authors.count(m.userId) > 0; });
    }
    const User viewer = *call.user;
    if (name == "mentions") {
        const std::string username = viewer.username;
        return page(call, [username](const Message& m) { return mentions(m.body, username); });
    }
    const std::set<int> users = m_store.followedUsers(viewer.id);
    if (name == "friends")
        return page(call, [users](const Message& m) { return users.count(m.userId) > 0; });
    const std::set<int> symbols = m_store.followedSymbols(viewer.id);
    const int self = viewer.id;
    return page(call, [users, symbols, self](const Message& m) {
        return m.userId == self || users.count(m.userId) ||
               std::any_of(m.symbolIds.begin(), m.symbolIds.end(), [&](int s) { return symbols.count(s) > 0; });
    });
}

Reply ApiEndpoints::like(const Call& call, bool liked)
{
    int id = 0;
    if (!readInt(call.request.queryValue("id"), id))
        return Reply::error(400, "Missing or invalid message id");
    const auto message = m_store.setLiked(id, call.user->id, liked);
    if (!message)
        return Reply::error(404, "Message not found: " + std::to_string(id));
    return Reply::json(200, {{"message", messageJson(*message)}});
}

Reply ApiEndpoints::followUser(const Call& call)
{
    const bool follow = call.captures.at(0) == "create";
    int id = 0;
    std::optional<User> user;
    if (readInt(call.captures.at(1), id))
        user = m_store.user(id);
    if (!user)
        return Reply::error(404, "User not found: " + call.captures.at(1));
    if (user->id == call.user->id)
        return Reply::error(422, "You cannot follow yourself");
    m_store.setFollowingUser(call.user->id, user->id, follow);
    nlohmann::json subject = userJson(*user);
    subject["is_following"] = follow;
    return Reply::json(200, {{"user", subject}});
}

Reply ApiEndpoints::followSymbol(const Call& call)
{
    const bool follow = call.captures.at(0) == "create";
    int id = 0;
    std::optional<Symbol> symbol;
    if (readInt(call.captures.at(1), id))
        symbol = m_store.symbol(id);
    if (!symbol)
        return Reply::error(404, "Symbol not found: " + call.captures.at(1));
    m_store.setFollowingSymbol(call.user->id, symbol->id, follow);
    nlohmann::json subject = symbolJson(*symbol);
    subject["is_following"] = follow;
    return Reply::json(200, {{"symbol", subject}});
}

Reply ApiEndpoints::watchLists(const Call& call) const
{
    nlohmann::json lists = nlohmann::json::array();
    for (const WatchList& list : m_store.watchListsOf(call.user->id))
        lists.push_back({{"id", list.id}, {"name", list.name}});
    return Reply::json(200, {{"watchlists", lists}});
}

Reply ApiEndpoints::userInfo(const Call& call) const
{
    return Reply::json(200, {{"user", userJson(*call.user)}});
}

Reply ApiEndpoints::share(const Call& call)
{
    if (!call.form.ok)
        return Reply::error(400, call.form.error);
    MessageDraft draft;
    draft.userId = call.user->id;
    draft.body = call.form.value("body");
    if (!Forms::isValidUtf8(draft.body))
        return Reply::error(400, "Message body is not valid UTF-8");
    if (const FormPart* reply = call.form.find("in_reply_to_message_id")) {
        if (!readInt(reply->value, draft.inReplyTo))
            return Reply::error(400, "Invalid in_reply_to_message_id: " + reply->value);
        if (!m_store.message(draft.inReplyTo))
            return Reply::error(404, "Message to reply to not found: " + reply->value);
    }
    if (const FormPart* chart = call.form.find("chart")) {
        if (!isJpeg(chart->value))
            return Reply::error(422, "The chart must be a JPEG image");
        if (chart->value.size() >= m_limits.chartBytes)
            return Reply::error(422, "The chart must be under 1 MB; this one has " + std::to_string(chart->value.size()) +
                                         " bytes");
        draft.chartJpeg = chart->value;
    }
    if (draft.body.empty() && draft.chartJpeg.empty())
        return Reply::error(422, "Message body is empty");
    if (countedLength(draft.body) > static_cast<std::size_t>(m_limits.symbolsLimit))
        return Reply::error(422, "Message body is over " + std::to_string(m_limits.symbolsLimit) + " characters");
    const Message message = m_store.post(draft, m_clock.now());
    return Reply::json(200, {{"message", messageJson(message)}});
}

} // namespace Emulator
