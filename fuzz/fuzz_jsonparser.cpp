// The JSON reader from memory and from a device: both readings of any input give the same value,
// or the same error at the same position, and the no-throw entry agrees with them. Where
// QJsonDocument accepts the input as strict JSON, the reader finds the same structure and texts.
#include "fuzzsupport.h"

#include "common/jsonparser.h"

#include <QtCore/QBuffer>
#include <QtCore/QJsonDocument>
#include <QtCore/QVariant>

#include <cmath>
#include <cstring>
#include <string>

namespace {

// What one reading gave.
struct Reading
{
    bool failed = false;
    QVariant value;
    std::string error;
    int line = 0;
    int column = 0;
};

template <typename Input>
Reading read(const Input& input)
{
    Reading reading;
    try {
        reading.value = Common::JsonParser().parse(input);
    } catch (const Common::JsonParserException& e) {
        reading.failed = true;
        reading.error = e.what();
        reading.line = e.line();
        reading.column = e.column();
    }
    return reading;
}

// Strict equality: types must match exactly and NaN equals NaN.
bool sameValue(const QVariant& a, const QVariant& b)
{
    if (a.userType() != b.userType())
        return false;
    switch (a.userType()) {
    case QMetaType::UnknownType:
        return true;
    case QMetaType::QVariantMap: {
        const QVariantMap x = a.toMap();
        const QVariantMap y = b.toMap();
        if (x.size() != y.size())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j) {
            if (i.key() != j.key() || !sameValue(i.value(), j.value()))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantList: {
        const QVariantList x = a.toList();
        const QVariantList y = b.toList();
        if (x.size() != y.size())
            return false;
        for (int i = 0; i < x.size(); ++i) {
            if (!sameValue(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    case QMetaType::Double: {
        const double x = a.toDouble();
        const double y = b.toDouble();
        return (std::isnan(x) && std::isnan(y)) || std::memcmp(&x, &y, sizeof x) == 0;
    }
    default:
        return a == b;
    }
}

// A text as the reader gives it: QJsonDocument keeps unpaired surrogates and zero characters,
// the reader replaces the former with U+FFFD and ends the text at the latter.
QString asReaderText(const QString& text)
{
    QString result;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isNull())
            break;
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate()) {
            result += c;
            result += text.at(++i);
        } else {
            result += c.isSurrogate() ? QChar(QChar::ReplacementCharacter) : c;
        }
    }
    return result;
}

// Behind a backslash, QJsonDocument takes a byte of 0x80 or more as the Latin-1 character, the
// reader as a byte of UTF-8 text.
bool escapesHighByte(const QByteArray& bytes)
{
    for (int i = 0; i + 1 < bytes.size(); ++i) {
        if (bytes.at(i) == '\\' && quint8(bytes.at(++i)) >= 0x80)
            return true;
    }
    return false;
}

// Strings, member names, keywords and nesting must match; numbers only need to be read as a
// number or a word, as the reader's conversions differ from QJsonDocument's at the edges.
bool agreesWithStrict(const QVariant& ours, const QVariant& strict)
{
    switch (strict.userType()) {
    case QMetaType::Nullptr:
        return ours.userType() == QMetaType::UnknownType;
    case QMetaType::Bool:
        return ours.userType() == QMetaType::Bool && ours.toBool() == strict.toBool();
    case QMetaType::LongLong:
    case QMetaType::Double:
        return ours.userType() == QMetaType::Int || ours.userType() == QMetaType::Double
            || ours.userType() == QMetaType::QString;
    case QMetaType::QString:
        return ours.userType() == QMetaType::QString && ours.toString() == asReaderText(strict.toString());
    case QMetaType::QVariantList: {
        if (ours.userType() != QMetaType::QVariantList)
            return false;
        const QVariantList x = ours.toList();
        const QVariantList y = strict.toList();
        if (x.size() != y.size())
            return false;
        for (int i = 0; i < x.size(); ++i) {
            if (!agreesWithStrict(x.at(i), y.at(i)))
                return false;
        }
        return true;
    }
    case QMetaType::QVariantMap: {
        if (ours.userType() != QMetaType::QVariantMap)
            return false;
        const QVariantMap x = ours.toMap();
        QVariantMap y;
        const QVariantMap strictMap = strict.toMap();
        for (auto i = strictMap.cbegin(); i != strictMap.cend(); ++i)
            y.insert(asReaderText(i.key()), i.value());
        // Names that differ only where the reader replaces or cuts collapse into one, and which
        // of them came last is no longer known.
        if (y.size() != strictMap.size())
            return true;
        if (x.keys() != y.keys())
            return false;
        for (auto i = x.cbegin(), j = y.cbegin(); i != x.cend(); ++i, ++j) {
            if (!agreesWithStrict(i.value(), j.value()))
                return false;
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEnvironment& environment = FuzzEnvironment::instance();
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    const Reading fromBytes = read(bytes);
    QBuffer buffer;
    buffer.setData(bytes);
    FUZZ_CHECK(buffer.open(QIODevice::ReadOnly));
    const Reading fromDevice = read(static_cast<QIODevice*>(&buffer));

    FUZZ_CHECK(fromBytes.failed == fromDevice.failed);
    if (fromBytes.failed) {
        FUZZ_CHECK(fromBytes.error == fromDevice.error);
        FUZZ_CHECK(fromBytes.line == fromDevice.line);
        FUZZ_CHECK(fromBytes.column == fromDevice.column);
        FUZZ_CHECK(fromBytes.line >= 1 && fromBytes.column >= 0);
    } else {
        FUZZ_CHECK(sameValue(fromBytes.value, fromDevice.value));
    }

    const QVariant quiet = Common::JsonParser().parseNoThrow(bytes);
    FUZZ_CHECK(fromBytes.failed ? !quiet.isValid() : sameValue(quiet, fromBytes.value));

    // A byte-order mark is skipped by QJsonDocument and taken by the reader as the start of a word.
    QJsonParseError strictError;
    const QJsonDocument strict = QJsonDocument::fromJson(bytes, &strictError);
    if (strictError.error == QJsonParseError::NoError && !bytes.startsWith("\xef\xbb\xbf")
        && !escapesHighByte(bytes)) {
        FUZZ_CHECK(!fromBytes.failed && agreesWithStrict(fromBytes.value, strict.toVariant()));
    }
    environment.checkNoReports();
    return 0;
}
