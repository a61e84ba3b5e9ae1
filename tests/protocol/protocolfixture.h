#pragma once

#include "testhost.h"

#include "actions/ventariabstractaction.h"
#include "authorization/authorization.h"
#include "requestspool.h"
#include "ventariactionhandler.h"
#include "ventaritypes.h"

#include <QtCore/QMetaMethod>
#include <QtCore/QStringList>
#include <QtNetwork/QNetworkReply>
#include <QtTest/QSignalSpy>
#include <QtTest/QTest>

#include <memory>
#include <string>

namespace ProtocolTest {

using Ventari::ResponseError;
using Ventari::VentariAbstractAction;

inline QString apiUrl(const QString& path)
{
    return QString::fromStdString(sharedEmulator().baseUrl()) + QStringLiteral("api/2/") + path;
}

inline QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// The emulator as a fresh test finds it: no faults, no pinned clock or limit, no tokens, no log.
inline void resetEmulator()
{
    Emulator::Service& service = sharedEmulator();
    service.clearFaults();
    service.releaseServerTime();
    service.rateLimiter().reset();
    service.revokeAll();
    service.clearRequests();
}

inline std::vector<Emulator::RecordedRequest> requestsTo(const QString& path)
{
    std::vector<Emulator::RecordedRequest> found;
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests()) {
        if (request.path == "/api/2/" + path.toStdString())
            found.push_back(request);
    }
    return found;
}

// An action of any mode and priority aimed at one path of the emulator's API.
class ProbeAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    explicit ProbeAction(int priority, const QString& path = QStringLiteral("streams/trending.json"), int mode = NeverSendToken)
        : VentariAbstractAction(mode, Get, priority)
        , m_address(apiUrl(path))
    {
    }

    QUrl url() override { return m_address; }
    void setAddress(const QUrl& address) { m_address = address; }

private:
    QUrl m_address;
};

// Records, in order and across actions, every signal of the actions it watches as
// "name:signal", and the last error.
class Outcome : public QObject
{
    Q_OBJECT

public:
    bool watch(QObject* action, const QString& name = QStringLiteral("a"))
    {
        action->setObjectName(name);
        bool ok = connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&)));
        const QMetaObject* meta = action->metaObject();
        const QMetaMethod record = metaObject()->method(metaObject()->indexOfSlot("onSignal()"));
        for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
            if (meta->method(i).methodType() == QMetaMethod::Signal)
                ok = connect(action, meta->method(i), this, record) && ok;
        }
        return ok;
    }
    bool waitForEvents(int n) { return QTest::qWaitFor([&] { return events.size() >= n; }, 5000); }

    QStringList events;
    ResponseError error;     // the last one
    QStringList errorTexts;  // all of them

private slots:
    void onError(const ResponseError& e)
    {
        error = e;
        errorTexts << e.errorText;
    }
    void onSignal()
    {
        events.append(sender()->objectName() + QLatin1Char(':')
                      + QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name()));
    }
};

// A host whose queued start-up has run: the pool's init and, with a stored token, the answered
// user-info request (its reply without rate-limit headers, so the pool keeps its base period).
class StartedHost
{
public:
    explicit StartedHost(bool authorized)
    {
        if (authorized) {
            m_token = sharedEmulator().issueToken("alice");
            sharedEmulator().addFault(Emulator::Fault::missingRateLimitHeaders().onPath("/api/2/account/verify.json").times(1));
        }
        m_host = std::make_unique<TestHost>(QStringLiteral("trader"), QByteArray::fromStdString(m_token));
        QCoreApplication::processEvents();
        m_started = !authorized
            || QTest::qWaitFor([this] { return !m_host->authorization()->userInfo().info.username.isEmpty(); });
        sharedEmulator().clearRequests();
    }

    bool isStarted() const { return m_started; }
    std::string token() const { return m_token; }
    TestHost& host() const { return *m_host; }
    Ventari::VentariActionHandler* handler() const { return m_host->handler(); }
    Ventari::RequestPool* pool() const { return m_host->handler()->requestPool(); }
    Ventari::Authorization* authorization() const { return m_host->authorization(); }
    // One tick of the pool's send timer.
    void tick() const { QMetaObject::invokeMethod(pool(), "runNextRequest"); }
    // Hands a new probe to the handler; false when it could not be watched.
    bool execute(Outcome& outcome, const QString& name, int priority, const QString& path = QStringLiteral("streams/trending.json"),
                 int mode = VentariAbstractAction::NeverSendToken) const
    {
        auto* action = new ProbeAction(priority, path, mode);
        const bool watched = outcome.watch(action, name);
        handler()->executeAction(action);
        return watched;
    }

private:
    std::string m_token;
    std::unique_ptr<TestHost> m_host;
    bool m_started = false;
};

// The level-3 records of a recording, whatever their category.
inline QStringList errorRecords(const Corvane::RecordingSink& recorder)
{
    QStringList texts;
    for (const Corvane::LogRecord& record : recorder.records()) {
        if (record.level >= 3)
            texts.append(record.message);
    }
    return texts;
}

inline QStringList poolRecords(const Corvane::RecordingSink& recorder)
{
    return recorder.messages(QStringLiteral("Ventari.RequestPool"));
}

} // namespace ProtocolTest
