#include "ventariactionhandler.h"

#include "actions/ventariabstractaction.h"
#include "common/reports.h"
#include "requestspool.h"

namespace Ventari {

VentariActionHandler* VentariActionHandler::s_instance = nullptr;

VentariActionHandler::VentariActionHandler()
{
    VR_ASSERT(!s_instance);
    s_instance = this;

    m_requestPool = new RequestPool;
    VR_ASSERT(connect(m_requestPool, SIGNAL(replyDone(int, const QByteArray&)), this, SLOT(onPooledReplyFinished(int, const QByteArray&))));
    VR_ASSERT(connect(m_requestPool, SIGNAL(replyError(int, QNetworkReply::NetworkError, const QString&)), this, SLOT(onPooledReplyError(int, QNetworkReply::NetworkError, const QString&))));
    VR_ASSERT(connect(m_requestPool, SIGNAL(outOfRequests(QDateTime)), this, SIGNAL(outOfRequests(QDateTime))));
}

// The pool goes with the handler: nothing else could ever send through it again.
VentariActionHandler::~VentariActionHandler()
{
    if (s_instance == this)
        s_instance = nullptr;
    delete m_requestPool;
}

VentariActionHandler* VentariActionHandler::instance()
{
    VR_ASSERT(s_instance);
    return s_instance;
}

void VentariActionHandler::executeAction(VentariAbstractAction* action)
{
    if (!VR_ASSERT(m_requestPool) || !action)
        return;
    if (!action->parent())
        action->setParent(this);
    const int id = m_requestPool->addRequest(action);
    m_actions[id] = action;
}

bool VentariActionHandler::isOutOfRequests() const
{
    return m_requestPool && m_requestPool->isOutOfRequests();
}

void VentariActionHandler::onPooledReplyFinished(int id, const QByteArray& response)
{
    if (VentariAbstractAction* action = takeAction(id, VR_HERE))
        action->processReply(response);
}

void VentariActionHandler::onPooledReplyError(int id, QNetworkReply::NetworkError code, const QString& err)
{
    VentariAbstractAction* action = takeAction(id, VR_HERE);
    if (!action)
        return;
    // Qt's code goes with it, so that a stream can tell an outage from a refusal.
    ResponseError error(-1, err);
    error.networkError = code;
    action->reportError(error);
}

// A reply for an unknown or destroyed action cannot be delivered: it is reported, from the slot
// that received it, and dropped.
VentariAbstractAction* VentariActionHandler::takeAction(int id, const Common::SourceLocation& where)
{
    VentariAbstractAction* action = m_actions.take(id);
    Common::Reports::check(action != nullptr, where, this, "m_actions.value(id) != NULL");
    return action;
}

} // namespace Ventari
