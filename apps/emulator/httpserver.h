#pragma once

#include "requestlog.h"
#include "transportlimits.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace Emulator {

// A request as it came off the wire.
struct IncomingRequest
{
    std::string method;
    std::string target;
    std::string path;
    NameValueList headers;
    std::string body;
    std::string remoteAddress;
    int transportStatus = 0; // set when the transport refused the request itself (400, 413, ...)
};

// What goes back on the wire.
struct OutgoingResponse
{
    int status = 200;
    NameValueList headers;
    std::string body;
    std::string contentType;
    bool dropConnection = false; // headers go out, then the connection closes without a body
};

class Transport;

// Listens on 127.0.0.1 on a background thread and hands every request to one handler, one
// request per connection.
class HttpServer
{
public:
    using Handler = std::function<OutgoingResponse(const IncomingRequest&)>;

    HttpServer(Handler handler, const TransportLimits& limits);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // 0 picks any free port.
    bool start(std::uint16_t port);
    void stop();
    bool isRunning() const;
    std::uint16_t port() const { return m_port; }

private:
    void configure();

    Handler m_handler;
    TransportLimits m_limits;
    std::unique_ptr<Transport> m_server;
    std::thread m_thread;
    std::uint16_t m_port = 0;
};

} // namespace Emulator
