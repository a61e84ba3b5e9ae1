#include "symboleditcontrol.h"

#include <tessel/tavsymbol.h>

SymbolEditControl::SymbolEditControl(QWidget* parent)
    : QLineEdit(parent)
{
    connect(this, &QLineEdit::returnPressed, this, &SymbolEditControl::onReturnPressed);
}

QByteArray SymbolEditControl::value() const
{
    return text().trimmed().toUtf8();
}

void SymbolEditControl::setValue(const QByteArray& symbol)
{
    setText(QString::fromUtf8(symbol));
}

void SymbolEditControl::focusOutEvent(QFocusEvent* event)
{
    QLineEdit::focusOutEvent(event);
    emit focusOut();
}

void SymbolEditControl::onReturnPressed()
{
    const QByteArray symbol = value();
    if (symbol.isEmpty() && !m_allowEmptySymbols)
        return;
    const Tessel::TavSymbol parsed(symbol.toStdString(), Tessel::TavSymbolUnknown, Tessel::Date::currentDate());
    emit editDone(symbol, parsed.type());
}
