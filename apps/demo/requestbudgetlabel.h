#pragma once

#include "messagetime.h"

#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtWidgets/QLabel>

namespace Ventari {
class RequestPool;
}

// The request budget the service last reported and the pool's send period, for the status bar:
// "Requests left 187 of 200 · resets 14:00 · refresh every 10 s", in shorter words where the
// bar is narrow, and cut with "…" only when even those do not fit; the tooltip has it all.
class RequestBudgetLabel : public QLabel
{
    Q_OBJECT

public:
    explicit RequestBudgetLabel(QWidget* parent = nullptr);

    // Follows this pool from now on; null shows nothing.
    void setPool(Ventari::RequestPool* pool);
    // The whole text, whatever the width shows.
    QString fullText() const { return m_forms.value(0); }
    // The width of its shorter words, which the status bar should leave it.
    int briefWidth() const;
signals:
    // The budget changed, and with it how much room its words take.
    void wordsChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onBudgetChanged();

private:
    void fitText();

    QPointer<Ventari::RequestPool> m_pool;
    MessageTime m_time;
    QStringList m_forms; // the same, longest first
};
