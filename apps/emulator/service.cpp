#include "service.h"

#include "apiendpoints.h"
#include "authpage.h"
#include "formdata.h"
#include "httpserver.h"
#include "router.h"
#include "seeddata.h"
#include "staticcontent.h"

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace Emulator {

namespace {

// Longer paths cannot name anything and would only cost the pattern matcher.
const std::size_t longestPath = 2048;

std::string transportError(int status)
{
    switch (status) {
    case 400: return "Bad request";
    case 413: return "Payload too large";
    case 414: return "Request address too long";
    case 431: return "Request header fields too large";
    case 500: return "Internal server error";
    default: return "Request refused";
    }
}

// The query items of a target as sent, the fragment left out.
void readQuery(const std::string& target, RecordedRequest& record)
{
    const std::size_t question = target.find('?');
    if (question == std::string::npos)
        return;
    const std::size_t hash = target.find('#', question);
    record.queryMalformed = !Forms::parseQuery(
        std::string_view(target).substr(question + 1, hash == std::string::npos ? hash : hash - question - 1),
        record.query);
}

// The first error message of a refusal's envelope.
std::string refusalText(const Reply& reply)
{
    const std::string status = "Status " + std::to_string(reply.status);
    const nlohmann::json body = nlohmann::json::parse(reply.body, nullptr, false);
    if (!body.is_object() || !body.contains("errors"))
        return status;
    const nlohmann::json& errors = body.at("errors");
    if (!errors.is_array() || errors.empty() || !errors.front().is_object())
        return status;
    return errors.front().value("message", status);
}

void removeHeader(NameValueList& headers, const std::string& name)
{
    for (auto it = headers.begin(); it != headers.end();) {
        if (it->first == name)
            it = headers.erase(it);
        else
            ++it;
    }
}

void replaceHeader(NameValueList& headers, const std::string& name, const std::string& value)
{
    removeHeader(headers, name);
    headers.emplace_back(name, value);
}

} // namespace

class Service::Private
{
public:
    explicit Private(const Options& options);

    OutgoingResponse handle(const IncomingRequest& in);
    Reply route(const RecordedRequest& record, const FormData& form, bool tokenGiven,
                const std::optional<User>& user, StreamListing* listing = nullptr);
    void applyFaults(const std::vector<Fault>& faults, OutgoingResponse& out) const;
    void runGenerator();
    void stopGenerator();

    Options m_options;
    ServerClock m_clock;
    DataStore m_store;
    TokenRegistry m_tokens;
    RateLimiter m_limiter;
    FaultInjector m_faults;
    RequestLog m_log;
    Router m_router;
    ApiEndpoints m_api;
    AuthPage m_authPage;
    StaticContent m_content;
    std::unique_ptr<HttpServer> m_http;

    std::mutex m_generatorMutex;
    std::map<MessageGenerator::Order, MessageGenerator> m_generators; // made when first asked for
    std::condition_variable m_generatorWake;
    bool m_generatorStop = false;
    std::thread m_generatorThread;

    std::string baseUrl() const;
    std::map<std::string, std::string> remoteSettings() const;
    int generateMessage(MessageGenerator::Order order);
};

Service::Private::Private(const Options& options)
    : m_options(options)
    , m_limiter(m_clock, options.rateLimit, options.rateWindowSeconds)
    , m_log(options.requestLogCapacity, options.requestLogBodyLimit, options.requestLogHeaderCountLimit,
            options.requestLogHeaderBytesLimit)
    , m_api(m_store, m_clock, {options.symbolsLimit, options.urlSymbols}, [this] { return baseUrl(); })
    , m_authPage(m_store, m_tokens, options.clientId)
    , m_content(m_store, [this] { return remoteSettings(); })
{
    if (m_options.seedData) {
        const std::int64_t newest = m_options.seedTime ? m_options.seedTime : m_clock.now();
        SeedData::populate(m_store, newest, m_options.randomSeed, m_options.seedMessageCount);
    }
    m_api.addRoutes(m_router);
    m_authPage.addRoutes(m_router);
    m_content.addRoutes(m_router);
}

std::string Service::Private::baseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(m_http ? m_http->port() : 0) + "/";
}

std::map<std::string, std::string> Service::Private::remoteSettings() const
{
    return remoteSettingsFor(baseUrl(), m_options);
}

