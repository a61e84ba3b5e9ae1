#include "httpserver.h"

#include <httplib.h>

#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>

namespace Emulator {

namespace {

// Where the transport keeps a multipart type while it reads the body as raw bytes.
const char heldContentType[] = "X-Emulator-Held-Content-Type";

IncomingRequest incoming(const httplib::Request& req)
{
    IncomingRequest in;
    in.method = req.method;
    in.target = req.target;
    in.path = req.path;
    in.remoteAddress = req.remote_addr;
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

} // namespace

HttpServer::HttpServer(Handler handler, std::size_t payloadLimit)
    : m_handler(std::move(handler))
    , m_payloadLimit(payloadLimit)
{
}

HttpServer::~HttpServer()
{
    stop();
}

void HttpServer::configure()
{
    httplib::Server& server = *m_server;
    server.set_payload_max_length(m_payloadLimit);
    // One request per connection: an idle kept-alive connection would hold up stop() until it
    // timed out, and clients reconnect over loopback at no cost.
    server.set_keep_alive_max_count(1);
    server.set_keep_alive_timeout(1);
    server.new_task_queue = [] { return new httplib::ThreadPool(12); };
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
        const bool complete = reader([&in](const char* data, std::size_t length) {
            in.body.append(data, length);
            return true;
        });
        if (!complete)
            in.transportStatus = res.status == 413 ? 413 : 400;
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
        in.transportStatus = res.status;
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
    m_server = std::make_unique<httplib::Server>();
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
