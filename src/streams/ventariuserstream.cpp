#include "ventariuserstream.h"

#include "common/reports.h"
#include "streams/streamidinputmodel.h"

#include <kelvar/combocontrol.h>

#include <QtCore/QCoreApplication>
#include <QtWidgets/QLineEdit>

namespace Ventari {

VentariUserStream::VentariUserStream(const StreamFilters& filters)
    : VentariStream("user", 1, QCoreApplication::translate("VentariUserStream", "User"),
                    QStringLiteral("user/%1.json"), filters)
    , m_inputModel(new StreamIdInputModel("VentariUserStream"))
{
}

// Deleting the model writes the entered names to the settings.
VentariUserStream::~VentariUserStream()
{
    delete m_inputModel;
}

bool VentariUserStream::needsId() const
{
    return true;
}

QWidget* VentariUserStream::createIdControl(QWidget* parent, const char* editDoneSlot)
{
    auto* control = new ComboControl(m_inputModel, parent, true, false);
    control->lineEdit()->setPlaceholderText(QCoreApplication::translate("VentariUserStream", "Enter Name"));
    control->setFixedWidth(120);
    VR_VERIFY(QObject::connect(control, SIGNAL(editDone(QByteArray)), parent, editDoneSlot));
    return control;
}

QString VentariUserStream::controlValue(QWidget* control) const
{
    auto* combo = qobject_cast<ComboControl*>(control);
    if (!VR_ASSERT(combo))
        return QString();
    return QString::fromUtf8(combo->value());
}

void VentariUserStream::setControlValue(QWidget* control, const QString& value) const
{
    auto* combo = qobject_cast<ComboControl*>(control);
    if (!VR_ASSERT(combo))
        return;
    combo->setValue(value.toUtf8());
}

bool VentariUserStream::canFollow() const
{
    return true;
}

} // namespace Ventari
