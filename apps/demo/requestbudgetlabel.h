#pragma once

#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtCore/QTimeZone>
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
    // A moment as the status bar shows it: the user's wall clock in his locale's short format,
    // as the out-of-requests notification says it.
    static QString clock(const QDateTime& moment, const QTimeZone& zone);

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
    QTimeZone m_zone;
    QStringList m_forms; // the same, longest first
};
