#pragma once

#include "ventariglobal.h"

#include <QtCore/QObject>

namespace Common {

class AbstractNotifierPrivate;

// Detaches a notifier's observers as soon as the notifier's QObject part starts to go: ~QObject
// deletes the children, observers among them, before a virtual AbstractNotifier base is torn down.
class VENTARI_EXPORT NotifierTeardown : public QObject
{
    Q_OBJECT

public:
    explicit NotifierTeardown(AbstractNotifierPrivate* notifier);

    // Watches the notifier's QObject part; false when the connection failed.
    bool watch(QObject* notifierObject);

private slots:
    void onNotifierDestroyed();

private:
    AbstractNotifierPrivate* m_notifier;
};

} // namespace Common
