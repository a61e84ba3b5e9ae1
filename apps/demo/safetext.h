#pragma once

#include <QtCore/QString>

// Text from the service made fit to show: direction controls, which could reorder what stands
// around them, are taken out; right-to-left text set into the desk's own sentences is isolated,
// so it keeps to its place; and names that identify someone show their invisible characters.
class SafeText
{
public:
    // The text without direction controls: for names, bodies and other free text.
    static QString plain(const QString& text);
    // plain(text), isolated when it holds right-to-left characters: for service text put into a
    // sentence of the desk's own ("Reply to @%1", tab titles, tooltips).
    static QString inset(const QString& text);
    // A user name or symbol as the service spells it, with each invisible character shown as
    // U+FFFD, so that "ali\u200Bce" cannot pass for alice.
    static QString identifier(const QString& text);
    // "@alice" or "$AAPL": an identifier behind its sign, inset.
    static QString handle(QChar sign, const QString& name);

    // U+061C, U+200E/F, U+202A-202E, U+2066-2069.
    static bool isDirectionControl(uint code);
    // Format characters (direction controls among them) and the other code points that are
    // drawn as nothing: zero-width spaces and joiners, soft hyphen, variation selectors, fillers.
    static bool isInvisible(uint code);

    // Calls visit(code point, position, length in code units) for each code point of text; an
    // unpaired surrogate counts as one of its own.
    template<typename Visit>
    static void forEachCodePoint(const QString& text, Visit visit)
    {
        for (int i = 0; i < text.size(); ++i) {
            const QChar c = text.at(i);
            if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
                visit(QChar::surrogateToUcs4(c, text.at(i + 1)), i, 2);
                ++i;
            } else {
                visit(c.unicode(), i, 1);
            }
        }
    }
};