int Service::Private::generateMessage(MessageGenerator::Order order)
{
    MessageDraft draft;
    {
        std::lock_guard<std::mutex> lock(m_generatorMutex);
        auto it = m_generators.find(order);
        if (it == m_generators.end()) {
            // In turn keeps the seed it always had, so that what tests generate stays as it was.
            const unsigned offset = order == MessageGenerator::Order::InTurn ? 1 :
                                    order == MessageGenerator::Order::Skewed ? 2 : 3;
            it = m_generators.emplace(order, MessageGenerator(m_options.randomSeed + offset, order)).first;
        }
        draft = it->second.next(m_store);
    }
    if (draft.userId < 0)
        return -1;
    return m_store.post(draft, m_clock.now()).id;
}

void Service::Private::runGenerator()
{
    const auto period = m_options.generatorPeriod;
    auto due = std::chrono::steady_clock::now() + period;
    std::unique_lock<std::mutex> lock(m_generatorMutex);
    while (!m_generatorWake.wait_until(lock, due, [this] { return m_generatorStop; })) {
        lock.unlock();
        generateMessage(m_options.generatorOrder);
        lock.lock();
        // The pace holds over many messages; after a stall it starts afresh rather than catch up in a burst.
        due += period;
        const auto now = std::chrono::steady_clock::now();
        if (due < now)
            due = now + period;
    }
}

void Service::Private::stopGenerator()
{
    {
        std::lock_guard<std::mutex> lock(m_generatorMutex);
        m_generatorStop = true;
    }
    m_generatorWake.notify_all();
    if (m_generatorThread.joinable())
        m_generatorThread.join();
}

OutgoingResponse Service::Private::handle(const IncomingRequest& in)
{
    RecordedRequest record;
    record.method = in.method;
    record.path = in.path;
    record.target = in.target;
    record.headers = in.headers;
    record.body = in.body;
    record.remoteAddress = in.remoteAddress;
    readQuery(in.target, record);

    const std::vector<Fault> faults = m_faults.take(record.path);
    int latency = 0;
    for (const Fault& fault : faults) {
        if (fault.kind == FaultKind::Latency)
            latency += fault.latencyMs;
    }
    if (latency > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(latency));

    FormData form;
    const std::string contentType = record.header("Content-Type");
    if (Forms::isMultipart(contentType))
        form = Forms::parseMultipart(contentType, record.body);
    else if (!record.body.empty())
        form = Forms::parseUrlEncoded(record.body);

    // The token travels in the address; a multipart post repeats it as a field.
    std::string token = record.queryValue("access_token");
    if (token.empty() && form.ok)
        token = form.value("access_token");
    const bool tokenGiven = !token.empty();
    std::optional<User> user;
    if (tokenGiven) {
        if (const auto id = m_tokens.userOf(token))
            user = m_store.user(*id);
    }
    const RateLimitDecision limit = m_limiter.consume(
        user ? RateLimiter::tokenClient(token) : RateLimiter::addressClient(record.remoteAddress));

    Reply reply;
    try {
        if (in.transportStatus)
            reply = Reply::error(in.transportStatus, transportError(in.transportStatus));
        else if (!limit.allowed)
            reply = Reply::error(429, "Rate limit exceeded");
        else
            reply = route(record, form, tokenGiven, user);
    } catch (const std::exception& e) {
        reply = Reply::error(500, std::string("Internal server error: ") + e.what());
    }

    OutgoingResponse out;
    out.status = reply.status;
    out.body = reply.body;
    out.contentType = reply.contentType;
    out.headers.emplace_back("Server", "ventari-emulator");
    out.headers.emplace_back("Date", ServerClock::httpDate(m_clock.now()));
    out.headers.emplace_back("X-RateLimit-Limit", std::to_string(m_limiter.limit()));
    out.headers.emplace_back("X-RateLimit-Remaining", std::to_string(limit.remaining));
    out.headers.emplace_back("X-RateLimit-Reset", std::to_string(limit.resetAt));
    if (!reply.location.empty())
        out.headers.emplace_back("Location", reply.location);
    applyFaults(faults, out);

    record.status = out.dropConnection ? 0 : out.status;
    m_log.append(std::move(record));
    return out;
}

