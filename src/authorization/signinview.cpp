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

// The engine's view goes with the widget base, after this view's own part, and reports the end of
// a page still loading as it goes: that must not reach a view that is no longer one.
SignInView::~SignInView()
{
    for (QObject* child : children())
        child->disconnect(this);
}

} // namespace Ventari
