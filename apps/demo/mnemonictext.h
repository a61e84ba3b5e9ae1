#pragma once

#include <QtCore/QString>

// Service text on what reads "&" as a keyboard mnemonic (buttons, tab titles, menu entries):
// each "&" doubled, so that "People & Stocks" shows as it is.
inline QString mnemonicText(const QString& text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('&'), QLatin1String("&&"));
}
