#include "safetext.h"

namespace {

const QChar firstStrongIsolate(0x2068);
const QChar popDirectionalIsolate(0x2069);

} // namespace

QString SafeText::plain(const QString& text)
{
    QString result;
    result.reserve(text.size());
    forEachCodePoint(text, [&](uint code, int at, int length) {
        if (!isDirectionControl(code))
            result.append(text.constData() + at, length);
    });
    return result;
}

QString SafeText::inset(const QString& text)
{
    const QString cleaned = plain(text);
    bool rightToLeft = false;
    forEachCodePoint(cleaned, [&](uint code, int, int) {
        const QChar::Direction direction = QChar::direction(code);
        rightToLeft = rightToLeft || direction == QChar::DirR || direction == QChar::DirAL
            || direction == QChar::DirAN;
    });
    // Left-to-right text cannot move the desk's words; it stays as it is, so it compares as typed.
    return rightToLeft ? firstStrongIsolate + cleaned + popDirectionalIsolate : cleaned;
}

QString SafeText::identifier(const QString& text)
{
    QString result;
    result.reserve(text.size());
    forEachCodePoint(text, [&](uint code, int at, int length) {
        if (isInvisible(code))
            result += QChar(QChar::ReplacementCharacter);
        else
            result.append(text.constData() + at, length);
    });
    return result;
}

QString SafeText::handle(QChar sign, const QString& name)
{
    return inset(sign + identifier(name));
}

bool SafeText::isDirectionControl(uint code)
{
    return code == 0x061C || code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E)
        || (code >= 0x2066 && code <= 0x2069);
}

bool SafeText::isInvisible(uint code)
{
    if (QChar::category(code) == QChar::Other_Format)
        return true;
    // Unicode's default-ignorable code points that are not format characters.
    static const uint ranges[][2] = {{0x034F, 0x034F},   {0x115F, 0x1160},   {0x17B4, 0x17B5},
                                     {0x180B, 0x180F},   {0x3164, 0x3164},   {0xFE00, 0xFE0F},
                                     {0xFFA0, 0xFFA0},   {0xFFF0, 0xFFF8},   {0x1BCA0, 0x1BCA3},
                                     {0x1D173, 0x1D17A}, {0xE0000, 0xE0FFF}, {0x2060, 0x206F}};
    for (const auto& range : ranges) {
        if (code >= range[0] && code <= range[1])
            return true;
    }
    return false;
}
