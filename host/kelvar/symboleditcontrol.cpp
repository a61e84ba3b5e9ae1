#include "symboleditcontrol.h"

#include <tessel/tavsymbol.h>

#include <QtGui/QValidator>

namespace {

// Symbols are written in capitals whatever the user types.
class CapitalsValidator : public QValidator
{
public:
    using QValidator::QValidator;

    State validate(QString& input, int&) const override
    {
        input = input.toUpper();
        return Acceptable;
    }
};

} // namespace

SymbolEditControl::SymbolEditControl(QWidget* parent)
    : QLineEdit(parent)
{
    setValidator(new CapitalsValidator(this));
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
