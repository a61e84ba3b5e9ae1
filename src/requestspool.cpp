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
#include <QtCore/QRandomGenerator>
#include <QtCore/QRegularExpression>
#include <QtCore/QSet>
#include <QtNetwork/QNetworkAccessManager>

namespace Ventari {
namespace {

const int marginSeconds = 2;
const qint64 plausibleSeconds = 3600;
const int authorizedInterval = 10000;
const int anonymousInterval = 20000;
const int fallbackInterval = 20000;
const int defaultTransferTimeout = 60000;
const int defaultFirstRetryDelay = 5000;
const int defaultLongestRetryDelay = 120000;
// Two periodic requests a second at most, however much budget is left.
const int shortestInterval = 500;
// Kept for the user's own actions: a tenth of the window's budget, never fewer than this.
const int smallestReserve = 5;
// The longest period worth waiting: the longest plausible reset, an hour, and the margin.
const qint64 longestPeriodSeconds = plausibleSeconds + marginSeconds;

// Milliseconds, computed in 64 bits so that a reset far ahead can neither wrap nor turn negative.
int periodOf(qint64 seconds, qint64 floor)
{
    return int(1000 * qBound<qint64>(floor, seconds, longestPeriodSeconds));
}

// Qt's text form of a UTC time, with English names whatever the system locale.
QString textOf(const QDateTime& time)
{
    return QLocale::c().toString(time.toUTC(), QStringLiteral("ddd MMM d HH:mm:ss yyyy 'GMT'"));
}

// Qt's error texts name the request's address, token and all, and they reach the user's screen.
QString withoutAccessToken(QString text)
{
    static const QRegularExpression token(QStringLiteral("(access_token=)[^&#\\s]+"));
    return text.replace(token, QStringLiteral("\\1***"));
}

} // namespace

#define POOL_LOG(level) VR_LOG(Log::requestPool(), level)

RequestPool::RequestPool()
    : m_networkManager(new QNetworkAccessManager)
    , m_timer(Kelvar::PoolTimer::createStoppedTimer(anonymousInterval, this, SLOT(runNextRequest())))
    , m_firstRetryDelay(defaultFirstRetryDelay)
    , m_longestRetryDelay(defaultLongestRetryDelay)
{
    m_clock.start();
    setTransferTimeout(defaultTransferTimeout);
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
    if (const int retry = action->refreshTurn().retry)
        request.notBefore = m_clock.elapsed() + retryDelay(retry);
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
    QSet<const QObject*> owners;
    for (const PooledRequest& request : m_sentRequests + m_queues.value(2)) {
        if (request.action && request.action->priority() == 2) {
            const QObject* owner = request.action->refreshTurn().owner;
            owners.insert(owner ? owner : request.action.data());
        }
    }
    budget.refreshers = owners.size();
    return budget;
}

int RequestPool::queuedRequestCount() const
{
    int count = 0;
    for (const QList<PooledRequest>& queue : m_queues)
        count += queue.size();
    return count;
}

void RequestPool::setTransferTimeout(int ms)
{
    m_networkManager->setTransferTimeout(ms);
}

void RequestPool::setRetryDelays(int firstMs, int longestMs)
{
    m_firstRetryDelay = qMax(0, firstMs);
    m_longestRetryDelay = qMax(m_firstRetryDelay, longestMs);
}

qint64 RequestPool::retryDelay(int retry) const
{
    qint64 delay = m_firstRetryDelay;
    for (int i = 1; i < retry && delay < m_longestRetryDelay; ++i)
        delay *= 2;
    delay = qMin<qint64>(delay, m_longestRetryDelay);
    return delay * QRandomGenerator::global()->bounded(80, 121) / 100;
}

// The service answers again: whatever waits for a retry after the outage may go at once.
void RequestPool::wakeRetries()
{
    for (QList<PooledRequest>& queue : m_queues) {
        for (PooledRequest& request : queue)
            request.notBefore = 0;
    }
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
    // Urgent requests too are held during an out-of-requests period: sent, they would only be refused.
    if ((priority == 0 || priority == 1) && !m_outOfRequests) {
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

    // Everything held back during an out-of-requests period goes out together, the urgent first;
    // a held like or follow goes out even when its owner has gone meanwhile, as it would have at once.
    const QList<PooledRequest> held = m_queues.take(0) + m_queues.take(1);
    for (const PooledRequest& request : held) {
        if (VR_ASSERT(request.action != NULL))
            runRequest(request);
    }

    // Then one periodic request per tick, in turn.
    PooledRequest next;
    if (takeNextRequest(2, &next))
        runRequest(next);
    // The timer runs only while something is queued, also after the tick that sent the last one.
    if (m_queues.value(0).isEmpty() && m_queues.value(1).isEmpty() && m_queues.value(2).isEmpty())
        m_timer->stop();
}

// The request whose turn it is; cancelled ones, and those whose action its owner destroyed
// meanwhile, are dropped first. Turns go round the owners rather than by age.
bool RequestPool::takeNextRequest(int priority, PooledRequest* next)
{
    QList<PooledRequest>& queue = m_queues[priority];
    for (auto it = queue.begin(); it != queue.end();) {
        const PooledRequest& request = *it;
        if (VR_ASSERT(request.action != NULL) && !request.action->isCancelled()) {
            ++it;
            continue;
        }
        if (request.action)
            request.action->deleteLater();
        it = queue.erase(it);
    }
    const int turn = m_round.next(queue, m_clock.elapsed());
    if (turn == -1)
        return false;
    *next = queue.takeAt(turn);
    return true;
}

void RequestPool::runRequest(const PooledRequest& request)
{
    VentariAbstractAction* action = request.action;
    IAuthorization* authorization = authorizationState();
    action->setAccessToken(authorization ? authorization->token() : QByteArray());
    QNetworkRequest networkRequest = action->createRequest();
    // HTTP/1.1 as under Qt 5, where Qt 6 would offer HTTP/2: the same connections, headers and errors.
    networkRequest.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    POOL_LOG(2) << "Request " << request.id << " ran. Url:" << networkRequest.url().toString();

    QNetworkReply* reply = action->method() == VentariAbstractAction::Get
        ? m_networkManager->get(networkRequest)
        : m_networkManager->post(networkRequest, action->postData());
    reply->setProperty("id", request.id);
    VR_ASSERT(connect(reply, SIGNAL(finished()), this, SLOT(onResponseFinished())));
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    // Qt 6 has only the new name of the signal.
    VR_ASSERT(connect(reply, SIGNAL(errorOccurred(QNetworkReply::NetworkError)), this, SLOT(onResponseError(QNetworkReply::NetworkError))));
#else
    VR_ASSERT(connect(reply, SIGNAL(error(QNetworkReply::NetworkError)), this, SLOT(onResponseError(QNetworkReply::NetworkError))));
#endif
    m_sentRequests.append(request);
}

PooledRequest RequestPool::findSentRequest(int id, bool* found)
{
    for (const PooledRequest& request : qAsConst(m_sentRequests)) {
        if (request.id == id) {
            if (found)
                *found = true;
            return request;
        }
    }
    VR_ASSERT(!"request not found");
    if (found)
        *found = false;
    return PooledRequest();
}

// The reply is the sender; it is detached from the pool and freed later. False for a reply the pool
// did not send (reported by findSentRequest): nobody waits for it.
bool RequestPool::takeAnsweredRequest(QNetworkReply* reply, PooledRequest* request)
{
    bool found = false;
    *request = findSentRequest(reply->property("id").toInt(), &found);
    reply->disconnect();
    reply->deleteLater();
    return found;
}

void RequestPool::onResponseFinished()
{
    auto* reply = qobject_cast<QNetworkReply*>(sender());
    if (!reply)
        return;
    const int id = reply->property("id").toInt();
    PooledRequest request;
    const bool sent = takeAnsweredRequest(reply, &request);
    POOL_LOG(2) << "Request " << id << ". Response received.";
    if (!sent)
        return;
    if (m_unreachable) {
        m_unreachable = false;
        wakeRetries();
    }

    noteBudget(reply);
    if (hasRateLimitHeaders(reply)) {
        const int remaining = remainRequests(reply);
        POOL_LOG(2) << "Remaining requests count " << remaining;
        // None left: periodic requests wait for the reset, instead of going on to be refused.
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
    PooledRequest request;
    const bool sent = takeAnsweredRequest(reply, &request);
    POOL_LOG(2) << "Request " << id << "Error Response";
    if (!sent)
        return;
    m_sentRequests.removeOne(request);
    // A connection or proxy failure, rather than an answer of the service: it could not be reached.
    m_unreachable = code < QNetworkReply::ContentAccessDenied;

    IAuthorization* authorization = authorizationState();
    const bool authorized = authorization && authorization->isAuthorized();
    noteBudget(reply);
    if (hasRateLimitHeaders(reply)) {
        setTimerInterval(nextInterval(reply));
        const int remaining = remainRequests(reply);
        POOL_LOG(2) << "Remaining requests count " << remaining;
        if (remaining == 0) {
            if (!VR_ASSERT(request.action != NULL))
                return;
            const bool sentWithToken = !request.action->accessToken().isEmpty();
            if (request.action->authorizationMode() != VentariAbstractAction::NeverSendToken
                && sentWithToken != authorized) {
                POOL_LOG(2) << "Received an 'old' action which outdated auth state. Restart it.";
                addRequest(request);
                return;
            }
            if (!m_outOfRequests) {
                showOutOfRequestsNotification(resetRequestsTime(reply));
                setTimerInterval(periodOf(remainSeconds(reply), 1));
                m_outOfRequests = true;
            }
            addRequest(request);
            return;
        }
    }

    if (code == QNetworkReply::AuthenticationRequiredError) {
        POOL_LOG(2) << "AuthenticationRequiredError";
        if (!VR_ASSERT(request.action != NULL))
            return;
        // Only the token in use is refused here: a request sent before the user signed in, or
        // with an earlier token, says nothing about it. Another reply may have reset it first.
        const QByteArray sentToken = request.action->accessToken();
        if (authorized && !sentToken.isEmpty() && sentToken == authorization->token())
            authorization->resetToken();
        if ((authorized || !sentToken.isEmpty())
            && request.action->authorizationMode() != VentariAbstractAction::RequiresUser) {
            addRequest(request); // goes out again with the token now in use, if any
            return;
        }
    }
    emit replyError(id, code, withoutAccessToken(reply->errorString()));
}

void RequestPool::showOutOfRequestsNotification(const QDateTime& reset)
{
    const Dravon::Timezone zone(Kelvar::Preferences::instance()->localTimeZoneId());
    const QDateTime utc = reset.toUTC();
    // The wall-clock digits of the user's zone, as the user reads a clock; they carry their offset from
    // UTC, since the machine's own zone may have no such hour.
    const QDateTime digits = zone.gmtToLocal(Common::DateTime::fromQDateTime(utc)).toQDateTime(Qt::UTC);
    const QDateTime local(digits.date(), digits.time(), Qt::OffsetFromUTC, int(utc.secsTo(digits)));
    // Deliberately not the fixed "hh:mm AP": the user's own short time, as the host shows its times.
    const QString text = QCoreApplication::translate("Ventari::RequestPool", "Requests limit exceeded. Please wait until %1.")
                             .arg(QLocale().toString(local.time(), QLocale::ShortFormat));
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
    m_largestRemaining = qMax(m_largestRemaining, m_budget.remaining);
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
    // "ddd, dd MMM yyyy HH:mm:ss 'GMT'", read in parts: read whole, the digits would be taken as the
    // machine's local time, which lacks an hour each spring.
    const int zone = text.lastIndexOf(QLatin1Char(' '));
    const int clock = zone > 0 ? text.lastIndexOf(QLatin1Char(' '), zone - 1) : -1;
    QDateTime time;
    if (clock > 0 && QStringView(text).mid(zone + 1) == QLatin1String("GMT")) {
        const QDate day = english.toDate(text.left(clock), QStringLiteral("ddd, dd MMM yyyy"));
        const QTime hour = english.toTime(text.mid(clock + 1, zone - clock - 1), QStringLiteral("HH:mm:ss"));
        if (day.isValid() && hour.isValid())
            time = QDateTime(day, hour, Qt::UTC);
    }
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
    const QDateTime server = serverTime(reply);
    if (server.isNull())
        return 0;
    const QDateTime reset = resetRequestsTime(reply);
    const qint64 secs = server.secsTo(reset);
    if (secs < 0 || secs > plausibleSeconds) {
        POOL_LOG(3) << "Wrong remain seconds to reset request counter:" << "server time is" << textOf(server)
                    << "reseting time is" << textOf(reset) << "remain seconds is" << secs;
    }
    return qMax<qint64>(secs, 0);
}

// Periodic requests spend what remains until the reset, less the reserve, spread evenly; with
// nothing to spare they wait for the reset. This replaces one request per remaining count with a
// margin and a 5-second floor, which left most of the budget unused.
int RequestPool::nextInterval(const QNetworkReply* reply) const
{
    const qint64 secs = remainSeconds(reply);
    const int remaining = remainRequests(reply);
    if (remaining < 0)
        return fallbackInterval;
    const int spare = remaining - reserve();
    if (spare <= 0)
        return periodOf(secs + marginSeconds, 1);
    return int(qBound<qint64>(shortestInterval, (1000 * secs + spare - 1) / spare, 1000 * longestPeriodSeconds));
}

int RequestPool::reserve() const
{
    const int limit = m_budget.limit > 0 ? m_budget.limit : m_largestRemaining + 1;
    return qMax(smallestReserve, (limit + 9) / 10);
}

} // namespace Ventari