Reply Service::Private::route(const RecordedRequest& record, const FormData& form, bool tokenGiven,
                              const std::optional<User>& user, StreamListing* listing)
{
    if (record.queryMalformed)
        return Reply::error(400, "Malformed query");
    if (record.path.size() > longestPath)
        return Reply::error(404, "Not found");
    const Router::Match match = m_router.match(record.method, record.path);
    if (!match.route) {
        if (match.pathKnown)
            return Reply::error(405, "Method not allowed: " + record.method);
        return Reply::error(404, "Not found: " + record.path);
    }
    if (match.route->access != Access::Open) {
        if (tokenGiven && !user)
            return Reply::error(401, "Invalid access token");
        if (match.route->access == Access::UserRequired && !user)
            return Reply::error(401, "Authentication required");
    }
    return match.route->handler(Call{record, form, match.captures, user, listing});
}

void Service::Private::applyFaults(const std::vector<Fault>& faults, OutgoingResponse& out) const
{
    for (const Fault& fault : faults) {
        switch (fault.kind) {
        case FaultKind::Latency:
            break;
        case FaultKind::ErrorStatus: {
            const Reply reply = Reply::error(fault.status, fault.errorText);
            out.status = reply.status;
            out.body = reply.body;
            out.contentType = reply.contentType;
            removeHeader(out.headers, "Location");
            break;
        }
        case FaultKind::MalformedBody:
            // Cut short, so that no JSON reader accepts it.
            out.body = out.body.size() > 2 ? out.body.substr(0, out.body.size() / 2) : std::string("{");
            break;
        case FaultKind::MissingRateLimitHeaders:
            removeHeader(out.headers, "X-RateLimit-Limit");
            removeHeader(out.headers, "X-RateLimit-Remaining");
            removeHeader(out.headers, "X-RateLimit-Reset");
            break;
        case FaultKind::MalformedRateLimitHeader:
            switch (fault.defect) {
            case HeaderDefect::NonNumericRemaining:
                replaceHeader(out.headers, "X-RateLimit-Remaining", "many");
                break;
            case HeaderDefect::NonNumericReset:
                replaceHeader(out.headers, "X-RateLimit-Reset", "soon");
                break;
            case HeaderDefect::DateWithZoneOffset: {
                std::string date = ServerClock::httpDate(m_clock.now());
                date.replace(date.size() - 3, 3, "+0000");
                replaceHeader(out.headers, "Date", date);
                break;
            }
            case HeaderDefect::LimitMissing:
                removeHeader(out.headers, "X-RateLimit-Limit");
                break;
            }
            break;
        case FaultKind::DroppedConnection:
            out.dropConnection = true;
            break;
        }
    }
    if (out.dropConnection) {
        // A connection that breaks carries no answer, so nothing a client could read the limit from.
        removeHeader(out.headers, "Date");
        removeHeader(out.headers, "X-RateLimit-Limit");
        removeHeader(out.headers, "X-RateLimit-Remaining");
        removeHeader(out.headers, "X-RateLimit-Reset");
    }
}

Service::Service(const Options& options)
    : d(std::make_unique<Private>(options))
{
}

Service::~Service()
{
    stop();
}

bool Service::start(std::uint16_t port)
{
    if (d->m_http)
        return false;
    d->m_http = std::make_unique<HttpServer>([this](const IncomingRequest& in) { return d->handle(in); },
                                             d->m_options.transport);
    if (!d->m_http->start(port)) {
        d->m_http.reset();
        return false;
    }
    if (d->m_options.generatorPeriod.count() > 0) {
        d->m_generatorStop = false;
        d->m_generatorThread = std::thread([this] { d->runGenerator(); });
    }
    return true;
}

void Service::stop()
{
    d->stopGenerator();
    if (d->m_http) {
        d->m_http->stop();
        d->m_http.reset();
    }
}

bool Service::isRunning() const
{
    return d->m_http && d->m_http->isRunning();
}

std::uint16_t Service::port() const
{
    return d->m_http ? d->m_http->port() : 0;
}

std::string Service::baseUrl() const
{
    return d->baseUrl();
}

std::map<std::string, std::string> remoteSettingsFor(const std::string& baseUrl, const ServiceOptions& options)
{
    const std::string api = baseUrl + "api/2/";
    return {
        {"streamApiUrl", api},
        {"likeUrl", api + "messages/like.json"},
        {"unlikeUrl", api + "messages/unlike.json"},
        {"friendshipsUrl", api + "friendships/%1/%2.json"},
        {"stockshipsUrl", api + "stockships/%1/%2.json"},
        {"watchListsUrl", api + "watchlists.json"},
        {"userInfoUrl", api + "account/verify.json"},
        {"shareUrl", api + "messages/create.json"},
        {"authorizationUrl",
         baseUrl + "oauth/authorize?client_id=%1&response_type=token&redirect_uri=" + baseUrl + "oauth/done"},
        {"OrvaneId", options.clientId},
        {"symbolsLimit", std::to_string(options.symbolsLimit)},
        {"urlSymbols", std::to_string(options.urlSymbols)},
    };
}

