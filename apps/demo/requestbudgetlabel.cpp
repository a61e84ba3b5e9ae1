#include "requestbudgetlabel.h"

#include <requestspool.h>


RequestBudgetLabel::RequestBudgetLabel(QWidget* parent)
    : QLabel(parent)
    , m_time(MessageTime::forHostUser())
{
    setTextFormat(Qt::PlainText);
    // The bar gives the label what is left; the label fits its words to that.
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
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

int RequestBudgetLabel::briefWidth() const
{
    return fontMetrics().horizontalAdvance(m_forms.value(1)) + 2 * margin() + 4;
}

void RequestBudgetLabel::resizeEvent(QResizeEvent* event)
{
    QLabel::resizeEvent(event);
    fitText();
}

void RequestBudgetLabel::onBudgetChanged()
{
    m_forms.clear();
    if (!m_pool) {
        clear();
        setToolTip(QString());
        return;
    }
    const Ventari::RequestBudget budget = m_pool->budget();
    QString left;
    QString leftShort;
    if (budget.remaining < 0) {
        left = QStringLiteral("Requests left: not reported yet");
        leftShort = QStringLiteral("Requests: ?");
    } else if (budget.limit > 0) {
        left = QStringLiteral("Requests left %1 of %2").arg(budget.remaining).arg(budget.limit);
        leftShort = QStringLiteral("%1/%2 left").arg(budget.remaining).arg(budget.limit);
    } else {
        left = QStringLiteral("Requests left %1").arg(budget.remaining);
        leftShort = QStringLiteral("%1 left").arg(budget.remaining);
    }
    const QString reset = m_time.clock(budget.resetTime);
    // Refreshes take turns: one per period goes to one of the streams.
    const qint64 eachStream = qint64(budget.period) * qMax(1, budget.refreshers);
    const qint64 seconds = qMax<qint64>(1, (eachStream + 500) / 1000);

    QStringList full{left};
    QStringList brief{leftShort};
    QStringList least{leftShort};
    if (!reset.isEmpty()) {
        full << QStringLiteral("resets %1").arg(reset);
        brief << QStringLiteral("resets %1").arg(reset);
        least << QStringLiteral("↻ %1").arg(reset);
    }
    full << QStringLiteral("refresh every %1 s").arg(seconds);
    brief << QStringLiteral("every %1 s").arg(seconds);
    least << QStringLiteral("%1 s").arg(seconds);
    const QString dot = QStringLiteral(" · ");
    m_forms = QStringList{full.join(dot), brief.join(dot), least.join(dot)};
    setToolTip(QStringLiteral("%1\nThe request budget the Ventari service reported. Streams are refreshed in turn, "
                              "one every %2 s, so each about as often as shown; busy streams and the one on "
                              "screen more often. Likes and shares go at once.")
                   .arg(m_forms.first(), QLocale().toString(budget.period / 1000.0, 'f', 1)));
    fitText();
    emit wordsChanged();
}

// The longest form that fits; the shortest cut at its end, so that a cut shows.
void RequestBudgetLabel::fitText()
{
    if (m_forms.isEmpty())
        return;
    const int room = contentsRect().width() - 2 * margin() - 4;
    for (const QString& form : qAsConst(m_forms)) {
        if (fontMetrics().horizontalAdvance(form) <= room) {
            setText(form);
            return;
        }
    }
    setText(fontMetrics().elidedText(m_forms.last(), Qt::ElideRight, qMax(0, room)));
}
