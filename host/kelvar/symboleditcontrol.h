#pragma once

#include "hostglobal.h"

#include <QtCore/QByteArray>
#include <QtWidgets/QLineEdit>

// A line edit for one symbol in host notation.
class HOST_EXPORT SymbolEditControl : public QLineEdit
{
    Q_OBJECT

public:
    explicit SymbolEditControl(QWidget* parent = nullptr);

    bool allowEmptySymbols() const { return m_allowEmptySymbols; }
    void setAllowEmptySymbols(bool allow) { m_allowEmptySymbols = allow; }

    QByteArray value() const;
    void setValue(const QByteArray& symbol);

signals:
    // Return in the editor: the symbol and its host symbol type (0 when the text has no known form).
    void editDone(const QByteArray& symbol, int symbolType);
    void focusOut();

protected:
    void focusOutEvent(QFocusEvent* event) override;

private slots:
    void onReturnPressed();

private:
    bool m_allowEmptySymbols = true;
};
