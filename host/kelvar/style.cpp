#include "style.h"

#include <QtWidgets/QStyle>
#include <QtWidgets/QWidget>

namespace Kelvar {

void polish(QWidget* widget, bool children)
{
    if (!widget)
        return;
    QStyle* style = widget->style();
    style->unpolish(widget);
    style->polish(widget);
    if (children) {
        for (QWidget* child : widget->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly))
            polish(child, true);
    }
    widget->update();
}

} // namespace Kelvar
