#pragma once

#include "hostglobal.h"

class QWidget;

namespace Kelvar {

// Styles the widget (and, when asked, its children) again, so that a changed dynamic property
// meets the style sheet's selectors.
HOST_EXPORT void polish(QWidget* widget, bool children);

} // namespace Kelvar
