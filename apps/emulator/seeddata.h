#pragma once

#include "datastore.h"

#include <cstdint>
#include <random>

namespace Emulator {

// Makes believable messages from the users and symbols in a store; used for seeding and over time.
class MessageGenerator
{
public:
    explicit MessageGenerator(unsigned seed);

    MessageDraft next(const DataStore& store);

private:
    int pick(int count);

    std::mt19937 m_random;
};

// The accounts, symbols, watch lists, follows and message history the service starts with.
namespace SeedData {

// messageCount messages, the newest at newestTime, older ones a few minutes apart.
void populate(DataStore& store, std::int64_t newestTime, unsigned seed, int messageCount = 300);

} // namespace SeedData
} // namespace Emulator
