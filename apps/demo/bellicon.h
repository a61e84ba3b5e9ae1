#pragma once

#include <QtGui/QColor>
#include <QtGui/QIcon>

// The bell that marks a tab whose new messages raise notifications, drawn rather than taken from
// a font or icon theme a bare system may lack.
class BellIcon
{
public:
    // ringing: filled; otherwise an outline, for the toggle that is off.
    static QIcon make(const QColor& color, bool ringing);
};
