#include "requestbudgetlabel.h"

#include <requestspool.h>

RequestBudgetLabel::RequestBudgetLabel(QWidget* parent)
    : QLabel(parent)
    , m_time(MessageTime::forHostUser())
{
    setTextFormat(Qt::PlainText);
}

void RequestBudgetLabel::setPool(Ventari::RequestPool* pool)
{
    if (m_pool)
        m_pool->disconnect(this);
    m_pool = pool;
    if (m_pool)
        connect(m_pool, &Ventari::RequestPool::budgetChanged, this, &RequestBudgetLabel::onBudgetChanged);
    onBudgetChanged();
}

void RequestBudgetLabel::onBudgetChanged()
{
    if (!m_pool) {
        clear();
        return;
    }
    const Ventari::RequestBudget budget = m_pool->budget();
    QStringList parts;
    if (budget.remaining < 0)
        parts << QStringLiteral("Requests left: not reported yet");
    else if (budget.limit > 0)
        parts << QStringLiteral("Requests left %1 of %2").arg(budget.remaining).arg(budget.limit);
    else
        parts << QStringLiteral("Requests left %1").arg(budget.remaining);
    if (budget.resetTime.isValid())
        parts << QStringLiteral("resets %1").arg(m_time.clock(budget.resetTime));
    parts << QStringLiteral("refresh every %1 s").arg(qMax(1, budget.period / 1000));
    setText(parts.join(QStringLiteral(" · ")));
    setToolTip(QStringLiteral("The request budget the Ventari service reported; queued refreshes go out one per "
                              "period, likes and shares at once."));
}
