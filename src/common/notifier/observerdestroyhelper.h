#pragma once

#include "ventariglobal.h"

#include <QtCore/QObject>

namespace Common {

class AbstractNotifierPrivate;

// A child of an observer that tells its notifier when the observer is destroyed.
class VENTARI_EXPORT ObserverDestroyHelper : public QObject
{
    Q_OBJECT

public:
    ObserverDestroyHelper(QObject* observer, AbstractNotifierPrivate* notifier);
    ~ObserverDestroyHelper() override;

    // The notifier is going away: from now on the helper does nothing.
    void clearNotifier();

private:
    AbstractNotifierPrivate* m_notifier;
};

} // namespace Common
