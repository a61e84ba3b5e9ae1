#pragma once

#include <cstddef>

namespace Emulator {

// What the transport lets one client take.
struct TransportLimits
{
    std::size_t payloadLimit = 2 * 1024 * 1024; // larger bodies get 413
    std::size_t maxHeaderCount = 100;           // more header fields get 431
    std::size_t maxHeadBytes = 32 * 1024;       // a longer request line and headers get 431
    int idleTimeoutMs = 1000;                   // a connection that sends nothing for this long is closed
    int headTimeoutMs = 3000;                   // the request line and headers must be in by then
    int bodyTimeoutMs = 10000;                  // and the body this long after the head
    int drainTimeoutMs = 500;                   // input after a refusal is read (and dropped) this long at most
    std::size_t maxIdleConnections = 512;       // beyond this the longest idle one is closed
};

} // namespace Emulator
