#pragma once

#include <mutex>
#include <string>
#include <vector>

namespace Emulator {

enum class FaultKind {
    Latency,                  // the answer waits latencyMs first
    ErrorStatus,              // the answer is an error envelope with this HTTP status
    MalformedBody,            // the answer's body is cut short, so it is no JSON
    MissingRateLimitHeaders,  // no "X-RateLimit-*" headers ("Date" stays)
    MalformedRateLimitHeader, // one rate-limit header in a wrong shape, see HeaderDefect
    DroppedConnection         // the connection closes before a body arrives
};

enum class HeaderDefect {
    NonNumericRemaining, // "X-RateLimit-Remaining: many"
    NonNumericReset,     // "X-RateLimit-Reset: soon"
    DateWithZoneOffset,  // "Date: Tue, 05 Dec 2023 14:03:00 +0000"
    LimitMissing         // no "X-RateLimit-Limit": the service need not tell its limit
};

// One misbehaviour that a test asks of the service.
struct Fault
{
    FaultKind kind = FaultKind::Latency;
    int latencyMs = 0;
    int status = 500;
    std::string errorText = "Internal server error";
    HeaderDefect defect = HeaderDefect::NonNumericRemaining;
    std::string pathPrefix; // empty: every path
    int count = -1;         // requests it still applies to; -1: until removed or cleared

    static Fault latency(int ms);
    static Fault errorStatus(int status, const std::string& text = "Internal server error");
    static Fault malformedBody();
    static Fault missingRateLimitHeaders();
    static Fault malformedRateLimitHeader(HeaderDefect defect);
    static Fault droppedConnection();

    Fault& times(int requests);
    Fault& onPath(const std::string& prefix);
};

// The faults in force; each request takes those that match its path.
class FaultInjector
{
public:
    // Returns an id for remove().
    int add(const Fault& fault);
    bool remove(int id);
    void clear();
    // The faults that apply to a request for path; each counts this request off.
    std::vector<Fault> take(const std::string& path);
    std::vector<Fault> active() const;

private:
    struct Entry
    {
        int id;
        Fault fault;
    };
    mutable std::mutex m_mutex;
    std::vector<Entry> m_entries;
    int m_nextId = 1;
};

} // namespace Emulator
