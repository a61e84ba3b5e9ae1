#include "soakmodel.h"

#include "actionledger.h"

#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventaristreamaction.h"
#include "ventariactionhandler.h"
#include "ventaristreamshandler.h"

namespace Soak {

const char* const streamLoadResult = SIGNAL(dataObtained(Ventari::Messages));

Ventari::VentariAbstractAction* newStreamLoad(const SoakStream& stream, int priority)
{
    return new Ventari::VentariStreamAction(Ventari::VentariStreamsHandler::instance()->streamById(stream.id),
                                            stream.value, 0, priority);
}

SoakModel::SoakModel(const SoakStream& stream, Ventari::VentariActionHandler* handler, ActionLedger& ledger)
    : m_stream(stream)
    , m_handler(handler)
    , m_ledger(ledger)
{
}

void SoakModel::start()
{
    load(1);
}

void SoakModel::like(int messageId, bool unlike)
{
    auto* action = new Ventari::VentariLikeUnlikeAction(unlike ? 1 : 0, messageId);
    m_followed = m_ledger.track(action, unlike ? QStringLiteral("unlike") : QStringLiteral("like"),
                                SIGNAL(done(Ventari::Message)))
        && m_followed;
    m_handler->executeAction(action);
}

// A refresh still queued is dropped by the pool at its turn.
void SoakModel::close()
{
    m_closed = true;
    if (m_pending) {
        m_pending->cancel();
        m_ledger.markCancelled(m_pending);
    }
}

void SoakModel::onLoadAnswered()
{
    if (!m_closed)
        load(2);
}

void SoakModel::load(int priority)
{
    Ventari::VentariAbstractAction* action = newStreamLoad(m_stream, priority);
    const QString name = QString::fromUtf8(m_stream.value.isEmpty() ? m_stream.id : m_stream.id + ' ' + m_stream.value);
    m_followed = m_ledger.track(action, name, streamLoadResult)
        && connect(action, streamLoadResult, this, SLOT(onLoadAnswered()))
        && connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onLoadAnswered())) && m_followed;
    m_pending = action;
    m_handler->executeAction(action);
}

} // namespace Soak