std::map<std::string, std::string> Service::remoteSettings() const
{
    return d->remoteSettings();
}

std::string Service::issueToken(const std::string& username)
{
    const auto user = d->m_store.userByName(username);
    return user ? d->m_tokens.issue(user->id) : std::string();
}

bool Service::adoptToken(const std::string& token, const std::string& username)
{
    const auto user = d->m_store.userByName(username);
    return user && d->m_tokens.adopt(token, user->id);
}

bool Service::revokeToken(const std::string& token)
{
    return d->m_tokens.revoke(token);
}

void Service::revokeAll()
{
    d->m_tokens.revokeAll();
}

void Service::setRemaining(int remaining)
{
    d->m_limiter.setRemainingForAll(remaining);
}

void Service::setRemainingForToken(const std::string& token, int remaining)
{
    d->m_limiter.setRemaining(RateLimiter::tokenClient(token), remaining);
}

void Service::setRemainingForAnonymous(int remaining)
{
    d->m_limiter.setRemainingForAnonymous(remaining);
}

void Service::setResetTime(std::int64_t secondsSinceEpoch)
{
    d->m_limiter.setResetTime(secondsSinceEpoch);
}

void Service::setServerTime(std::int64_t secondsSinceEpoch)
{
    d->m_clock.setFixed(secondsSinceEpoch);
}

void Service::releaseServerTime()
{
    d->m_clock.release();
}

int Service::addFault(const Fault& fault)
{
    return d->m_faults.add(fault);
}

void Service::clearFaults()
{
    d->m_faults.clear();
}

std::vector<RecordedRequest> Service::requests() const
{
    return d->m_log.all();
}

void Service::clearRequests()
{
    d->m_log.clear();
}

int Service::generateMessage()
{
    return d->generateMessage(MessageGenerator::Order::InTurn);
}

int Service::generateMessage(MessageGenerator::Order order)
{
    return d->generateMessage(order);
}

std::vector<int> Service::streamMessageIds(const std::string& target, const std::string& username,
                                          std::size_t limit) const
{
    // Taken through the router and the stream's own handler, as a GET of the same target would be.
    const std::string api = "api/2/";
    std::string relative = target.substr(target.compare(0, 1, "/") == 0 ? 1 : 0);
    if (relative.compare(0, api.size(), api) != 0)
        relative = api + relative;
    RecordedRequest record;
    record.method = "GET";
    record.target = "/" + relative;
    if (!Forms::percentDecode(std::string_view(record.target).substr(0, record.target.find('?')), false,
                              record.path))
        throw std::invalid_argument("Malformed path: " + target);
    readQuery(record.target, record);
    const std::string streams = "/" + api + "streams/";
    if (record.path.compare(0, streams.size(), streams) != 0)
        throw std::invalid_argument("Not a stream: " + target);
    std::optional<User> user;
    if (!username.empty()) {
        user = d->m_store.userByName(username);
        if (!user)
            throw std::invalid_argument("Unknown user: " + username);
    }
    StreamListing listing;
    listing.limit = limit;
    const Reply reply = d->route(record, FormData(), user.has_value(), user, &listing);
    if (reply.status != 200)
        throw std::invalid_argument(refusalText(reply) + " (" + target + ")");
    return listing.ids;
}

bool Service::removeMessage(int messageId)
{
    return d->m_store.removeMessage(messageId);
}

DataStore& Service::store()
{
    return d->m_store;
}

TokenRegistry& Service::tokens()
{
    return d->m_tokens;
}

RateLimiter& Service::rateLimiter()
{
    return d->m_limiter;
}

ServerClock& Service::clock()
{
    return d->m_clock;
}

FaultInjector& Service::faults()
{
    return d->m_faults;
}

RequestLog& Service::requestLog()
{
    return d->m_log;
}

const Service::Options& Service::options() const
{
    return d->m_options;
}

} // namespace Emulator
