#include "signinview.h"

#include <QtWidgets/QVBoxLayout>

namespace Ventari {

SignInView::SignInView(QWidget* parent)
    : QWidget(parent)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setContextMenuPolicy(Qt::NoContextMenu);
}

} // namespace Ventari
