#include "notifierteardown.h"

#include "commonabstractnotifier_p.h"

namespace Common {

NotifierTeardown::NotifierTeardown(AbstractNotifierPrivate* notifier)
    : m_notifier(notifier)
{
}

bool NotifierTeardown::watch(QObject* notifierObject)
{
    // Direct: the signal comes from inside ~QObject, right before the children go.
    return notifierObject
        && connect(notifierObject, SIGNAL(destroyed()), this, SLOT(onNotifierDestroyed()), Qt::DirectConnection);
}

void NotifierTeardown::onNotifierDestroyed()
{
    m_notifier->detachObservers();
}

} // namespace Common
