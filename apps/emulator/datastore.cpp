#include "datastore.h"

#include <algorithm>
#include <cctype>
#include <strings.h>

namespace Emulator {

namespace {

const int firstMessageId = 10001;

bool sameText(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strcasecmp(a.c_str(), b.c_str()) == 0;
}

template <typename Value>
std::vector<Value> valuesOf(const std::map<int, Value>& map)
{
    std::vector<Value> all;
    for (const auto& entry : map)
        all.push_back(entry.second);
    return all;
}

template <typename Value>
std::optional<Value> findById(const std::map<int, Value>& map, int id)
{
    const auto it = map.find(id);
    return it == map.end() ? std::nullopt : std::optional<Value>(it->second);
}

// Names are matched without regard to letter case, as the service does.
template <typename Value>
std::optional<Value> findByText(const std::map<int, Value>& map, std::string Value::*field, const std::string& text)
{
    for (const auto& entry : map) {
        if (sameText(entry.second.*field, text))
            return entry.second;
    }
    return std::nullopt;
}

bool passes(const Message& message, MessageFilter filter)
{
    switch (filter) {
    case MessageFilter::None:
        return true;
    case MessageFilter::Charts:
        return message.chart.has_value();
    case MessageFilter::Videos:
        return message.video.has_value();
    case MessageFilter::Links:
        return DataStore::hasLink(message.body);
    }
    return false;
}

} // namespace

std::vector<User> DataStore::users() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return valuesOf(m_users);
}

std::optional<User> DataStore::user(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findById(m_users, id);
}

std::optional<User> DataStore::userByName(const std::string& username) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findByText(m_users, &User::username, username);
}

std::vector<Symbol> DataStore::symbols() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return valuesOf(m_symbols);
}

std::optional<Symbol> DataStore::symbol(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findById(m_symbols, id);
}

std::optional<Symbol> DataStore::symbolByName(const std::string& symbol) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findByText(m_symbols, &Symbol::symbol, symbol);
}

std::vector<WatchList> DataStore::watchListsOf(int ownerId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<WatchList> lists;
    for (const auto& entry : m_watchLists) {
        if (entry.second.ownerId == ownerId)
            lists.push_back(entry.second);
    }
    return lists;
}

std::optional<WatchList> DataStore::watchList(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_watchLists.find(id);
    if (it == m_watchLists.end())
        return std::nullopt;
    return it->second;
}

std::optional<Message> DataStore::message(int id) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return findById(m_messages, id);
}

std::size_t DataStore::messageCount() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.size();
}

int DataStore::newestMessageId() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_messages.empty() ? -1 : m_messages.rbegin()->first;
}

std::vector<Message> DataStore::select(const std::function<bool(const Message&)>& predicate,
                                       MessageFilter filter, int maxId, std::size_t limit) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Message> page;
    auto it = maxId == -1 ? m_messages.end() : m_messages.lower_bound(maxId);
    while (it != m_messages.begin() && page.size() < limit) {
        --it;
        const Message& message = it->second;
        if (passes(message, filter) && predicate(message))
            page.push_back(message);
    }
    return page;
}

std::vector<int> DataStore::cashtagSymbols(const std::string& body) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return cashtagSymbolsLocked(body);
}

std::vector<int> DataStore::cashtagSymbolsLocked(const std::string& body) const
{
    std::vector<int> ids;
    for (std::size_t pos = body.find('$'); pos != std::string::npos; pos = body.find('$', pos + 1)) {
        std::size_t end = pos + 1;
        while (end < body.size()) {
            const unsigned char c = static_cast<unsigned char>(body[end]);
            if (!std::isalnum(c) && c != '.' && c != '_' && c != '-')
                break;
            ++end;
        }
        std::string tag = body.substr(pos + 1, end - pos - 1);
        // A sentence may end right after the tag.
        while (!tag.empty() && (tag.back() == '.' || tag.back() == '-'))
            tag.pop_back();
        if (tag.empty())
            continue;
        for (const auto& entry : m_symbols) {
            if (sameText(entry.second.symbol, tag)) {
                if (std::find(ids.begin(), ids.end(), entry.first) == ids.end())
                    ids.push_back(entry.first);
                break;
            }
        }
    }
    return ids;
}

