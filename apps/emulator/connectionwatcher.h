#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace Emulator {

// Holds accepted connections until their first bytes arrive, so that a connection that sends
// nothing never occupies a worker: a readable one goes to the handler, one idle past the timeout
// is closed, and beyond the capacity the longest waiting one is closed to make room.
class ConnectionWatcher
{
public:
    using Handler = std::function<void(int socket)>;

    ConnectionWatcher(std::chrono::milliseconds idleTimeout, std::size_t capacity);
    ~ConnectionWatcher();
    ConnectionWatcher(const ConnectionWatcher&) = delete;
    ConnectionWatcher& operator=(const ConnectionWatcher&) = delete;

    void start(Handler handler);
    // Closes whatever still waits; the handler is not called again once this returns.
    void stop();
    void add(int socket);

private:
    struct Waiting
    {
        int socket;
        std::chrono::steady_clock::time_point since;
    };

    void run();
    void wake();

    std::chrono::milliseconds m_idleTimeout;
    std::size_t m_capacity;
    Handler m_handler;
    std::mutex m_mutex;
    std::deque<Waiting> m_waiting; // oldest first
    bool m_stopping = false;
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    std::thread m_thread;
};

} // namespace Emulator
