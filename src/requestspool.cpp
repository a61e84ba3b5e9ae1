#include "requestspool.h"

#include "actions/ventariabstractaction.h"
#include "common/reports.h"
#include "iauthorization.h"
#include "ventarilogging.h"
#include "ventariservices.h"

#include <dravon/timezone.h>
#include <kelvar/notifications.h>
#include <kelvar/pooltimer.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QLocale>
#include <QtNetwork/QNetworkAccessManager>

#include <cmath>

namespace Ventari {
namespace {

const int marginSeconds = 2;
const int floorSeconds = 5;
const qint64 plausibleSeconds = 3600;
const int authorizedInterval = 10000;
const int anonymousInterval = 20000;
const int fallbackInterval = 20000;

} // namespace

#define POOL_LOG(level) VR_LOG(Log::requestPool(), level)

RequestPool::RequestPool()
    : m_networkManager(new QNetworkAccessManager)
    , m_timer(Kelvar::PoolTimer::createStoppedTimer(anonymousInterval, this, SLOT(runNextRequest())))
{
    // The authorization state does not exist yet: the facade creates it after the pool.
    QMetaObject::invokeMethod(this, "init", Qt::QueuedConnection);
}

RequestPool::~RequestPool()
{
    delete m_networkManager;
}

int RequestPool::addRequest(VentariAbstractAction* action)
{
    PooledRequest request;
    request.action = action;
    request.id = m_nextId++;
    addRequest(request);
    return request.id;
}

bool RequestPool::isTimerActive() const
{
    return m_timer->isActive();
}

RequestBudget RequestPool::budget() const
{
    RequestBudget budget = m_budget;
    budget.period = m_interval;
    return budget;
}

void RequestPool::init()
{
    setTimerInterval(baseInterval());
    if (IAuthorization* authorization = authorizationState())
        authorization->subscribe("authorizationChanged", this, "updateTimerBasedOnAuthorization");
}

void RequestPool::updateTimerBasedOnAuthorization()
{
    setTimerInterval(baseInterval());
}

int RequestPool::baseInterval() const
{
    IAuthorization* authorization = authorizationState();
    return authorization && authorization->isAuthorized() ? authorizedInterval : anonymousInterval;
}

void RequestPool::setTimerInterval(int ms)
{
    if (ms == m_interval)
        return;
    m_interval = ms;
    m_timer->setInterval(ms);
    POOL_LOG(2) << "New Update Interval:" << ms / 1000 << " sec";
    emit budgetChanged();
}

void RequestPool::addRequest(const PooledRequest& request)
{
    const int priority = request.action->priority();
    POOL_LOG(2) << "New request " << request.id << ". Priority:" << priority
                << ". Type:" << request.action->metaObject()->className();
    if (priority == 0 || (priority == 1 && !m_outOfRequests)) {
        runRequest(request);
        return;
    }
    m_queues[priority].append(request);
    POOL_LOG(2) << "Request " << request.id << " put to queue";
    if (!m_timer->isActive())
        m_timer->start(m_interval);
}

void RequestPool::runNextRequest()
{
    if (m_outOfRequests)
        setTimerInterval(baseInterval());
    m_outOfRequests = false;

    // Everything held back during an out-of-requests period goes out together.
    const QList<PooledRequest> held = m_queues.take(1);
    for (const PooledRequest& request : held)
        runRequest(request);

    PooledRequest next;
    if (takeNextRequest(&next))
        runRequest(next);
    // The timer runs only while something is queued, also after the tick that sent the last one.
    if (m_queues.value(0).isEmpty() && m_queues.value(1).isEmpty() && m_queues.value(2).isEmpty())
        m_timer->stop();
}

// The oldest request of the most urgent served queue; cancelled ones are dropped on the way.
bool RequestPool::takeNextRequest(PooledRequest* next)
{
    for (int priority = 0; priority <= 2; ++priority) {
        QList<PooledRequest>& queue = m_queues[priority];
        while (!queue.isEmpty()) {
            *next = queue.takeFirst();
            if (!next->action->isCancelled())
                return true;
            next->action->deleteLater();
        }
    }
    return false;
}

void RequestPool::runRequest(const PooledRequest& request)
{
    VentariAbstractAction* action = request.action;
    IAuthorization* authorization = authorizationState();
    action->setAccessToken(authorization ? authorization->token() : QByteArray());
    const QNetworkRequest networkRequest = action->createRequest();
    POOL_LOG(2) << "Request " << request.id << " ran. Url:" << networkRequest.url().toString();

    QNetworkReply* reply = action->method() == VentariAbstractAction::Get
        ? m_networkManager->get(networkRequest)
        : m_networkManager->post(networkRequest, action->postData());
    reply->setProperty("id", request.id);
    VR_ASSERT(connect(reply, SIGNAL(finished()), this, SLOT(onResponseFinished())));
    VR_ASSERT(connect(reply, SIGNAL(error(QNetworkReply::NetworkError)), this, SLOT(onResponseError(QNetworkReply::NetworkError))));
    m_sentRequests.append(request);
}

PooledRequest RequestPool::findSentRequest(int id)
{
    for (const PooledRequest& request : qAsConst(m_sentRequests)) {
        if (request.id == id)
            return request;
    }
    VR_ASSERT(!"request not found");
    return PooledRequest();
}

// The reply is the sender; it is detached from the pool and freed later.
PooledRequest RequestPool::takeAnsweredRequest(QNetworkReply* reply)
{
    const PooledRequest request = findSentRequest(reply->property("id").toInt());
    reply->disconnect();
    reply->deleteLater();
    return request;
}

void RequestPool::onResponseFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    const int id = reply->property("id").toInt();
    const PooledRequest request = takeAnsweredRequest(reply);
    POOL_LOG(2) << "Request " << id << ". Response received.";
    if (!request.action)
        return; // reported by findSentRequest; nobody to deliver to

