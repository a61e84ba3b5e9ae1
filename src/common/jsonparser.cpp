#include "jsonparser.h"

#include "reports.h"

#include <QtCore/QIODevice>
#include <QtCore/QTextStream>
#include <QtCore/QVarLengthArray>

#include <algorithm>
#include <cstring>

namespace Common {
namespace {

// Byte classes, taken from QChar with the byte read as Latin-1.
class ByteClasses
{
public:
    enum : quint8 { Space = 1, LetterOrNumber = 2, TokenEnd = 4 };

    ByteClasses()
    {
        for (int byte = 0; byte < 256; ++byte) {
            const QChar c = QChar::fromLatin1(char(byte));
            quint8 bits = 0;
            if (c.isSpace())
                bits |= Space | TokenEnd;
            if (c.isLetterOrNumber())
                bits |= LetterOrNumber;
            if (byte == ',' || byte == ']' || byte == '}')
                bits |= TokenEnd;
            m_bits[byte] = bits;
        }
    }

    bool is(char byte, quint8 kind) const { return m_bits[quint8(byte)] & kind; }

private:
    quint8 m_bits[256];
};

const ByteClasses& byteClasses()
{
    static const ByteClasses classes;
    return classes;
}

// Text bytes end at the first zero byte, as QString::fromUtf8 of a C string would.
QString decodeUtf8(const char* data, size_t size)
{
    return QString::fromUtf8(data, int(qstrnlen(data, uint(size))));
}

// Plain decimals of at most nine digits are ints under any conversion; longer ones go
// through QVariant, whose conversion accepts what QString::toInt would refuse.
bool readPlainInt(const char* data, size_t size, int* value)
{
    const char* p = data;
    const char* end = data + size;
    const bool negative = p != end && *p == '-';
    if (negative)
        ++p;
    if (p == end || end - p > 9)
        return false;
    int result = 0;
    for (; p != end; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        result = result * 10 + (*p - '0');
    }
    *value = negative ? -result : result;
    return true;
}

// The value of a bare word: a keyword, a number by QVariant's conversions, or the word itself.
QVariant tokenValue(const char* data, size_t size)
{
    bool printableAscii = size > 0;
    for (size_t i = 0; i < size && printableAscii; ++i)
        printableAscii = quint8(data[i]) > 0x20 && quint8(data[i]) < 0x7f;

    QString word;
    if (printableAscii) {
        // What QTextStream would read from these bytes is the bytes themselves.
        if (size == 4 && std::memcmp(data, "true", 4) == 0)
            return true;
        if (size == 5 && std::memcmp(data, "false", 5) == 0)
            return false;
        if (size == 4 && std::memcmp(data, "null", 4) == 0)
            return QVariant();
        int value;
        if (readPlainInt(data, size, &value))
            return value;
        word = QString::fromLatin1(data, int(size));
    } else {
        QTextStream stream(QByteArray(data, int(size)));
        stream >> word;
        if (word == QLatin1String("true"))
            return true;
        if (word == QLatin1String("false"))
            return false;
        if (word == QLatin1String("null"))
            return QVariant();
    }

    const QVariant text(word);
    bool ok = false;
    const int number = text.toInt(&ok);
    if (ok)
        return number;
    const double real = text.toDouble(&ok);
    if (ok)
        return real;
    return text;
}

// Reads through QIODevice::getChar and gives bytes back with ungetChar, keeping the position.
class DeviceSource
{
public:
    static constexpr bool isContiguous = false;

    explicit DeviceSource(QIODevice* device)
        : m_device(device)
    {
    }

    bool get(char& c)
    {
        if (!m_device->getChar(&c))
            return false;
        advance(c);
        return true;
    }

    void unget(char c)
    {
        m_device->ungetChar(c);
        if (c == '\n') {
            m_column = m_lineLengths.last();
            m_lineLengths.removeLast();
            --m_line;
        } else {
            --m_column;
        }
    }

    // The rest of a comment line, its newline included.
    void skipLine()
    {
        const QByteArray rest = m_device->readLine();
        for (const char c : rest)
            advance(c);
    }

