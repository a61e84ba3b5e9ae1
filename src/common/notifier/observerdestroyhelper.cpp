#include "observerdestroyhelper.h"

#include "commonabstractnotifier_p.h"

#include "common/reports.h"

namespace Common {

ObserverDestroyHelper::ObserverDestroyHelper(QObject* observer, AbstractNotifierPrivate* notifier)
    : QObject(observer)
    , m_notifier(notifier)
{
    VR_ASSERT(NULL != observer);
    VR_ASSERT(NULL != notifier);
}

ObserverDestroyHelper::~ObserverDestroyHelper()
{
    if (!m_notifier)
        return;
    // Runs while the observer deletes its children, so parent() is still the observer.
    QObject* observer = parent();
    m_notifier->forgetDestroyHelper(observer);
    m_notifier->observerDestroyed(observer);
}

void ObserverDestroyHelper::clearNotifier()
{
    m_notifier = nullptr;
}

} // namespace Common
