#pragma once

#include <QtCore/QString>

#include <string>

namespace Corvane {
struct LogRecord;
}

namespace Emulator {
class Service;
}

namespace Soak {

enum class Phase {
    Calm,
    Latency,
    ServerErrors,
    MalformedBodies,
    MissingHeaders,
    BrokenRemaining,
    BrokenReset,
    BrokenDate,
    DroppedConnections,
    LimitReached,
    FarFutureReset,
    FarFutureLimit,
    TokenRevoked
};

// What one round of the soak does to the service while it lasts, and which error records the
// service's answers in that round account for.
class FaultPhase
{
public:
    FaultPhase(Phase phase, Emulator::Service& service);

    // token: the signed-in user's, which TokenRevoked revokes; empty when nobody is signed in.
    void begin(const std::string& token);
    void end();
    // Whether the service refuses every request of the round for the rate limit.
    bool refusesAll() const;
    bool explains(const Corvane::LogRecord& record) const;
    QString name() const;

private:
    Phase m_phase;
    Emulator::Service& m_service;
};

} // namespace Soak