    int line() const { return m_line; }
    int column() const { return m_column; }

private:
    void advance(char c)
    {
        if (c == '\n') {
            m_lineLengths.append(m_column);
            ++m_line;
            m_column = 0;
        } else {
            ++m_column;
        }
    }

    QIODevice* m_device;
    int m_line = 0;
    int m_column = 0;
    // The column at each newline consumed, so that un-reading a newline restores it.
    QVarLengthArray<int, 512> m_lineLengths;
};

// Reads straight from memory. Reading and un-reading move one index, so line and column are
// a function of it and are worked out only when an error needs them.
class MemorySource
{
public:
    static constexpr bool isContiguous = true;

    MemorySource(const char* begin, const char* end)
        : m_begin(begin)
        , m_pos(begin)
        , m_end(end)
    {
    }

    bool get(char& c)
    {
        if (m_pos == m_end)
            return false;
        c = *m_pos++;
        return true;
    }

    void unget(char) { --m_pos; }

    void skipLine()
    {
        const void* newline = std::memchr(m_pos, '\n', size_t(m_end - m_pos));
        m_pos = newline ? static_cast<const char*>(newline) + 1 : m_end;
    }

    int line() const { return int(std::count(m_begin, m_pos, '\n')); }

    int column() const
    {
        const char* lineStart = m_pos;
        while (lineStart != m_begin && lineStart[-1] != '\n')
            --lineStart;
        return int(m_pos - lineStart);
    }

    const char* current() const { return m_pos; }
    const char* end() const { return m_end; }
    void setCurrent(const char* pos) { m_pos = pos; }

private:
    const char* m_begin;
    const char* m_pos;
    const char* m_end;
};

// The reading rules, written once for both sources.
template <typename Source>
class Reader
{
public:
    explicit Reader(Source& source)
        : m_source(source)
        , m_classes(byteClasses())
    {
    }

    QVariant readValue()
    {
        skip();
        char c;
        if (m_source.get(c)) {
            if (c == '{') {
                enterNesting();
                const QVariantMap map = readObject();
                --m_depth;
                return map;
            }
            m_source.unget(c);
        }
        if (consumeIf('[')) {
            enterNesting();
            const QVariantList list = readArray();
            --m_depth;
            return list;
        }
        if (consumeIf('"')) {
            m_source.unget('"');
            return readString();
        }
        return readBareToken();
    }

private:
    // Every level of nesting is a level of recursion: a broken or hostile reply must not be
    // able to exhaust the stack. QJsonDocument draws the line at the same depth.
    void enterNesting()
    {
        if (++m_depth > maxDepth)
            fail("Objects and arrays nested too deeply");
    }

    void skip()
    {
        char c;
        for (;;) {
            if (!m_source.get(c))
                return;
            if (m_classes.is(c, ByteClasses::Space))
                continue;
            if (c != '/') {
                m_source.unget(c);
                return;
            }
            if (!m_source.get(c))
                return;
            if (c == '/') {
                m_source.skipLine();
                continue;
            }
            qWarning("I removed a '/' while parsing JSON file.");
            m_source.unget(c);
            return;
        }
    }

    bool consumeIf(char expected)
    {
        char c;
        if (!m_source.get(c))
            return false;
        if (c == expected)
            return true;
        m_source.unget(c);
        return false;
    }

    QVariantMap readObject()
    {
        QVariantMap map;
        skip();
        if (consumeIf('}'))
            return map;
        char c;
        for (;;) {
            skip();
            const QString name = readMemberName();
            skip();
            const bool got = m_source.get(c);
            if (!got || c != ':') {
                if (got)
                    m_source.unget(c);
                fail("Expected ':' after a member name: ", name.toLatin1());
            }
            skip();
            map.insert(name, readValue());
            if (!consumeSeparator())
                break;
        }
        skip();
        if (!consumeIf('}'))
            fail("Expected '}' to close an object");
        return map;
    }

    // After a member or an element: a ',' says another one follows.
    bool consumeSeparator()
    {
        skip();
        char c;
        if (!m_source.get(c))
            return false;
        if (c != ',') {
            m_source.unget(c);
            return false;
        }
        return true;
    }

