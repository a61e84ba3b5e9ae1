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
    // media taken in turn, so that every stream soon sees a new message.
    enum class Order { Random, InTurn };

    explicit MessageGenerator(unsigned seed, Order order = Order::Random);

    MessageDraft next(const DataStore& store);

private:
    int pick(int count);
    // The next of count choices in turn, or a random one.
    int choose(int count, int turn);

    std::mt19937 m_random;
    Order m_order;
    int m_turn = 0;
    int m_mentionTurn = 0;
};

// The accounts, symbols, watch lists, follows and message history the service starts with.
namespace SeedData {

// messageCount messages, the newest at newestTime, older ones a few minutes apart.
void populate(DataStore& store, std::int64_t newestTime, unsigned seed, int messageCount = 300);

} // namespace SeedData
} // namespace Emulator
