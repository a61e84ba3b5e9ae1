#pragma once

#include "testhost.h"

#include "actions/ventariabstractaction.h"
#include "authorization/authorization.h"
#include "requestspool.h"
#include "ventariactionhandler.h"
#include "ventaritypes.h"

#include <QtCore/QObject>
#include <QtCore/QStringList>
#include <QtNetwork/QNetworkAccessManager>
#include <QtNetwork/QNetworkReply>
#include <QtTest/QSignalSpy>

#include <memory>
#include <string>

namespace ProtocolTest {

// Slots are spelled as the actions' signals spell their types, so that string connects match.
using Ventari::ResponseError;
using Ventari::UserInfo;
using Ventari::WatchLists;

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

// The requests the emulator received for one path of its API.
inline std::vector<Emulator::RecordedRequest> requestsTo(const QString& path)
{
    std::vector<Emulator::RecordedRequest> found;
    const std::string wanted = "/api/2/" + path.toStdString();
    for (const Emulator::RecordedRequest& request : sharedEmulator().requests()) {
        if (request.path == wanted)
            found.push_back(request);
    }
    return found;
}

// An action of any mode, method and priority aimed at one path of the emulator's API; keeps the
// reply map it was given.
class ProbeAction : public Ventari::VentariAbstractAction
{
    Q_OBJECT

public:
    ProbeAction(int mode, int method, int priority, const QString& path = QStringLiteral("streams/trending.json"))
        : VentariAbstractAction(mode, method, priority)
        , m_address(apiUrl(path))
    {
    }
    // For addresses outside the emulator's API.
    static ProbeAction* at(const QUrl& address, int mode = NeverSendToken, int priority = 0)
    {
        auto* action = new ProbeAction(mode, Get, priority);
        action->m_address = address;
        return action;
    }

    QUrl url() override { return m_address; }
    bool processData(const QVariantMap& reply) override
    {
        m_reply = reply; // kept before the base emits, so that receivers of success() see it
        return VentariAbstractAction::processData(reply);
    }

    QVariantMap m_reply;

private:
    QUrl m_address;
};

// Records, in order, what the actions it watches emit: "name:success", "name:error",
// "name:done" and so on, with the last values carried.
class Outcome : public QObject
{
    Q_OBJECT

public:
    // Whether every connection was made.
    bool watch(Ventari::VentariAbstractAction* action, const QString& name = QStringLiteral("a"))
    {
        action->setObjectName(name);
        bool ok = connect(action, SIGNAL(success()), this, SLOT(onSuccess()))
            && connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&)));
        const QMetaObject* meta = action->metaObject();
        if (meta->indexOfSignal("done(Ventari::Message)") >= 0)
            ok = ok && connect(action, SIGNAL(done(Ventari::Message)), this, SLOT(onDone(Ventari::Message)));
        if (meta->indexOfSignal("watchListsReceived(WatchLists)") >= 0)
            ok = ok && connect(action, SIGNAL(watchListsReceived(const WatchLists&)), this, SLOT(onWatchLists(const WatchLists&)));
        if (meta->indexOfSignal("userInfoReceived(UserInfo)") >= 0)
            ok = ok && connect(action, SIGNAL(userInfoReceived(const UserInfo&)), this, SLOT(onUserInfo(const UserInfo&)));
        return ok;
    }

    // Waits until n events in all were recorded.
    bool waitForEvents(int n, int timeoutMs = 5000)
    {
        return QTest::qWaitFor([&] { return events.size() >= n; }, timeoutMs);
    }

    QStringList events;
    ResponseError error;
    Ventari::Message message;
    WatchLists lists;
    UserInfo user;

public slots:
    void onSuccess() { record(QStringLiteral("success")); }
    void onError(const ResponseError& e)
    {
        error = e;
        record(QStringLiteral("error"));
    }
    void onDone(Ventari::Message m)
    {
        message = m;
        record(QStringLiteral("done"));
    }
    void onWatchLists(const WatchLists& l)
    {
        lists = l;
        record(QStringLiteral("watchListsReceived"));
    }
    void onUserInfo(const UserInfo& u)
    {
        user = u;
        record(QStringLiteral("userInfoReceived"));
    }

private:
    void record(const QString& what) { events.append(sender()->objectName() + QLatin1Char(':') + what); }
};

// A host whose queued start-up has run: the pool's init and, with a stored token, the answered
// user-info request, whose reply carries no rate-limit headers so that the pool keeps its base
// period. The emulator's log is cleared afterwards.
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
        if (authorized)
            m_started = TestHost::waitFor([this] { return !m_host->authorization()->userInfo().info.username.isEmpty(); });
        else
            m_started = true;
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

private:
    std::string m_token;
    std::unique_ptr<TestHost> m_host;
    bool m_started = false;
};

// The error string Qt gives for a plain request to the same address, to compare with the one
// an action reports.
inline QString qtErrorString(const QUrl& address, bool post)
{
    QNetworkAccessManager manager;
    QNetworkReply* reply = post ? manager.post(QNetworkRequest(address), QByteArray()) : manager.get(QNetworkRequest(address));
    QSignalSpy finished(reply, SIGNAL(finished()));
    finished.wait(5000);
    const QString error = reply->errorString();
    delete reply;
    return error;
}

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
