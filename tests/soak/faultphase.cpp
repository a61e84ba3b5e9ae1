#include "faultphase.h"

#include <corvane/corvanesink.h>
#include <emulator/service.h>

namespace Soak {

namespace {

using Emulator::Fault;
using Emulator::HeaderDefect;

// Years ahead: far past the plausible hour and far past what a period in milliseconds could hold.
const std::int64_t farFutureSeconds = 10LL * 365 * 24 * 3600;

const char wrongRemainSeconds[] = "Wrong remain seconds to reset request counter:";

} // namespace

FaultPhase::FaultPhase(Phase phase, Emulator::Service& service)
    : m_phase(phase)
    , m_service(service)
{
}

void FaultPhase::begin(const std::string& token)
{
    switch (m_phase) {
    case Phase::Calm:
        // A fresh window, so that the soak's own traffic never runs into the limit.
        m_service.rateLimiter().reset();
        break;
    case Phase::Latency:
        m_service.addFault(Fault::latency(150));
        break;
    case Phase::ServerErrors:
        m_service.addFault(Fault::errorStatus(503, "Service unavailable"));
        break;
    case Phase::MalformedBodies:
        m_service.addFault(Fault::malformedBody());
        break;
    case Phase::MissingHeaders:
        m_service.addFault(Fault::missingRateLimitHeaders());
        break;
    case Phase::BrokenRemaining:
        m_service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericRemaining));
        break;
    case Phase::BrokenReset:
        m_service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::NonNumericReset));
        break;
    case Phase::BrokenDate:
        m_service.addFault(Fault::malformedRateLimitHeader(HeaderDefect::DateWithZoneOffset));
        break;
    case Phase::DroppedConnections:
        m_service.addFault(Fault::droppedConnection());
        break;
    case Phase::LimitReached:
        m_service.setRemaining(0);
        break;
    case Phase::FarFutureReset:
        m_service.setResetTime(m_service.clock().now() + farFutureSeconds);
        break;
    case Phase::FarFutureLimit:
        m_service.setResetTime(m_service.clock().now() + farFutureSeconds);
        m_service.setRemaining(0);
        break;
    case Phase::TokenRevoked:
        if (!token.empty())
            m_service.revokeToken(token);
        break;
    }
}

void FaultPhase::end()
{
    m_service.clearFaults();
    if (refusesAll() || m_phase == Phase::FarFutureReset)
        m_service.rateLimiter().reset();
}

bool FaultPhase::refusesAll() const
{
    return m_phase == Phase::LimitReached || m_phase == Phase::FarFutureLimit;
}

bool FaultPhase::explains(const Corvane::LogRecord& record) const
{
    const QString& text = record.message;
    switch (m_phase) {
    case Phase::MalformedBodies:
        // The reader's refusal of a body cut short.
        return record.function == QLatin1String("Common::JsonParser::parseNoThrow");
    case Phase::BrokenRemaining:
        return text == QLatin1String("Wrong Network reply header. Can not make X-RateLimit-Remaining");
    case Phase::BrokenReset:
        // An unreadable reset reads as the epoch, long before the server's date.
        return text == QLatin1String("Wrong Network reply header. Can not make X-RateLimit-Reset")
            || text.startsWith(QLatin1String(wrongRemainSeconds));
    case Phase::BrokenDate:
        return text.startsWith(QLatin1String("Unknown format of server date:"));
    case Phase::FarFutureReset:
    case Phase::FarFutureLimit:
        return text.startsWith(QLatin1String(wrongRemainSeconds));
    default:
        return false;
    }
}

QString FaultPhase::name() const
{
    static const char* const names[] = {"calm", "latency", "server errors", "malformed bodies", "missing headers",
                                        "broken remaining", "broken reset", "broken date", "dropped connections",
                                        "limit reached", "far-future reset", "far-future limit", "token revoked"};
    return QString::fromLatin1(names[int(m_phase)]);
}

} // namespace Soak
