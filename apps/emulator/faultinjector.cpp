#include "faultinjector.h"

#include <algorithm>

namespace Emulator {

namespace {

Fault ofKind(FaultKind kind)
{
    Fault f;
    f.kind = kind;
    return f;
}

} // namespace

Fault Fault::latency(int ms)
{
    Fault f = ofKind(FaultKind::Latency);
    f.latencyMs = std::max(0, ms);
    return f;
}

Fault Fault::errorStatus(int status, const std::string& text)
{
    Fault f = ofKind(FaultKind::ErrorStatus);
    f.status = status;
    f.errorText = text;
    return f;
}

Fault Fault::malformedBody() { return ofKind(FaultKind::MalformedBody); }
Fault Fault::missingRateLimitHeaders() { return ofKind(FaultKind::MissingRateLimitHeaders); }
Fault Fault::droppedConnection() { return ofKind(FaultKind::DroppedConnection); }

Fault Fault::malformedRateLimitHeader(HeaderDefect defect)
{
    Fault f = ofKind(FaultKind::MalformedRateLimitHeader);
    f.defect = defect;
    return f;
}

Fault& Fault::times(int requests)
{
    count = requests;
    return *this;
}

Fault& Fault::onPath(const std::string& prefix)
{
    pathPrefix = prefix;
    return *this;
}

int FaultInjector::add(const Fault& fault)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (fault.count == 0)
        return 0;
    const int id = m_nextId++;
    m_entries.push_back({id, fault});
    return id;
}

bool FaultInjector::remove(int id)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    const auto before = m_entries.size();
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [id](const Entry& e) { return e.id == id; }),
                    m_entries.end());
    return m_entries.size() != before;
}

void FaultInjector::clear()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_entries.clear();
}

std::vector<Fault> FaultInjector::take(const std::string& path)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Fault> taken;
    for (Entry& entry : m_entries) {
        if (path.rfind(entry.fault.pathPrefix, 0) != 0)
            continue;
        taken.push_back(entry.fault);
        if (entry.fault.count > 0)
            --entry.fault.count;
    }
    m_entries.erase(std::remove_if(m_entries.begin(), m_entries.end(),
                                   [](const Entry& e) { return e.fault.count == 0; }),
                    m_entries.end());
    return taken;
}

std::vector<Fault> FaultInjector::active() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<Fault> faults;
    for (const Entry& entry : m_entries)
        faults.push_back(entry.fault);
    return faults;
}

} // namespace Emulator
