#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace Emulator {

struct User
{
    int id = -1;
    std::string username;
    std::string name;
    std::int64_t joinedAt = 0; // seconds since the epoch
    bool suggested = false;    // shown in the Suggested stream
    bool investorRelations = false;
};

struct Symbol
{
    int id = -1;
    std::string symbol; // in the service's notation: AAPL, RY.CA, EURUSD, ES_F
    std::string title;
};

struct WatchList
{
    int id = -1;
    int ownerId = -1;
    std::string name;
    std::vector<int> symbolIds;
};

// Addresses are relative to the service's base address.
struct ChartEntity
{
    std::string thumb, large, original;
};

struct VideoEntity
{
    std::string thumb, duration, video, url;
};

struct Message
{
    int id = -1;
    std::string body;
    std::int64_t createdAt = 0;
    int userId = -1;
    std::vector<int> symbolIds;
    std::set<int> likes; // ids of the users who liked it
    std::optional<ChartEntity> chart;
    std::optional<VideoEntity> video;
    int inReplyTo = -1;
};

enum class MessageFilter { None, Charts, Videos, Links };

// A message as posted by a user or the generator, before the store gives it an id and a time.
struct MessageDraft
{
    int userId = -1;
    std::string body;
    std::vector<int> symbolIds; // empty: taken from the cashtags in the body
    bool chart = false;         // seeded charts are drawn by the service
    std::string chartJpeg;      // a posted image
    std::optional<VideoEntity> video;
    int inReplyTo = -1;
};

// The service's data: users, symbols, watch lists, messages, likes and follows.
class DataStore
{
public:
    std::vector<User> users() const;
    std::optional<User> user(int id) const;
    std::optional<User> userByName(const std::string& username) const; // case-insensitive
    std::vector<Symbol> symbols() const;
    std::optional<Symbol> symbol(int id) const;
    std::optional<Symbol> symbolByName(const std::string& symbol) const; // case-insensitive
    std::vector<WatchList> watchListsOf(int ownerId) const;
    std::optional<WatchList> watchList(int id) const;

    std::optional<Message> message(int id) const;
    std::size_t messageCount() const;
    int newestMessageId() const; // -1 when there is none
    // Newest first: those that pass the predicate and the filter, with an id below maxId when it is
    // not -1, at most limit of them. The predicate runs under the store's lock: it must not call back.
    std::vector<Message> select(const std::function<bool(const Message&)>& predicate, MessageFilter filter,
                                int maxId, std::size_t limit) const;
    // Symbol ids named by "$SYMBOL" cashtags, in order of appearance.
    std::vector<int> cashtagSymbols(const std::string& body) const;

    bool isFollowingUser(int followerId, int userId) const;
    bool isFollowingSymbol(int followerId, int symbolId) const;
    std::set<int> followedUsers(int followerId) const;
    std::set<int> followedSymbols(int followerId) const;
    void setFollowingUser(int followerId, int userId, bool following);
    void setFollowingSymbol(int followerId, int symbolId, bool following);

    // The message after the change; none when it does not exist.
    std::optional<Message> setLiked(int messageId, int userId, bool liked);
    // Gives the draft the next id and a time not before the newest message's.
    Message post(const MessageDraft& draft, std::int64_t now);
    // Deletes a message and its posted image; false when it does not exist.
    bool removeMessage(int messageId);
    // The JPEG posted with a message; empty when none was.
    std::string postedImage(int messageId) const;

    void addUser(const User& user);
    void addSymbol(const Symbol& symbol);
    void addWatchList(const WatchList& list);

    static bool hasLink(const std::string& body);

private:
    std::vector<int> cashtagSymbolsLocked(const std::string& body) const;

    mutable std::mutex m_mutex;
    std::map<int, User> m_users;
    std::map<int, Symbol> m_symbols;
    std::map<int, WatchList> m_watchLists;
    std::map<int, Message> m_messages; // ordered by id, so by time
    int m_lastMessageId = -1;          // the last id given, deleted or not
    std::map<int, std::string> m_images;
    std::set<std::pair<int, int>> m_friendships;  // follower, user
    std::set<std::pair<int, int>> m_stockships;   // follower, symbol
};

} // namespace Emulator
