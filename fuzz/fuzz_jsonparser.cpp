// The JSON reader from memory and from a device: both readings of any input give the same value,
// or the same error at the same position, and the no-throw entry agrees with them.
#include "fuzzsupport.h"

#include "common/jsonparser.h"

#include <QtCore/QBuffer>
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
    environment.checkNoReports();
    return 0;
}