    QVariantList readArray()
    {
        QVariantList list;
        skip();
        if (consumeIf(']'))
            return list;
        for (;;) {
            list.append(readValue());
            if (!consumeSeparator())
                break;
        }
        skip();
        if (!consumeIf(']'))
            fail("Expected ']' to close an array");
        return list;
    }

    QString readMemberName()
    {
        m_bytes.clear();
        char c;
        if (m_source.get(c)) {
            if (c == '"') {
                m_source.unget(c);
                return readString();
            }
            // Whatever the first byte is, it starts the name.
            m_bytes.push_back(c);
        }
        while (m_source.get(c)) {
            if (!m_classes.is(c, ByteClasses::LetterOrNumber)) {
                m_source.unget(c);
                return decodeUtf8(m_bytes.data(), m_bytes.size());
            }
            m_bytes.push_back(c);
        }
        fail("End of file before end of string: ", m_bytes);
    }

    QString readString()
    {
        char c;
        if (!m_source.get(c) || c != '"')
            fail("Expected '\"' at beginning of string");

        if constexpr (Source::isContiguous) {
            // Most strings have no escapes: decode them in place.
            const char* begin = m_source.current();
            const size_t available = size_t(m_source.end() - begin);
            const char* quote = static_cast<const char*>(std::memchr(begin, '"', available));
            if (quote && !std::memchr(begin, '\\', size_t(quote - begin))) {
                m_source.setCurrent(quote + 1);
                return decodeUtf8(begin, size_t(quote - begin));
            }
        }

        m_bytes.clear();
        while (m_source.get(c)) {
            if (c == '\\') {
                if (!m_source.get(c))
                    break;
                switch (c) {
                case 'b': c = '\b'; break;
                case 'f': c = '\f'; break;
                case 'n': c = '\n'; break;
                case 'r': c = '\r'; break;
                case 't': c = '\t'; break;
                case 'u':
                    // Escapes are decoded (they once stayed text), pairs joined, lone surrogates become U+FFFD.
                    if (readUnicodeEscape())
                        continue;
                    // A malformed escape is a tolerated fault, like a lone '/': its 'u' stands
                    // for itself as any other escaped byte does, and what follows it is read
                    // as ordinary text.
                    qWarning("I kept a malformed \\u escape as text while parsing JSON file.");
                    break;
                default: break;
                }
                m_bytes.push_back(c);
            } else if (c == '"') {
                return decodeUtf8(m_bytes.data(), m_bytes.size());
            } else {
                m_bytes.push_back(c);
            }
        }
        fail("End of file before end of string: ", m_bytes);
    }

    // After "\u": appends the escaped character as UTF-8, or U+FFFD for a lone surrogate. A high
    // surrogate takes the escape written right after it when that is a low one. False, with only
    // the 'u' consumed, when the escape is malformed.
    bool readUnicodeEscape()
    {
        char16_t unit;
        if (!readEscapedUnit(unit))
            return false;
        while (QChar::isHighSurrogate(unit)) {
            if (!consumeIf('\\'))
                break;
            if (!consumeIf('u')) {
                m_source.unget('\\');
                break;
            }
            char16_t next;
            if (!readEscapedUnit(next)) {
                // Read again, after the replacement, as the malformed escape it is.
                m_source.unget('u');
                m_source.unget('\\');
                break;
            }
            if (QChar::isLowSurrogate(next)) {
                appendUtf8(QChar::surrogateToUcs4(unit, next));
                return true;
            }
            appendUtf8(replacementCharacter);
            unit = next;
        }
        appendUtf8(QChar::isSurrogate(unit) ? replacementCharacter : unit);
        return true;
    }

    // The four hex digits of a \u escape as one UTF-16 unit. When they are not all there,
    // every byte read is given back.
    bool readEscapedUnit(char16_t& unit)
    {
        char digits[4];
        unit = 0;
        for (int count = 0; count < 4; ++count) {
            int value = -1;
            if (m_source.get(digits[count])) {
                value = hexValue(digits[count]);
                if (value < 0)
                    m_source.unget(digits[count]);
            }
            if (value < 0) {
                while (count > 0)
                    m_source.unget(digits[--count]);
                return false;
            }
            unit = char16_t(unit << 4 | value);
        }
        return true;
    }

