#pragma once

#include "headguard.h"

#include <httplib.h>

#include <array>
#include <chrono>

namespace Emulator {

// One accepted connection as the transport reads and writes it: reads are buffered, wait at most
// the read timeout, and stop at the head's limits and at the deadlines of the head and of the
// body; writes never raise SIGPIPE.
class SocketStream : public httplib::Stream
{
public:
    SocketStream(socket_t socket, const HeadGuard& guard, std::chrono::milliseconds readTimeout,
                 std::chrono::milliseconds writeTimeout, std::chrono::milliseconds headTimeout,
                 std::chrono::milliseconds bodyTimeout);

    bool is_readable() const override;
    bool is_writable() const override;
    ssize_t read(char* ptr, size_t size) override;
    ssize_t write(const char* ptr, size_t size) override;
    void get_remote_ip_and_port(std::string& ip, int& port) const override;
    void get_local_ip_and_port(std::string& ip, int& port) const override;
    socket_t socket() const override { return m_socket; }

    bool isHeadTooLarge() const { return m_guard.isExceeded(); }
    std::size_t bytesWritten() const { return m_written; }
    // Whether the request was refused before all of it was read.
    bool hasUnreadInput() const { return m_unreadInput; }
    void setUnreadInput() { m_unreadInput = true; }
    std::string remoteAddress() const;

private:
    bool fill();
    // How long a read may still wait: the read timeout, or less as the deadline nears.
    std::chrono::milliseconds readWait() const;

    socket_t m_socket;
    HeadGuard m_guard;
    std::chrono::milliseconds m_readTimeout;
    std::chrono::milliseconds m_writeTimeout;
    std::chrono::milliseconds m_bodyTimeout;
    std::chrono::steady_clock::time_point m_deadline;
    bool m_readingBody = false;
    std::array<char, 4096> m_buffer;
    std::size_t m_begin = 0;
    std::size_t m_end = 0;
    std::size_t m_written = 0;
    bool m_unreadInput = false;
};

} // namespace Emulator
