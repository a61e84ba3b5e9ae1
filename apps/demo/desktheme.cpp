#include "desktheme.h"

#include <kelvar/preferences.h>

#include <QtGui/QFont>
#include <QtGui/QPalette>
#include <QtWidgets/QApplication>
#include <QtWidgets/QStyle>

DeskTheme DeskTheme::s_current;

namespace {

DeskTheme darkTheme()
{
    DeskTheme theme;
    theme.dark = true;
    theme.dim = QColor(0x8b, 0x94, 0x9e);
    theme.symbol = QColor(0x58, 0xa6, 0xff);
    theme.mention = QColor(0xd2, 0xa8, 0xff);
    theme.link = QColor(0x79, 0xc0, 0xff);
    theme.like = QColor(0xff, 0x6b, 0x81);
    theme.separator = QColor(0x2a, 0x2f, 0x37);
    theme.hover = QColor(0x1c, 0x21, 0x28);
    theme.media = QColor(0x26, 0x2c, 0x34);
    theme.bannerBackground = QColor(0x4a, 0x2b, 0x14);
    theme.bannerText = QColor(0xf5, 0xd0, 0x9a);
    theme.popupBackground = QColor(0x2b, 0x3a, 0x52);
    theme.popupErrorBackground = QColor(0x8a, 0x2a, 0x33);
    return theme;
}

DeskTheme lightTheme()
{
    DeskTheme theme;
    theme.dark = false;
    theme.dim = QColor(0x5f, 0x67, 0x70);
    theme.symbol = QColor(0x09, 0x69, 0xda);
    theme.mention = QColor(0x82, 0x50, 0xdf);
    theme.link = QColor(0x09, 0x69, 0xda);
    theme.like = QColor(0xcf, 0x22, 0x2e);
    theme.separator = QColor(0xe1, 0xe4, 0xe8);
    theme.hover = QColor(0xf4, 0xf6, 0xf8);
    theme.media = QColor(0xea, 0xee, 0xf2);
    theme.bannerBackground = QColor(0xff, 0xf1, 0xd6);
    theme.bannerText = QColor(0x6b, 0x45, 0x0c);
    theme.popupBackground = QColor(0x2b, 0x3a, 0x52);
    theme.popupErrorBackground = QColor(0xb3, 0x26, 0x33);
    return theme;
}

QPalette darkPalette()
{
    QPalette palette;
    const QColor window(0x1b, 0x1f, 0x24);
    const QColor base(0x14, 0x17, 0x1b);
    const QColor text(0xe3, 0xe7, 0xeb);
    const QColor disabled(0x6b, 0x72, 0x7b);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Base, base);
    palette.setColor(QPalette::AlternateBase, QColor(0x1d, 0x21, 0x27));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, QColor(0x2a, 0x2f, 0x36));
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Highlight, QColor(0x2f, 0x6f, 0xb3));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, QColor(0x2a, 0x2f, 0x36));
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::Link, QColor(0x79, 0xc0, 0xff));
    palette.setColor(QPalette::LinkVisited, QColor(0xb3, 0x92, 0xf0));
    palette.setColor(QPalette::PlaceholderText, QColor(0x7d, 0x85, 0x90));
    palette.setColor(QPalette::Light, QColor(0x3a, 0x40, 0x48));
    palette.setColor(QPalette::Midlight, QColor(0x30, 0x35, 0x3d));
    palette.setColor(QPalette::Mid, QColor(0x24, 0x28, 0x2e));
    palette.setColor(QPalette::Dark, QColor(0x10, 0x12, 0x15));
    palette.setColor(QPalette::Shadow, Qt::black);
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(QPalette::Disabled, role, disabled);
    palette.setColor(QPalette::Disabled, QPalette::Button, QColor(0x23, 0x27, 0x2d));
    return palette;
}

QPalette lightPalette(const QStyle* style)
{
    QPalette palette = style->standardPalette();
    palette.setColor(QPalette::Window, QColor(0xf0, 0xf2, 0xf5));
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, QColor(0x1f, 0x23, 0x28));
    palette.setColor(QPalette::WindowText, QColor(0x1f, 0x23, 0x28));
    palette.setColor(QPalette::Highlight, QColor(0x09, 0x69, 0xda));
    palette.setColor(QPalette::Link, QColor(0x09, 0x69, 0xda));
    return palette;
}

} // namespace

const DeskTheme& DeskTheme::current()
{
    return s_current;
}

void DeskTheme::apply(DeskOptions::Theme theme, QApplication* application)
{
    const bool light = theme == DeskOptions::Theme::Light;
    Kelvar::Preferences::instance()->setTheme(light ? Kelvar::Preferences::Theme::Light
                                                    : Kelvar::Preferences::Theme::Dark);
    s_current = light ? lightTheme() : darkTheme();
    application->setStyle(QStringLiteral("Fusion"));
    application->setPalette(light ? lightPalette(application->style()) : darkPalette());
    // DejaVu covers Latin, Greek and Cyrillic; fontconfig falls back per glyph for Japanese and emoji.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10);
    font.setStyleHint(QFont::SansSerif);
    application->setFont(font);
}
