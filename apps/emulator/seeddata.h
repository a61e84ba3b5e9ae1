#pragma once

#include "datastore.h"

#include <cstdint>
#include <random>

namespace Emulator {

// Makes believable messages from the users and symbols in a store; used for seeding and over time.
class MessageGenerator
{
public:
    // Random: every choice at random. InTurn: authors, symbols, mentioned users, templates and
    // media taken in turn, so that every stream soon sees a new message. Skewed: authors, symbols
    // and mentioned users drawn from a Zipf-like law over a ranking fixed by the seed, so that a
    // few streams are busy and most stay quiet, as on a live service.
    enum class Order { Random, InTurn, Skewed };

    explicit MessageGenerator(unsigned seed, Order order = Order::Random);

    MessageDraft next(const DataStore& store);

private:
    // Draws ids with the weight 1 / rank^exponent, rank 1 being the id whose seeded key is
    // lowest; the ranking is kept until the set of ids changes.
    class SkewedChoice
    {
    public:
        int draw(const std::vector<int>& ids, unsigned seed, std::mt19937& random);

    private:
        std::vector<int> m_ids;
        std::vector<int> m_ranked;
        std::discrete_distribution<std::size_t> m_law;
    };

    MessageDraft nextSkewed(const std::vector<User>& users, const std::vector<Symbol>& symbols);
    MessageDraft finish(MessageDraft draft, std::string text, const User& author, const Symbol& first,
                        const Symbol& second, const std::string& other, bool inTurn, int turn);
    int pick(int count);
    // The next of count choices in turn, or a random one.
    int choose(int count, int turn);

    std::mt19937 m_random;
    unsigned m_seed;
    Order m_order;
    int m_turn = 0;
    int m_mentionTurn = 0;
    SkewedChoice m_authors;
    SkewedChoice m_mentioned;
    SkewedChoice m_symbols;
};

// The accounts, symbols, watch lists, follows and message history the service starts with.
namespace SeedData {

// messageCount messages, the newest at newestTime, older ones a few minutes apart.
void populate(DataStore& store, std::int64_t newestTime, unsigned seed, int messageCount = 300);

} // namespace SeedData
} // namespace Emulator
