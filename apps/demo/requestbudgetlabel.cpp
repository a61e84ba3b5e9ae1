#include "requestbudgetlabel.h"

#include <requestspool.h>

#include <QtCore/QLocale>

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
    // Refreshes take turns: one per period goes to one of the streams.
    const qint64 eachStream = qint64(budget.period) * qMax(1, budget.refreshers);
    parts << QStringLiteral("refresh every %1 s").arg(qMax<qint64>(1, (eachStream + 500) / 1000));
    setText(parts.join(QStringLiteral(" · ")));
    setToolTip(QStringLiteral("The request budget the Ventari service reported. Streams are refreshed in turn, "
                              "one every %1 s, so each about as often as shown; busy streams and the one on "
                              "screen more often. Likes and shares go at once.")
                   .arg(QLocale().toString(budget.period / 1000.0, 'f', 1)));
}