    static int hexValue(char c)
    {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    }

    // U+0000 becomes a zero byte, so an escaped one ends the text as a raw one does.
    void appendUtf8(char32_t codePoint)
    {
        if (codePoint < 0x80) {
            m_bytes.push_back(char(codePoint));
        } else if (codePoint < 0x800) {
            m_bytes.push_back(char(0xc0 | codePoint >> 6));
            m_bytes.push_back(char(0x80 | (codePoint & 0x3f)));
        } else if (codePoint < 0x10000) {
            m_bytes.push_back(char(0xe0 | codePoint >> 12));
            m_bytes.push_back(char(0x80 | (codePoint >> 6 & 0x3f)));
            m_bytes.push_back(char(0x80 | (codePoint & 0x3f)));
        } else {
            m_bytes.push_back(char(0xf0 | codePoint >> 18));
            m_bytes.push_back(char(0x80 | (codePoint >> 12 & 0x3f)));
            m_bytes.push_back(char(0x80 | (codePoint >> 6 & 0x3f)));
            m_bytes.push_back(char(0x80 | (codePoint & 0x3f)));
        }
    }

    QVariant readBareToken()
    {
        if constexpr (Source::isContiguous) {
            const char* begin = m_source.current();
            const char* end = m_source.end();
            const char* p = begin;
            while (p != end && !m_classes.is(*p, ByteClasses::TokenEnd))
                ++p;
            m_source.setCurrent(p);
            return tokenValue(begin, size_t(p - begin));
        } else {
            m_bytes.clear();
            char c;
            while (m_source.get(c)) {
                if (m_classes.is(c, ByteClasses::TokenEnd)) {
                    m_source.unget(c);
                    break;
                }
                m_bytes.push_back(c);
            }
            return tokenValue(m_bytes.data(), m_bytes.size());
        }
    }

    [[noreturn]] void fail(const char* message, const std::string& detail = std::string())
    {
        throw JsonParserException(message + std::string(detail.c_str()), m_source.line() + 1, m_source.column());
    }

    [[noreturn]] void fail(const char* message, const QByteArray& detail)
    {
        fail(message, std::string(detail.constData()));
    }

    static constexpr int maxDepth = 1024;
    static constexpr char32_t replacementCharacter = 0xfffd;

    Source& m_source;
    const ByteClasses& m_classes;
    int m_depth = 0;
    std::string m_bytes; // reused by every name, string and token
};

} // namespace

JsonParserException::JsonParserException(const std::string& message, int line, int column)
    : std::runtime_error(message)
    , m_line(line)
    , m_column(column)
{
}

QVariant JsonParser::parse(QIODevice* device) const
{
    if (!VR_ASSERT_FROM(this, device && device->isReadable()))
        return QVariant();
    DeviceSource source(device);
    return Reader<DeviceSource>(source).readValue();
}

// Same results, errors and warnings as reading the bytes through a QBuffer, without a device.
QVariant JsonParser::parse(const QByteArray& data) const
{
    MemorySource source(data.constData(), data.constData() + data.size());
    return Reader<MemorySource>(source).readValue();
}

QVariant JsonParser::parseNoThrow(const QByteArray& data) const
{
    try {
        return parse(data);
    } catch (const JsonParserException& e) {
        LogRecord(0, 3, VR_HERE_AS("Common::JsonParser::parseNoThrow"), this) << QString::fromUtf8(e.what());
    }
    return QVariant();
}

QList<QByteArray> stringListToByteArrayList(const QStringList& list)
{
    QList<QByteArray> result;
    result.reserve(list.size());
    for (const QString& text : list)
        result.append(text.toUtf8());
    return result;
}

QStringList byteArrayListToStringList(const QList<QByteArray>& list)
{
    QStringList result;
    result.reserve(list.size());
    for (const QByteArray& bytes : list)
        result.append(decodeUtf8(bytes.constData(), size_t(bytes.size())));
    return result;
}

} // namespace Common
