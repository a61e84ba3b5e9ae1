#include "seeddata.h"

#include <algorithm>
#include <cmath>
#include <ctime>

namespace Emulator {

namespace {

struct Template
{
    const char* text;
    bool investorRelations;
};

// {S} and {T}: cashtags of two symbols, {U}: another user, {N}: a number, {L}: a link.
const Template templates[] = {
    {"${S} holding above the 50-day average, adding on dips.", false},
    {"${S} breaking out on volume. Target {N}.", false},
    {"Watching ${S} into earnings, options price a {N}% move.", false},
    {"@{U} what do you think about ${S} here?", false},
    {"Short ${S}, stop above yesterday's high.", false},
    {"${S} and ${T} moving together today.", false},
    {"Kurz vor Börsenschluss: ${S} fällt, ${T} hält sich.", false},
    {"${S} 株価が上昇中 🚀", false},
    {"Nice call @{U} on ${S}!", false},
    {"New post on ${S}: {L}", false},
    {"${S} weekly chart looks like a cup and handle.", false},
    {"${S} gap filled. Next stop {N}?", false},
    {"Read this before buying ${S}: {L}", false},
    {"Ça monte ! ${S} +{N}% depuis lundi.", false},
    {"${S} consolidating, patience. cc @{U}", false},
    {"${S} investor day scheduled, webcast at {L}", true},
    {"${S} quarterly results released: {L}", true},
    {"${S} declares a quarterly dividend.", true},
};
const int templateCount = sizeof templates / sizeof templates[0];

std::int64_t dayOf(int year, int month, int day)
{
    std::tm t{};
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    return static_cast<std::int64_t>(timegm(&t));
}

void replaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

} // namespace

MessageGenerator::MessageGenerator(unsigned seed, Order order)
    : m_random(seed)
    , m_seed(seed)
    , m_order(order)
{
}

int MessageGenerator::SkewedChoice::draw(const std::vector<int>& ids, unsigned seed, std::mt19937& random)
{
    if (ids.empty())
        return -1;
    if (ids != m_ids) {
        m_ids = ids;
        m_ranked = ids;
        // A seeded key per id, so that the ranking neither follows the ids nor moves when one is added.
        auto key = [seed](int id) {
            std::uint64_t x = (std::uint64_t(seed) << 32) ^ std::uint32_t(id);
            x += 0x9e3779b97f4a7c15ull;
            x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
            x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
            return x ^ (x >> 31);
        };
        std::sort(m_ranked.begin(), m_ranked.end(), [&key](int a, int b) { return key(a) < key(b); });
        std::vector<double> weights;
        for (std::size_t rank = 1; rank <= m_ranked.size(); ++rank)
            weights.push_back(1.0 / std::pow(double(rank), 1.1));
        m_law = std::discrete_distribution<std::size_t>(weights.begin(), weights.end());
    }
    return m_ranked[m_law(random)];
}

int MessageGenerator::pick(int count)
{
    return count <= 1 ? 0 : std::uniform_int_distribution<int>(0, count - 1)(m_random);
}

int MessageGenerator::choose(int count, int turn)
{
    return m_order == Order::InTurn ? turn % std::max(1, count) : pick(count);
}

MessageDraft MessageGenerator::next(const DataStore& store)
{
    MessageDraft draft;
    const std::vector<User> users = store.users();
    const std::vector<Symbol> symbols = store.symbols();
    if (users.empty() || symbols.empty())
        return draft;
    if (m_order == Order::Skewed)
        return nextSkewed(users, symbols);

    const bool inTurn = m_order == Order::InTurn;
    const int turn = m_turn++;
    User author;
    if (inTurn) {
        author = users[std::size_t(turn) % users.size()];
    } else {
        std::vector<User> people;
        std::vector<User> desks;
        for (const User& user : users)
            (user.investorRelations ? desks : people).push_back(user);
        const bool fromDesk = !desks.empty() && (people.empty() || pick(10) == 0);
        author = fromDesk ? desks[pick(int(desks.size()))] : people[pick(int(people.size()))];
    }

    std::vector<int> choices;
    for (int i = 0; i < templateCount; ++i) {
        if (templates[i].investorRelations == author.investorRelations)
            choices.push_back(i);
    }
    std::string text = templates[choices[choose(int(choices.size()), turn)]].text;

    // In turn, the symbol moves on by one per message and by one more per round of authors, so
    // that no author stays with the same few symbols.
    const int count = int(symbols.size());
    const int userCount = int(users.size());
    const int firstIndex = choose(count, turn + turn / userCount);
    const Symbol first = symbols[firstIndex];
    const Symbol second = symbols[(firstIndex + 1 + pick(count - 1)) % count];
    draft.symbolIds.push_back(first.id);
    if (text.find("{T}") != std::string::npos && second.id != first.id)
        draft.symbolIds.push_back(second.id);

    std::string other = author.username;
    // At random the draw is made whatever the template, so that seeded data stays as it was.
    if (users.size() > 1 && (!inTurn || text.find("{U}") != std::string::npos)) {
        while (other == author.username)
            other = users[choose(userCount, m_mentionTurn++)].username;
    }
    return finish(draft, text, author, first, second, other, inTurn, turn);
}

MessageDraft MessageGenerator::nextSkewed(const std::vector<User>& users, const std::vector<Symbol>& symbols)
{
    const int turn = m_turn++;
    std::vector<int> people;
    std::vector<int> desks;
    std::vector<int> everyone;
    for (const User& user : users) {
        (user.investorRelations ? desks : people).push_back(user.id);
        everyone.push_back(user.id);
    }
    auto userOf = [&users](int id) {
        return *std::find_if(users.begin(), users.end(), [id](const User& user) { return user.id == id; });
    };
    const bool fromDesk = !desks.empty() && (people.empty() || pick(10) == 0);
    const User author = userOf(fromDesk ? desks[pick(int(desks.size()))] : m_authors.draw(people, m_seed, m_random));

    std::vector<int> choices;
    for (int i = 0; i < templateCount; ++i) {
        if (templates[i].investorRelations == author.investorRelations)
            choices.push_back(i);
    }
    const std::string text = templates[choices[pick(int(choices.size()))]].text;

    std::vector<int> symbolIds;
    for (const Symbol& symbol : symbols)
        symbolIds.push_back(symbol.id);
    auto symbolOf = [&symbols](int id) {
        return *std::find_if(symbols.begin(), symbols.end(), [id](const Symbol& symbol) { return symbol.id == id; });
    };
    // The second symbol follows the same law; should a few draws all repeat the first, its neighbour will do.
    const int firstId = m_symbols.draw(symbolIds, m_seed, m_random);
    int secondId = firstId;
    for (int attempt = 0; attempt < 16 && secondId == firstId && symbols.size() > 1; ++attempt)
        secondId = m_symbols.draw(symbolIds, m_seed, m_random);
    if (secondId == firstId && symbols.size() > 1)
        secondId = symbolIds[(std::find(symbolIds.begin(), symbolIds.end(), firstId) - symbolIds.begin() + 1) %
                             symbolIds.size()];
    const Symbol first = symbolOf(firstId);
    const Symbol second = symbolOf(secondId);

    MessageDraft draft;
    draft.symbolIds.push_back(first.id);
    if (text.find("{T}") != std::string::npos && second.id != first.id)
        draft.symbolIds.push_back(second.id);

    std::string other = author.username;
    if (users.size() > 1 && text.find("{U}") != std::string::npos) {
        for (int attempt = 0; attempt < 16 && other == author.username; ++attempt)
            other = userOf(m_mentioned.draw(everyone, m_seed, m_random)).username;
        for (std::size_t i = 0; other == author.username; ++i)
            other = users[i].username;
    }
    return finish(draft, text, author, first, second, other, false, turn);
}

MessageDraft MessageGenerator::finish(MessageDraft draft, std::string text, const User& author, const Symbol& first,
                                      const Symbol& second, const std::string& other, bool inTurn, int turn)
{
    std::string link;
    if (pick(2) == 0)
        link = "https://research.example.com/notes/" + std::to_string(1000 + pick(9000));
    else
        link = "http://blog.example.org/" + first.symbol + "-outlook";

    replaceAll(text, "{S}", first.symbol);
    replaceAll(text, "{T}", second.symbol);
    replaceAll(text, "{U}", other);
    replaceAll(text, "{N}", std::to_string(2 + pick(240)));
    replaceAll(text, "{L}", link);

    draft.userId = author.id;
    draft.body = text;
    const int media = inTurn ? (turn % 5 == 0 ? 0 : turn % 8 == 3 ? 20 : 99) : pick(100);
    if (media < 20) {
        draft.chart = true;
    } else if (media < 28) {
        VideoEntity video;
        video.duration = std::to_string(pick(9)) + ":" + std::to_string(10 + pick(50));
        draft.video = video;
    }
    return draft;
}

namespace SeedData {

void populate(DataStore& store, std::int64_t newestTime, unsigned seed, int messageCount)
{
    auto addUser = [&](int id, const char* username, const char* name, std::int64_t joined, bool suggested,
                       bool investorRelations) {
        User user;
        user.id = id;
        user.username = username;
        user.name = name;
        user.joinedAt = joined;
        user.suggested = suggested;
        user.investorRelations = investorRelations;
        store.addUser(user);
    };
    addUser(1, "alice", "Alice Archer", dayOf(2011, 3, 14), false, false);
    addUser(2, "bob", "Bob Brennan", dayOf(2012, 7, 2), false, false);
    addUser(3, "carol", "Carol Chen", dayOf(2013, 1, 21), true, false);
    addUser(4, "dave", "Dave Dubois", dayOf(2015, 9, 30), true, false);
    addUser(5, "zoe", "Zoë Ødegaard", dayOf(2016, 5, 5), false, false);
    addUser(6, "ventari_ir", "Ventari Investor Relations", dayOf(2010, 1, 4), true, true);

    const struct
    {
        int id;
        const char* symbol;
        const char* title;
    } symbols[] = {
        {686, "AAPL", "Apple Inc."},
        {2735, "MSFT", "Microsoft Corp."},
        {4227, "GOOG", "Alphabet Inc."},
        {8345, "BRK.B", "Berkshire Hathaway Inc. Class B"},
        {8660, "TSLA", "Tesla Inc."},
        {7413, "XOM", "Exxon Mobil Corp."},
        {11401, "RY.CA", "Royal Bank of Canada"},
        {11418, "TD.CA", "Toronto-Dominion Bank"},
        {5961, "EURUSD", "Euro / US Dollar"},
        {5970, "GBPJPY", "British Pound / Japanese Yen"},
        {7774, "ES_F", "E-mini S&P 500 Futures"},
        {7791, "CL_F", "Crude Oil Futures"},
    };
    for (const auto& s : symbols)
        store.addSymbol({s.id, s.symbol, s.title});

    store.addWatchList({7, 1, "Tech", {686, 2735, 4227, 8660}});
    store.addWatchList({9, 1, "Energy", {7413, 7791}});
    store.addWatchList({8, 2, "Canadian Banks", {11401, 11418, 8345}});
    store.addWatchList({10, 2, "FX", {5961, 5970}});
    store.addWatchList({11, 3, "Futures", {7774, 7791}});
    store.addWatchList({12, 5, "Währungen", {5961, 5970}});

    store.setFollowingUser(1, 2, true);
    store.setFollowingUser(1, 3, true);
    store.setFollowingUser(2, 1, true);
    store.setFollowingUser(3, 1, true);
    store.setFollowingUser(3, 6, true);
    store.setFollowingSymbol(1, 686, true);
    store.setFollowingSymbol(1, 2735, true);
    store.setFollowingSymbol(2, 11401, true);

    MessageGenerator generator(seed);
    std::mt19937 random(seed ^ 0x5eedu);
    std::vector<std::int64_t> times(static_cast<std::size_t>(std::max(0, messageCount)));
    std::int64_t t = newestTime;
    for (auto it = times.rbegin(); it != times.rend(); ++it) {
        *it = t;
        t -= std::uniform_int_distribution<int>(240, 900)(random);
    }
    const std::vector<User> users = store.users();
    for (std::int64_t when : times) {
        const Message message = store.post(generator.next(store), when);
        const int likeCount = std::uniform_int_distribution<int>(0, 4)(random);
        for (int i = 0; i < likeCount; ++i) {
            const User& fan = users[std::uniform_int_distribution<std::size_t>(0, users.size() - 1)(random)];
            if (fan.id != message.userId)
                store.setLiked(message.id, fan.id, true);
        }
    }
}

} // namespace SeedData
} // namespace Emulator
