#pragma once

#include "refreshround.h"
#include "ventariglobal.h"

#include <QtCore/QDateTime>
#include <QtCore/QElapsedTimer>
#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtNetwork/QNetworkReply>

class QNetworkAccessManager;

namespace Kelvar {
class PoolTimer;
}

namespace Ventari {

class VentariAbstractAction;

// The service's request budget as last reported, and the send period in force: what a host shows
// in its status bar.
struct RequestBudget
{
    int remaining = -1;   // "X-RateLimit-Remaining"; -1 until a reply reports it
    int limit = -1;       // "X-RateLimit-Limit"; -1 when the service does not report it
    QDateTime resetTime;  // "X-RateLimit-Reset" in UTC; null until reported
    int period = 20000;   // milliseconds between queued requests
    int refreshers = 0;   // owners whose periodic requests take turns
};

// Sends every request of the plugin, paced so that the service's request-rate limit holds.
class VENTARI_EXPORT RequestPool : public QObject
{
    Q_OBJECT

public:
    RequestPool();
    ~RequestPool() override;

    int addRequest(VentariAbstractAction* action);
    bool isOutOfRequests() const { return m_outOfRequests; }
    int timerInterval() const { return m_interval; }
    bool isTimerActive() const;
    RequestBudget budget() const;
    // Requests waiting for a tick (cancelled ones among them until a tick drops them), and those
    // sent and not yet answered: together, whether the pool has gone quiet.
    int queuedRequestCount() const;
    int sentRequestCount() const { return m_sentRequests.size(); }
    // A request that has moved no data for this long fails, so a silent service cannot hold an
    // action, and the connections behind it, for ever. One minute unless a host says otherwise.
    void setTransferTimeout(int ms);
    // A periodic request that failed for an outage waits before its retry: the first delay, doubled
    // with each further failure up to the longest, give or take a fifth so that retries spread out.
    // 5 s and 2 minutes unless a host says otherwise.
    void setRetryDelays(int firstMs, int longestMs);

signals:
    void replyDone(int id, QByteArray body);
    void replyError(int id, QNetworkReply::NetworkError code, QString err);
    void outOfRequests(QDateTime timeOfReset);
    // After every reply that carries the rate-limit headers, and whenever the send period changes.
    void budgetChanged();

private slots:
    void updateTimerBasedOnAuthorization();
    void init();
    void onResponseFinished();
    void onResponseError(QNetworkReply::NetworkError code);
    void runNextRequest();

private:
    void addRequest(const PooledRequest& request);
    void runRequest(const PooledRequest& request);
    bool takeNextRequest(int priority, PooledRequest* next);
    PooledRequest findSentRequest(int id, bool* found = nullptr);
    bool takeAnsweredRequest(QNetworkReply* reply, PooledRequest* request);
    void setTimerInterval(int ms);
    int baseInterval() const;
    int reserve() const;
    qint64 retryDelay(int retry) const;
    void wakeRetries();
    void showOutOfRequestsNotification(const QDateTime& reset);
    void noteBudget(const QNetworkReply* reply);

    bool hasRateLimitHeaders(const QNetworkReply* reply) const;
    int remainRequests(const QNetworkReply* reply) const;
    QDateTime serverTime(const QNetworkReply* reply) const;
    QDateTime resetRequestsTime(const QNetworkReply* reply) const;
    qint64 remainSeconds(const QNetworkReply* reply) const;
    int nextInterval(const QNetworkReply* reply) const;

    QMap<int, QList<PooledRequest>> m_queues;
    QList<PooledRequest> m_sentRequests;
    QNetworkAccessManager* m_networkManager;
    Kelvar::PoolTimer* m_timer;
    int m_nextId = 0;
    int m_interval = 20000;
    bool m_outOfRequests = false;
    RequestBudget m_budget;
    int m_largestRemaining = -1; // stands in for the limit when the service does not tell it
    RefreshRound m_round;
    QElapsedTimer m_clock;
    int m_firstRetryDelay;
    int m_longestRetryDelay;
    bool m_unreachable = false; // the last failure found no service at all
};

} // namespace Ventari
