#include "socketstream.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

namespace Emulator {

namespace {

bool waitFor(socket_t socket, short events, std::chrono::milliseconds timeout)
{
    pollfd entry{socket, events, 0};
    int ready;
    do {
        ready = ::poll(&entry, 1, int(timeout.count()));
    } while (ready < 0 && errno == EINTR);
    return ready > 0;
}

void addressOf(const sockaddr_storage& address, std::string& ip, int& port)
{
    char text[INET6_ADDRSTRLEN] = {};
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    }
    ip = text;
}

} // namespace

SocketStream::SocketStream(socket_t socket, const HeadGuard& guard, std::chrono::milliseconds readTimeout,
                           std::chrono::milliseconds writeTimeout, std::chrono::milliseconds headTimeout,
                           std::chrono::milliseconds bodyTimeout)
    : m_socket(socket)
    , m_guard(guard)
    , m_readTimeout(readTimeout)
    , m_writeTimeout(writeTimeout)
    , m_bodyTimeout(bodyTimeout)
    , m_deadline(std::chrono::steady_clock::now() + headTimeout)
{
}

std::chrono::milliseconds SocketStream::readWait() const
{
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
    return std::max(std::chrono::milliseconds(0), std::min(left, m_readTimeout));
}

bool SocketStream::is_readable() const
{
    if (m_begin < m_end)
        return true;
    const auto wait = readWait();
    return wait.count() > 0 && waitFor(m_socket, POLLIN, wait);
}

bool SocketStream::is_writable() const
{
    return waitFor(m_socket, POLLOUT, m_writeTimeout);
}

ssize_t SocketStream::read(char* ptr, size_t size)
{
    if (m_begin == m_end && !fill())
        return -1;
    std::size_t n = 0;
    // The head is handed out only as far as the guard allows.
    while (n < size && m_begin < m_end) {
        if (!m_guard.accept(m_buffer[m_begin]))
            return n > 0 ? ssize_t(n) : -1;
        ptr[n++] = m_buffer[m_begin++];
    }
    // A sender that trickles bytes would otherwise hold a worker for as long as it likes.
    if (!m_readingBody && m_guard.isHeadComplete()) {
        m_readingBody = true;
        m_deadline = std::chrono::steady_clock::now() + m_bodyTimeout;
    }
    return ssize_t(n);
}

bool SocketStream::fill()
{
    const auto wait = readWait();
    if (wait.count() <= 0 || !waitFor(m_socket, POLLIN, wait))
        return false;
    ssize_t n;
    do {
        n = ::recv(m_socket, m_buffer.data(), m_buffer.size(), 0);
    } while (n < 0 && errno == EINTR);
    if (n <= 0)
        return false;
    m_begin = 0;
    m_end = std::size_t(n);
    return true;
}

ssize_t SocketStream::write(const char* ptr, size_t size)
{
    if (!is_writable())
        return -1;
    ssize_t n;
    do {
        n = ::send(m_socket, ptr, size, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n > 0)
        m_written += std::size_t(n);
    return n;
}

void SocketStream::get_remote_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getpeername(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        addressOf(address, ip, port);
}

std::string SocketStream::remoteAddress() const
{
    std::string ip;
    int port = 0;
    get_remote_ip_and_port(ip, port);
    return ip;
}

void SocketStream::get_local_ip_and_port(std::string& ip, int& port) const
{
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (::getsockname(m_socket, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        addressOf(address, ip, port);
}

} // namespace Emulator
