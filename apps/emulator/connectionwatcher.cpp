#include "connectionwatcher.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace Emulator {

namespace {

void closeSocket(int socket)
{
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
}

} // namespace

ConnectionWatcher::ConnectionWatcher(std::chrono::milliseconds idleTimeout, std::size_t capacity)
    : m_idleTimeout(idleTimeout)
    , m_capacity(std::max<std::size_t>(capacity, 1))
{
}

ConnectionWatcher::~ConnectionWatcher()
{
    stop();
}

void ConnectionWatcher::start(Handler handler)
{
    stop();
    int pipe[2];
    if (::pipe2(pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_wakeRead = pipe[0];
        m_wakeWrite = pipe[1];
        m_handler = std::move(handler);
        m_stopping = false;
    }
    m_thread = std::thread([this] { run(); });
}

void ConnectionWatcher::stop()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        wake();
    }
    m_thread.join();
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const Waiting& waiting : m_waiting)
        closeSocket(waiting.socket);
    m_waiting.clear();
    ::close(m_wakeRead);
    ::close(m_wakeWrite);
    m_wakeRead = m_wakeWrite = -1;
    m_handler = nullptr;
}

void ConnectionWatcher::add(int socket)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping || m_wakeWrite < 0) {
        closeSocket(socket);
        return;
    }
    m_waiting.push_back({socket, std::chrono::steady_clock::now()});
    wake();
}

// Called with the mutex held, so that the pipe cannot be closed meanwhile.
void ConnectionWatcher::wake()
{
    const char byte = 0;
    while (::write(m_wakeWrite, &byte, 1) < 0 && errno == EINTR) {
    }
}

void ConnectionWatcher::run()
{
    std::vector<pollfd> entries;
    std::vector<int> ready;
    for (;;) {
        std::chrono::steady_clock::time_point oldest;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_stopping)
                return;
            // Only this thread closes waiting sockets, so no number polled below is reused meanwhile.
            while (m_waiting.size() > m_capacity) {
                closeSocket(m_waiting.front().socket);
                m_waiting.pop_front();
            }
            entries.assign(1, pollfd{m_wakeRead, POLLIN, 0});
            for (const Waiting& waiting : m_waiting)
                entries.push_back(pollfd{waiting.socket, POLLIN, 0});
            oldest = m_waiting.empty() ? std::chrono::steady_clock::now() : m_waiting.front().since;
        }
        const auto untilOldestExpires = std::chrono::duration_cast<std::chrono::milliseconds>(
            oldest + m_idleTimeout - std::chrono::steady_clock::now());
        const int timeout = entries.size() > 1 ? int(std::max<long long>(untilOldestExpires.count(), 0) + 1) : -1;
        if (::poll(entries.data(), entries.size(), timeout) < 0 && errno != EINTR)
            return;

        if (entries[0].revents) {
            char drain[64];
            while (::read(m_wakeRead, drain, sizeof drain) > 0) {
            }
        }
        ready.clear();
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            const auto now = std::chrono::steady_clock::now();
            for (std::size_t i = 1; i < entries.size(); ++i) {
                if (entries[i].revents)
                    ready.push_back(entries[i].fd);
            }
            // Readable (or closed by the peer, which the worker then sees) ones leave; stale ones close.
            for (auto it = m_waiting.begin(); it != m_waiting.end();) {
                if (std::find(ready.begin(), ready.end(), it->socket) != ready.end()) {
                    it = m_waiting.erase(it);
                } else if (now - it->since >= m_idleTimeout) {
                    closeSocket(it->socket);
                    it = m_waiting.erase(it);
                } else {
                    ++it;
                }
            }
        }
        for (const int socket : ready)
            m_handler(socket);
    }
}

} // namespace Emulator
