#include "ventarisymbolstream.h"

#include "common/reports.h"
#include "tessel/itavsymbolmapper.h"
#include "ventariservices.h"

#include <kelvar/symboleditcontrol.h>

#include <QtCore/QCoreApplication>

namespace Ventari {

VentariSymbolStream::VentariSymbolStream(const StreamFilters& filters)
    : VentariStream("symbol", 1, QCoreApplication::translate("VentariStream", "Symbol"),
                    QStringLiteral("symbol/%1.json"), filters)
{
}

bool VentariSymbolStream::needsId() const
{
    return true;
}

QWidget* VentariSymbolStream::createIdControl(QWidget* parent, const char* editDoneSlot)
{
    auto* control = new SymbolEditControl(parent);
    control->setAllowEmptySymbols(false);
    control->setMinimumWidth(120);
    control->setMaximumWidth(120);
    VR_VERIFY(QObject::connect(control, SIGNAL(editDone(const QByteArray&, int)), parent, editDoneSlot));
    VR_VERIFY(QObject::connect(control, SIGNAL(focusOut()), parent, editDoneSlot));
    return control;
}

QString VentariSymbolStream::controlValue(QWidget* control) const
{
    auto* edit = qobject_cast<SymbolEditControl*>(control);
    if (!VR_ASSERT(edit))
        return QString();
    QByteArray symbol = edit->value();
    if (Tessel::ITavSymbolMapper* mapper = symbolMapper())
        symbol = mapper->tavSymbolToVentariSymbol(symbol);
    return QString::fromUtf8(symbol);
}

void VentariSymbolStream::setControlValue(QWidget* control, const QString& value) const
{
    auto* edit = qobject_cast<SymbolEditControl*>(control);
    if (!VR_ASSERT(edit))
        return;
    QByteArray symbol = value.toUtf8();
    if (Tessel::ITavSymbolMapper* mapper = symbolMapper())
        symbol = mapper->ventariSymbolToTavSymbol(symbol);
    edit->setValue(symbol);
}

bool VentariSymbolStream::canFollow() const
{
    return true;
}

} // namespace Ventari
