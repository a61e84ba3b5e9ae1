#include "pooltimer.h"
#include "hostreports.h"

#include <QtCore/QTimer>

namespace Kelvar {

PoolTimer* PoolTimer::createStoppedTimer(int interval, QObject* receiver, const char* slot)
{
    auto* timer = new PoolTimer(interval, receiver);
    if (!QObject::connect(timer, SIGNAL(timeout()), receiver, slot))
        KELVAR_REPORT("connect(timer, SIGNAL(timeout()), receiver, slot)");
    return timer;
}

PoolTimer::PoolTimer(int interval, QObject* parent)
    : QObject(parent)
    , m_timer(new QTimer(this))
{
    m_timer->setInterval(interval);
    connect(m_timer, &QTimer::timeout, this, &PoolTimer::timeout);
}

void PoolTimer::start(int interval)
{
    m_timer->start(interval);
}

void PoolTimer::stop()
{
    m_timer->stop();
}

void PoolTimer::setInterval(int interval)
{
    m_timer->setInterval(interval);
}

int PoolTimer::interval() const
{
    return m_timer->interval();
}

bool PoolTimer::isActive() const
{
    return m_timer->isActive();
}

} // namespace Kelvar
