#pragma once

#include "messaging.h"

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QObject>
#include <QtCore/QString>

#include <memory>

namespace Dravon {

// Where content files are found: the folder set here, else $DRAVON_DATA_DIR, else "data" next to the
// application. An empty path drops the setting.
HOST_EXPORT void setDataDirectory(const QString& path);
HOST_EXPORT QString dataDirectory();

// Sends one request to the data service and routes the answer to the binding of its response type.
// The answer always arrives later on the event loop, never inside start(); a requester destroyed
// before then delivers nothing, and a receiver may destroy the requester from its handler.
class HOST_EXPORT Requester : public QObject
{
    Q_OBJECT

public:
    explicit Requester(const Request& request, QObject* parent = nullptr);
    ~Requester() override;

    const Request& request() const { return *m_request; }

    // A later binding for the same type replaces the earlier one.
    void bind(int responseType, const Messaging::IBindingSharedPtr& binding);

    // Who the answers go to, for the host's diagnostics.
    QByteArray receiverName() const { return m_receiverName; }
    void setReceiverName(const QByteArray& name) { m_receiverName = name; }

    // Sends the request; each start counts as a request of its own, numbered process-wide from 1.
    void start();
    int requestId() const { return m_requestId; }

private:
    void deliver(int requestId);
    std::unique_ptr<Response> serve() const;
    std::unique_ptr<Response> serveContent(const EncryptedContentRequest& request) const;

    std::unique_ptr<Request> m_request;
    QMap<int, Messaging::IBindingSharedPtr> m_bindings;
    QByteArray m_receiverName;
    int m_requestId = 0;
};

using RequesterSharedPtr = std::shared_ptr<Requester>;

} // namespace Dravon
