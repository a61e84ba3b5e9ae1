#pragma once

#include "messagetime.h"

#include <QtCore/QPointer>
#include <QtWidgets/QLabel>

namespace Ventari {
class RequestPool;
}

// The request budget the service last reported and the pool's send period, for the status bar:
// "Requests left 187 of 200 · resets 14:00 · refresh every 10 s".
class RequestBudgetLabel : public QLabel
{
    Q_OBJECT

public:
    explicit RequestBudgetLabel(QWidget* parent = nullptr);

    // Follows this pool from now on; null shows nothing.
    void setPool(Ventari::RequestPool* pool);

private slots:
    void onBudgetChanged();

private:
    QPointer<Ventari::RequestPool> m_pool;
    MessageTime m_time;
};
