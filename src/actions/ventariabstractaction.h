#pragma once

#include "ventariglobal.h"
#include "ventaridecoders.h"
#include "ventaritypes.h"

#include <QtCore/QObject>
#include <QtCore/QUrl>
#include <QtCore/QVariantMap>
#include <QtNetwork/QNetworkRequest>

namespace Ventari {

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
};

} // namespace Ventari
