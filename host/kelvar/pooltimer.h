#pragma once

#include "hostglobal.h"

#include <QtCore/QObject>

class QTimer;

namespace Kelvar {

// A host timer that calls one slot of its receiver on every expiry.
class HOST_EXPORT PoolTimer : public QObject
{
    Q_OBJECT

public:
    // A stopped timer with the given period, owned by the receiver.
    static PoolTimer* createStoppedTimer(int interval, QObject* receiver, const char* slot);

    void start(int interval);
    void stop();
    void setInterval(int interval);
    int interval() const;
    bool isActive() const;

signals:
    void timeout();

private:
    PoolTimer(int interval, QObject* parent);

    QTimer* m_timer;
};

} // namespace Kelvar
