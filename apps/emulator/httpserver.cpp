#include "httpserver.h"

#include "connectionwatcher.h"
#include "socketstream.h"

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <set>
#include <sys/socket.h>
#include <unistd.h>

namespace Emulator {

namespace {

const std::size_t workerCount = 12;
const std::chrono::milliseconds readTimeout(5000);
const std::chrono::milliseconds writeTimeout(5000);

// The stream of the request that this worker serves, for the error handler to ask about.
thread_local SocketStream* t_servedStream = nullptr;

// Reads what the client still sends for a little while, so that closing with unread input does
// not reset the connection before the client has read the refusal; a client that keeps sending
// must not keep the worker, hence the limit on the whole.
void drainBriefly(socket_t socket, std::chrono::milliseconds limit)
{
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    std::size_t drained = 0;
    pollfd entry{socket, POLLIN, 0};
    while (drained < 1024 * 1024) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        const int wait = int(std::min<long long>(left.count(), 50));
        if (wait <= 0 || ::poll(&entry, 1, wait) <= 0)
            break;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        drained += std::size_t(n);
    }
}

// The workers, fed by the accept loop and by the watcher; stopping them stops the watcher first,
// so that nothing is handed to a pool that is gone.
class ServingQueue : public httplib::TaskQueue
{
public:
    ServingQueue(std::size_t threads, ConnectionWatcher& watcher)
        : m_pool(threads)
        , m_watcher(watcher)
    {
    }

    void enqueue(std::function<void()> fn) override { m_pool.enqueue(std::move(fn)); }
    void shutdown() override
    {
        m_watcher.stop();
        m_pool.shutdown();
    }

private:
    httplib::ThreadPool m_pool;
    ConnectionWatcher& m_watcher;
};

// Where the transport keeps a multipart type while it reads the body as raw bytes.
const char heldContentType[] = "X-Emulator-Held-Content-Type";

IncomingRequest incoming(const httplib::Request& req)
{
    IncomingRequest in;
    in.method = req.method;
    in.target = req.target;
    in.path = req.path;
    // The transport fills in the address only for requests it went on to route.
    in.remoteAddress = req.remote_addr.empty() && t_servedStream ? t_servedStream->remoteAddress() : req.remote_addr;
    for (const auto& header : req.headers) {
        // The transport adds the connection's addresses as headers of its own.
        if (header.first == "REMOTE_ADDR" || header.first == "REMOTE_PORT" || header.first == "LOCAL_ADDR" ||
            header.first == "LOCAL_PORT")
            continue;
        if (header.first == heldContentType)
            in.headers.emplace_back("Content-Type", header.second);
        else
            in.headers.emplace_back(header.first, header.second);
    }
    return in;
}

void write(const OutgoingResponse& out, httplib::Response& res)
{
    res.status = out.status;
    res.headers.clear();
    for (const auto& header : out.headers)
        res.set_header(header.first.c_str(), header.second);
    if (out.dropConnection) {
        // Promise a body, then fail to deliver it: the transport closes the connection.
        res.set_content_provider(
            64, out.contentType.empty() ? "application/json" : out.contentType,
            [](std::size_t, std::size_t, httplib::DataSink&) { return false; });
        return;
    }
    res.set_content(out.body, out.contentType.empty() ? "text/plain" : out.contentType);
}

const char* reasonPhrase(int status)
{
    switch (status) {
    case 400: return "Bad Request";
    case 429: return "Too Many Requests";
    case 431: return "Request Header Fields Too Large";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Refused";
    }
}

// For answers the transport would not give itself.
void writeDirectly(SocketStream& stream, const OutgoingResponse& out)
{
    if (out.dropConnection)
        return;
    std::string text = "HTTP/1.1 " + std::to_string(out.status) + " " + reasonPhrase(out.status) + "\r\n";
    for (const auto& header : out.headers)
        text += header.first + ": " + header.second + "\r\n";
    text += "Content-Type: " + (out.contentType.empty() ? std::string("text/plain") : out.contentType) + "\r\n";
    text += "Content-Length: " + std::to_string(out.body.size()) + "\r\nConnection: close\r\n\r\n";
    text += out.body;
    for (std::size_t sent = 0; sent < text.size();) {
        const ssize_t n = stream.write(text.data() + sent, text.size() - sent);
        if (n <= 0)
            return;
        sent += std::size_t(n);
    }
}

} // namespace

// cpp-httplib's server with each connection served our way: it waits in the watcher until it
// has something to say, then one worker reads its one request through a guarded stream.
class Transport : public httplib::Server
{
public:
    Transport(const TransportLimits& limits, HttpServer::Handler handler)
        : m_limits(limits)
        , m_handler(std::move(handler))
        , m_watcher(std::chrono::milliseconds(limits.idleTimeoutMs), limits.maxIdleConnections)
    {
        new_task_queue = [this] {
            auto* queue = new ServingQueue(workerCount, m_watcher);
            m_watcher.start([this, queue](int socket) { queue->enqueue([this, socket] { serve(socket); }); });
            return queue;
        };
    }

    // The library listens with a backlog of 5, so a burst of connections beyond it waits for the
    // client's retries, seconds later; listening again on the bound socket widens it.
    void widenBacklog() { ::listen(svr_sock_, SOMAXCONN); }

    // Whether the request this worker serves was refused because of its head.
    static bool isServingOversizedHead() { return t_servedStream && t_servedStream->isHeadTooLarge(); }

