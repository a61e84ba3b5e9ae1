#pragma once

#include "datastore.h"
#include "faultinjector.h"
#include "ratelimiter.h"
#include "requestlog.h"
#include "seeddata.h"
#include "serverclock.h"
#include "tokenregistry.h"
#include "transportlimits.h"

#include <chrono>
#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace Emulator {

struct ServiceOptions
{
    bool seedData = true;
    std::chrono::milliseconds generatorPeriod{0}; // > 0: a new message every period while running
    // How the background generator picks authors, symbols and mentioned users; skewed, a few
    // streams are busy and most quiet, as on the live service.
    MessageGenerator::Order generatorOrder = MessageGenerator::Order::Skewed;
    int rateLimit = 200;            // requests per client and window
    int rateWindowSeconds = 3600;
    TransportLimits transport;
    std::size_t requestLogCapacity = 1000; // the log keeps the most recent requests only
    std::size_t requestLogBodyLimit = 4096; // longer bodies are logged cut short
    std::size_t requestLogHeaderCountLimit = 100; // fields of a request the log keeps
    std::size_t requestLogHeaderBytesLimit = 8192; // and their bytes in all; the rest is left out
    std::string clientId = "orvane-desktop";    // the only client the authorization page accepts
    int symbolsLimit = 140;
    int urlSymbols = 20;
    unsigned randomSeed = 7;     // seeded messages, the generator and its ranking of busy streams
    std::int64_t seedTime = 0;   // time of the newest seeded message; 0: construction time
    int seedMessageCount = 300;
};

// Keys without the "RemoteSettings/Ventari/" prefix pointing a host at a service with this
// emulator's layout at baseUrl ("http://host:port/").
std::map<std::string, std::string> remoteSettingsFor(const std::string& baseUrl,
                                                     const ServiceOptions& options = ServiceOptions());

// The local stand-in for the Ventari web service: its JSON API, its authorization page, its
// rate limit, and the controls tests need (tokens, limits, clock, faults, request log).
class Service
{
public:
    using Options = ServiceOptions;

    explicit Service(const Options& options = Options());
    ~Service();
    Service(const Service&) = delete;
    Service& operator=(const Service&) = delete;

    // Binds 127.0.0.1 only; 0 picks any free port. Serves on background threads. Data, tokens and
    // limits outlive stop(); start() again, on the same port or another, serves them on and
    // resumes the generator.
    bool start(std::uint16_t port = 0);
    void stop();
    bool isRunning() const;
    std::uint16_t port() const;
    // "http://127.0.0.1:PORT/"
    std::string baseUrl() const;
    // Keys without the "RemoteSettings/Ventari/" prefix, values pointing at this service.
    std::map<std::string, std::string> remoteSettings() const;

    // Tokens. issueToken returns an empty text for an unknown user.
    std::string issueToken(const std::string& username);
    // Honours a token an earlier run issued to this user; false for an unknown user or a token
    // that stands for someone else.
    bool adoptToken(const std::string& token, const std::string& username);
    bool revokeToken(const std::string& token);
    void revokeAll();

    // Rate limit: n requests left in this window (the next answer reports n - 1, then 429 at 0).
    void setRemaining(int remaining); // every client
    void setRemainingForToken(const std::string& token, int remaining);
    void setRemainingForAnonymous(int remaining);
    // Pins "X-RateLimit-Reset"; the window no longer renews until rateLimiter().unpinResetTime().
    void setResetTime(std::int64_t secondsSinceEpoch);
    // Fixes the clock behind "Date", the window and new messages; releaseServerTime() undoes it.
    void setServerTime(std::int64_t secondsSinceEpoch);
    void releaseServerTime();

    // Faults: returns an id for faults().remove(id).
    int addFault(const Fault& fault);
    void clearFaults();

    // The most recent requests received, oldest first.
    std::vector<RecordedRequest> requests() const;
    void clearRequests();

    // Posts one generated message now; returns its id. Authors, symbols and mentioned users are
    // taken in turn, so every stream soon sees new messages, which is what tests wait for.
    int generateMessage();
    // Posts one message with the choices made in that order; each order keeps its own generator,
    // shared with the background thread when it runs in the same order.
    int generateMessage(MessageGenerator::Order order);
    // The ids the stream at target ("streams/symbol/AAPL.json?filter=charts", as the plugin asks
    // for it, relative to the stream API address or to the base address) lists for that user
    // (empty: anonymous; an access_token in target is ignored), newest first, up to limit, with
    // no page size. Neither counted against the rate limit nor logged nor subject to faults.
    // Throws std::invalid_argument with the service's refusal for a target that is no stream, an
    // unknown user, or whatever the service would refuse.
    std::vector<int> streamMessageIds(const std::string& target, const std::string& username = std::string(),
                                      std::size_t limit = std::numeric_limits<std::size_t>::max()) const;
    // Deletes a message as its author would; later pages no longer carry it. False when unknown.
    bool removeMessage(int messageId);

    DataStore& store();
    TokenRegistry& tokens();
    RateLimiter& rateLimiter();
    ServerClock& clock();
    FaultInjector& faults();
    RequestLog& requestLog();
    const Options& options() const;

private:
    class Private;
    std::unique_ptr<Private> d;
};

} // namespace Emulator
