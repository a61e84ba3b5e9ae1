#pragma once

#include "protocolfixture.h"

#include "streams/iventaristream.h"
#include "ventaristreamshandler.h"

#include <functional>
#include <memory>

namespace StreamsTest {

// A started host with the stream registry, as the facade builds them: the registry after the
// handler and the authorization state, its watch-list stream's queued set-up run.
class StreamHost
{
public:
    explicit StreamHost(bool authorized)
        : m_started(authorized)
        , m_registry(std::make_unique<Ventari::VentariStreamsHandler>())
    {
        QCoreApplication::processEvents();
    }

    bool isStarted() const { return m_started.isStarted(); }
    const ProtocolTest::StartedHost& started() const { return m_started; }
    TemporarySettings& settings() const { return m_started.host().settings(); }
    Ventari::VentariStreamsHandler& registry() const { return *m_registry; }
    Ventari::IVentariStream* stream(const QByteArray& id) const { return m_registry->streamById(id); }

    // The registry goes and comes back, as at a restart of the host; with a fresh settings store
    // over the same file when the store is reopened.
    void restartRegistry(bool reopenSettings)
    {
        m_registry.reset();
        if (reopenSettings)
            settings().reopen();
        m_registry = std::make_unique<Ventari::VentariStreamsHandler>();
        QCoreApplication::processEvents();
    }

private:
    ProtocolTest::StartedHost m_started;
    std::unique_ptr<Ventari::VentariStreamsHandler> m_registry;
};

// One host at a time for a whole test case: alice's, kept from test to test, or a fresh one where
// nobody is authorized. The emulator's tokens must stay valid between the tests.
class StreamHosts
{
public:
    StreamHost& get(bool authorized)
    {
        if (!authorized || !m_host || !m_authorized) {
            m_host.reset();
            m_host = std::make_unique<StreamHost>(authorized);
            m_authorized = authorized;
        }
        return *m_host;
    }
    // Leaves the service locator to a host of the test's own.
    void reset() { m_host.reset(); }

private:
    std::unique_ptr<StreamHost> m_host;
    bool m_authorized = false;
};

// Fresh for a test without revoking tokens: no faults, no limit used up, no log.
inline void resetEmulatorKeepingTokens()
{
    Emulator::Service& service = sharedEmulator();
    service.clearFaults();
    service.rateLimiter().reset();
    service.clearRequests();
}

// Ids of the emulator's messages that pass a predicate, newest first, read one by one from its store.
inline QList<int> newestIds(const std::function<bool(const Emulator::Message&)>& passes, int count)
{
    QList<int> ids;
    Emulator::DataStore& store = sharedEmulator().store();
    for (int id = store.newestMessageId(); id > 0 && ids.size() < count; --id) {
        const auto message = store.message(id);
        if (message && passes(*message))
            ids.append(id);
    }
    return ids;
}

} // namespace StreamsTest