    // The library's stop waits for every queued connection to be served, each perhaps as slowly
    // as its deadlines allow; once stopping, queued ones close unserved and served ones stop reading.
    void beginStopping()
    {
        std::lock_guard<std::mutex> lock(m_servedMutex);
        m_stopping = true;
        for (const socket_t socket : m_served)
            ::shutdown(socket, SHUT_RD);
    }

private:
    bool process_and_close_socket(socket_t socket) override
    {
        m_watcher.add(socket);
        return true;
    }

    void serve(socket_t socket)
    {
        {
            std::lock_guard<std::mutex> lock(m_servedMutex);
            if (m_stopping) {
                ::close(socket);
                return;
            }
            m_served.insert(socket);
        }
        SocketStream stream(socket,
                            HeadGuard(m_limits.maxHeaderCount, m_limits.maxHeadBytes, CPPHTTPLIB_HEADER_MAX_LENGTH),
                            readTimeout, writeTimeout, std::chrono::milliseconds(m_limits.headTimeoutMs),
                            std::chrono::milliseconds(m_limits.bodyTimeoutMs));
        t_servedStream = &stream;
        bool closed = false;
        process_request(stream, true, closed, nullptr);
        t_servedStream = nullptr;
        // The transport gives up on a request line cut short by the guard without a word.
        if (stream.isHeadTooLarge() && stream.bytesWritten() == 0) {
            IncomingRequest in;
            in.remoteAddress = stream.remoteAddress();
            in.transportStatus = 431;
            writeDirectly(stream, m_handler(in));
        }
        if (stream.isHeadTooLarge() || stream.hasUnreadInput()) {
            ::shutdown(socket, SHUT_WR);
            drainBriefly(socket, std::chrono::milliseconds(m_limits.drainTimeoutMs));
        }
        {
            // Before the close, so that a stop never shuts a number already reused.
            std::lock_guard<std::mutex> lock(m_servedMutex);
            m_served.erase(socket);
        }
        ::shutdown(socket, SHUT_RDWR);
        ::close(socket);
    }

    TransportLimits m_limits;
    HttpServer::Handler m_handler;
    ConnectionWatcher m_watcher;
    std::mutex m_servedMutex;
    std::set<socket_t> m_served;
    bool m_stopping = false;
};

HttpServer::HttpServer(Handler handler, const TransportLimits& limits)
    : m_handler(std::move(handler))
    , m_limits(limits)
{
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::configure()
{
    httplib::Server& server = *m_server;
    server.set_payload_max_length(m_limits.payloadLimit);
    // SO_REUSEADDR only: a port that is taken must stay taken.
    server.set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    });

    // The transport would parse multipart bodies itself; the service wants the raw bytes.
    server.set_pre_routing_handler([](const httplib::Request& req, httplib::Response&) {
        if (req.is_multipart_form_data()) {
            auto& request = const_cast<httplib::Request&>(req);
            const std::string type = request.get_header_value("Content-Type");
            request.headers.erase("Content-Type");
            request.headers.emplace(heldContentType, type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });

    auto plain = [this](const httplib::Request& req, httplib::Response& res) {
        write(m_handler(incoming(req)), res);
    };
    auto withBody = [this](const httplib::Request& req, httplib::Response& res,
                           const httplib::ContentReader& reader) {
        IncomingRequest in = incoming(req);
        // The transport checks only a declared length against the limit, not a chunked body.
        bool tooLarge = false;
        const bool complete = reader([this, &in, &tooLarge](const char* data, std::size_t length) {
            if (length > m_limits.payloadLimit - in.body.size()) {
                tooLarge = true;
                return false;
            }
            in.body.append(data, length);
            return true;
        });
        if (!complete)
            in.transportStatus = tooLarge || res.status == 413 ? 413 : 400;
        if (tooLarge && t_servedStream)
            t_servedStream->setUnreadInput();
        write(m_handler(in), res);
    };
    server.Get(".*", plain);
    server.Options(".*", plain);
    server.Post(".*", withBody);
    server.Put(".*", withBody);
    server.Patch(".*", withBody);
    server.Delete(".*", withBody);

    // Requests the transport refused before any handler ran.
    server.set_error_handler([this](const httplib::Request& req, httplib::Response& res) {
        if (!res.body.empty() || res.content_provider_)
            return;
        IncomingRequest in = incoming(req);
        // The transport reads an oversized head as a broken one.
        in.transportStatus = res.status == 400 && Transport::isServingOversizedHead() ? 431 : res.status;
        write(m_handler(in), res);
    });
    server.set_exception_handler([this](const httplib::Request& req, httplib::Response& res, std::exception_ptr) {
        IncomingRequest in = incoming(req);
        in.transportStatus = 500;
        write(m_handler(in), res);
    });
}

bool HttpServer::start(std::uint16_t port)
{
    if (m_server)
        return false;
    m_server = std::make_unique<Transport>(m_limits, m_handler);
    configure();
    int bound = -1;
    if (port == 0) {
        bound = m_server->bind_to_any_port("127.0.0.1");
    } else if (m_server->bind_to_port("127.0.0.1", port)) {
        bound = port;
    }
    if (bound <= 0) {
        m_server.reset();
        return false;
    }
    m_server->widenBacklog();
    m_port = static_cast<std::uint16_t>(bound);
    httplib::Server* server = m_server.get();
    m_thread = std::thread([server] { server->listen_after_bind(); });
    // stop() is only heard once the loop runs.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!server->is_running() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}

void HttpServer::stop()
{
    if (!m_server)
        return;
    m_server->beginStopping();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
    m_server.reset();
    m_port = 0;
}

bool HttpServer::isRunning() const
{
    return m_server && m_server->is_running();
}

} // namespace Emulator
