#pragma once

#include "deskoptions.h"

#include <QtGui/QColor>

class QApplication;

// The desk's look: Fusion with a dark or light palette, and the few colours a palette has no
// role for (symbols, mentions, likes, banners).
class DeskTheme
{
public:
    QColor dim;       // secondary text: user names, times, counts
    QColor symbol;
    QColor mention;
    QColor link;
    QColor like;
    QColor separator; // between messages
    QColor hover;     // the message under the mouse
    QColor media;     // behind thumbnails while they load
    QColor bannerBackground;
    QColor bannerText;
    QColor popupBackground;
    QColor popupErrorBackground;
    bool dark = true;

    static const DeskTheme& current();
    // Sets the style, palette and font of the application and the host's theme preference, so
    // that the plugin's dialogs match.
    static void apply(DeskOptions::Theme theme, QApplication* application);

private:
    static DeskTheme s_current;
};