    noteBudget(reply);
    if (hasRateLimitHeaders(reply)) {
        const int remaining = remainRequests(reply);
        POOL_LOG(2) << "Remaining requests count " << remaining;
        if (remaining != 0)
            setTimerInterval(nextInterval(reply));
    }
    const QByteArray body = reply->readAll();
    emit replyDone(id, body);
    POOL_LOG(1) << "Request " << id << ". Response:" << body;
    m_sentRequests.removeOne(request);
}

void RequestPool::onResponseError(QNetworkReply::NetworkError code)
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    const int id = reply->property("id").toInt();
    const PooledRequest request = takeAnsweredRequest(reply);
    m_sentRequests.removeOne(request);
    POOL_LOG(2) << "Request " << id << "Error Response";
    if (!request.action)
        return;

    IAuthorization* authorization = authorizationState();
    const bool authorized = authorization && authorization->isAuthorized();
    noteBudget(reply);
    if (hasRateLimitHeaders(reply)) {
        setTimerInterval(nextInterval(reply));
        const int remaining = remainRequests(reply);
        POOL_LOG(2) << "Remaining requests count " << remaining;
        if (remaining == 0) {
            const bool sentWithToken = !request.action->accessToken().isEmpty();
            if (request.action->authorizationMode() != VentariAbstractAction::NeverSendToken
                && sentWithToken != authorized) {
                POOL_LOG(2) << "Received an 'old' action which outdated auth state. Restart it.";
            } else if (!m_outOfRequests) {
                showOutOfRequestsNotification(resetRequestsTime(reply));
                setTimerInterval(1000 * int(qMax<qint64>(remainSeconds(reply), 1)));
                m_outOfRequests = true;
            }
            addRequest(request);
            return;
        }
    }

    if (code == QNetworkReply::AuthenticationRequiredError) {
        POOL_LOG(2) << "AuthenticationRequiredError";
        if (authorized) {
            authorization->resetToken();
            if (request.action->authorizationMode() != VentariAbstractAction::RequiresUser) {
                addRequest(request); // goes out again without a token
                return;
            }
        }
    }
    emit replyError(id, code, reply->errorString());
}

