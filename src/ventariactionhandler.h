#pragma once

#include "ventariglobal.h"

#include <QtCore/QDateTime>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtNetwork/QNetworkReply>

namespace Common {
struct SourceLocation;
}

namespace Ventari {

class RequestPool;
class VentariAbstractAction;

// The one entry through which every service action runs: queues its request in the pool and
// routes the reply or failure back to it by request id.
class VENTARI_EXPORT VentariActionHandler : public QObject
{
    Q_OBJECT

public:
    VentariActionHandler();
    ~VentariActionHandler() override;

    static VentariActionHandler* instance();

    void executeAction(VentariAbstractAction* action);
    bool isOutOfRequests() const;
    RequestPool* requestPool() const { return m_requestPool; }

signals:
    void outOfRequests(QDateTime timeOfReset);

private slots:
    void onPooledReplyFinished(int id, const QByteArray& response);
    void onPooledReplyError(int id, QNetworkReply::NetworkError code, const QString& err);

private:
    VentariAbstractAction* takeAction(int id, const Common::SourceLocation& where);

    QMap<int, QPointer<VentariAbstractAction>> m_actions;
    RequestPool* m_requestPool = nullptr;

    static VentariActionHandler* s_instance;
};

} // namespace Ventari