bool DataStore::isFollowingUser(int followerId, int userId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_friendships.count({followerId, userId}) > 0;
}

bool DataStore::isFollowingSymbol(int followerId, int symbolId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_stockships.count({followerId, symbolId}) > 0;
}

std::set<int> DataStore::followedUsers(int followerId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<int> ids;
    for (const auto& link : m_friendships) {
        if (link.first == followerId)
            ids.insert(link.second);
    }
    return ids;
}

std::set<int> DataStore::followedSymbols(int followerId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::set<int> ids;
    for (const auto& link : m_stockships) {
        if (link.first == followerId)
            ids.insert(link.second);
    }
    return ids;
}

void DataStore::setFollowingUser(int followerId, int userId, bool following)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (following)
        m_friendships.insert({followerId, userId});
    else
        m_friendships.erase({followerId, userId});
}

void DataStore::setFollowingSymbol(int followerId, int symbolId, bool following)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (following)
        m_stockships.insert({followerId, symbolId});
    else
        m_stockships.erase({followerId, symbolId});
}

std::optional<Message> DataStore::setLiked(int messageId, int userId, bool liked)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_messages.find(messageId);
    if (it == m_messages.end())
        return std::nullopt;
    if (liked)
        it->second.likes.insert(userId);
    else
        it->second.likes.erase(userId);
    return it->second;
}

Message DataStore::post(const MessageDraft& draft, std::int64_t now)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    Message message;
    // Ids of deleted messages are never given again.
    message.id = m_lastMessageId == -1 ? firstMessageId : m_lastMessageId + 1;
    m_lastMessageId = message.id;
    message.createdAt = m_messages.empty() ? now : std::max(now, m_messages.rbegin()->second.createdAt);
    message.userId = draft.userId;
    message.body = draft.body;
    message.symbolIds = draft.symbolIds.empty() ? cashtagSymbolsLocked(draft.body) : draft.symbolIds;
    message.inReplyTo = draft.inReplyTo;
    const std::string folder = "charts/" + std::to_string(message.id) + "/";
    if (!draft.chartJpeg.empty()) {
        message.chart = ChartEntity{folder + "thumb.jpg", folder + "large.jpg", folder + "original.jpg"};
        m_images[message.id] = draft.chartJpeg;
    } else if (draft.chart) {
        message.chart = ChartEntity{folder + "thumb.svg", folder + "large.svg", folder + "original.svg"};
    }
    if (draft.video) {
        VideoEntity video = *draft.video;
        const std::string base = "videos/" + std::to_string(message.id);
        if (video.thumb.empty())
            video.thumb = base + "/thumb.svg";
        if (video.video.empty())
            video.video = base + "/video";
        if (video.url.empty())
            video.url = base;
        message.video = video;
    }
    m_messages.emplace(message.id, message);
    return message;
}

bool DataStore::removeMessage(int messageId)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_images.erase(messageId);
    return m_messages.erase(messageId) > 0;
}

std::string DataStore::postedImage(int messageId) const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    auto it = m_images.find(messageId);
    return it == m_images.end() ? std::string() : it->second;
}

void DataStore::addUser(const User& user)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_users[user.id] = user;
}

void DataStore::addSymbol(const Symbol& symbol)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_symbols[symbol.id] = symbol;
}

void DataStore::addWatchList(const WatchList& list)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_watchLists[list.id] = list;
}

bool DataStore::hasLink(const std::string& body)
{
    return body.find("http://") != std::string::npos || body.find("https://") != std::string::npos;
}

} // namespace Emulator