void RequestPool::showOutOfRequestsNotification(const QDateTime& reset)
{
    const Dravon::Timezone zone(Kelvar::Preferences::instance()->localTimeZoneId());
    // The wall-clock digits of the user's zone, as the user reads a clock.
    const QDateTime local = zone.gmtToLocal(Common::DateTime::fromQDateTime(reset.toUTC())).toQDateTime(Qt::LocalTime);
    const QString text = QCoreApplication::translate("Ventari::RequestPool", "Requests limit exceeded. Please wait until %1.")
                             .arg(local.toString(QStringLiteral("hh:mm AP")));
    POOL_LOG(2) << text;
    if (auto* notifications = Kelvar::ServiceLocator::instance()->service<Kelvar::INotifications>()) {
        notifications->notificationManager()->addEvent(new Kelvar::SimpleNotificationInfo(
            QCoreApplication::translate("Ventari::RequestPool", "Ventari"), text, 0));
    }
    emit outOfRequests(local);
}

// Read apart from the pacing headers' readers, so that the report adds no log records of its own.
void RequestPool::noteBudget(const QNetworkReply* reply)
{
    if (!hasRateLimitHeaders(reply))
        return;
    bool ok = false;
    const int remaining = reply->rawHeader("X-RateLimit-Remaining").toInt(&ok, 10);
    m_budget.remaining = ok ? remaining : -1;
    const int limit = reply->rawHeader("X-RateLimit-Limit").toInt(&ok, 10);
    m_budget.limit = ok ? limit : -1;
    const uint reset = reply->rawHeader("X-RateLimit-Reset").toUInt(&ok, 10);
    m_budget.resetTime = ok ? QDateTime::fromSecsSinceEpoch(reset, Qt::UTC) : QDateTime();
    emit budgetChanged();
}

bool RequestPool::hasRateLimitHeaders(const QNetworkReply* reply) const
{
    return reply->hasRawHeader("Date") && reply->hasRawHeader("X-RateLimit-Reset")
        && reply->hasRawHeader("X-RateLimit-Remaining");
}

int RequestPool::remainRequests(const QNetworkReply* reply) const
{
    bool ok = false;
    const int remaining = reply->rawHeader("X-RateLimit-Remaining").toInt(&ok, 10);
    if (!ok) {
        POOL_LOG(3) << "Wrong Network reply header. Can not make X-RateLimit-Remaining";
        return -1;
    }
    return remaining;
}

QDateTime RequestPool::serverTime(const QNetworkReply* reply) const
{
    static const QLocale english(QLocale::English, QLocale::UnitedStates);
    const QString text = QString::fromUtf8(reply->rawHeader("Date"));
    const QDateTime time = english.toDateTime(text, QStringLiteral("ddd, dd MMM yyyy HH:mm:ss 'GMT'"));
    if (time.isNull())
        POOL_LOG(3) << "Unknown format of server date:" << text;
    return time;
}

QDateTime RequestPool::resetRequestsTime(const QNetworkReply* reply) const
{
    bool ok = false;
    const uint seconds = reply->rawHeader("X-RateLimit-Reset").toUInt(&ok, 10);
    if (!ok)
        POOL_LOG(3) << "Wrong Network reply header. Can not make X-RateLimit-Reset";
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::UTC);
}

qint64 RequestPool::remainSeconds(const QNetworkReply* reply) const
{
    QDateTime server = serverTime(reply);
    if (server.isNull())
        return 0;
    server.setTimeSpec(Qt::UTC); // the digits are GMT
    const QDateTime reset = resetRequestsTime(reply);
    const qint64 secs = server.secsTo(reset);
    if (secs < 0 || secs > plausibleSeconds) {
        POOL_LOG(3) << "Wrong remain seconds to reset request counter:" << " server time is "
                    << server.toString(Qt::ISODate) << ", reseting time is " << reset.toString(Qt::ISODate)
                    << ", remain seconds is " << secs;
    }
    return qMax<qint64>(secs, 0);
}

int RequestPool::nextInterval(const QNetworkReply* reply) const
{
    const qint64 secs = remainSeconds(reply);
    const int remaining = remainRequests(reply);
    if (remaining < 0)
        return fallbackInterval;
    if (remaining == 0)
        return 1000 * int(qMax<qint64>(secs + marginSeconds, floorSeconds));
    const qint64 perRequest = qint64(std::ceil(double(secs) / remaining));
    return 1000 * int(qMax<qint64>(perRequest + marginSeconds, floorSeconds));
}

} // namespace Ventari
