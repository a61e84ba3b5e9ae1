#pragma once

#include "ventariglobal.h"
#include "ventaridecoders.h"
#include "ventaritypes.h"

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QUrl>
#include <QtCore/QVariantMap>
#include <QtNetwork/QNetworkRequest>

namespace Ventari {

// How a periodic request takes its turn among those of other owners: the pool serves owners in
// turn, the more often the higher their weight, and one newly on screen first; a retry waits
// longer the more attempts failed before it.
struct RefreshTurn
{
    QPointer<QObject> owner; // null: a turn of its own
    qreal weight = 1;
    bool onScreen = false;
    int retry = 0; // failed attempts before this one
};

// One conversation with the service: builds its request, reads the answer, reports the outcome
// through its signals and then deletes itself.
class VENTARI_EXPORT VentariAbstractAction : public QObject
{
    Q_OBJECT

public:
    enum AuthorizationMode { NeverSendToken = 0, SendTokenIfAny = 1, RequiresUser = 2 };
    enum Method { Post = 0, Get = 1 };

    VentariAbstractAction(int authorizationMode, int method, int priority);

    virtual QNetworkRequest createRequest();
    virtual QByteArray postData();
    virtual bool processData(const QVariantMap& reply);
    virtual QUrl url() = 0;

    int authorizationMode() const { return m_authorizationMode; }
    int priority() const { return m_priority; }
    int method() const { return m_method; }

    void setAccessToken(const QByteArray& token) { m_accessToken = token; }
    QByteArray accessToken() const { return m_accessToken; }

    void cancel() { m_cancelled = true; }
    bool isCancelled() const { return m_cancelled; }

    // Read by the pool whenever it picks a queued periodic request, so an owner may change it.
    void setRefreshTurn(const RefreshTurn& turn) { m_turn = turn; }
    const RefreshTurn& refreshTurn() const { return m_turn; }

    // The handler's entries: a reply body, or a failure of the request.
    void processReply(const QByteArray& body);
    void reportError(const ResponseError& error);

signals:
    void success();
    void error(ResponseError error);

protected:
    // Runs the decoding of the action's own part of a reply; a broken part is reported as an
    // undecodable reply (status -2).
    template <typename Decode>
    bool decodeResult(Decode decode)
    {
        try {
            decode();
            return true;
        } catch (const FormatException& e) {
            reportFormatError(e.message);
            return false;
        }
    }
    void reportFormatError(const QString& message);

private:
    int m_authorizationMode;
    int m_priority;
    int m_method;
    QByteArray m_accessToken;
    bool m_cancelled = false;
    RefreshTurn m_turn;
};

} // namespace Ventari
