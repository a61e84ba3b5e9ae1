#include "testsupport.h"

#include "common/jsonparser.h"

#include <QtCore/QBuffer>
#include <QtCore/QRandomGenerator>
#include <QtTest/QtTest>

namespace {

const QString removedSlash = QStringLiteral("I removed a '/' while parsing JSON file.");
const QString malformedEscape = QStringLiteral("I kept a malformed \\u escape as text while parsing JSON file.");

template <int N>
QByteArray bytes(const char (&text)[N])
{
    return QByteArray(text, N - 1); // keeps embedded zero bytes
}

// A typed rendering of a value, so that 1 and "1" or a double and an int never compare equal.
// The strict form also tells a null string from an empty one.
QString describe(const QVariant& value, bool strict = false)
{
    QStringList items;
    switch (value.userType()) {
    case QMetaType::UnknownType:
        return QStringLiteral("null");
    case QMetaType::Bool:
        return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QMetaType::Int:
        return QStringLiteral("int:%1").arg(value.toInt());
    case QMetaType::Double:
        return QStringLiteral("double:") + QString::number(value.toDouble(), 'g', 17);
    case QMetaType::QString:
        if (strict && value.toString().isNull())
            return QStringLiteral("nullstring");
        for (const QChar c : value.toString())
            items.append(c.unicode() < 0x20 ? QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0')) : c);
        return QLatin1Char('"') + items.join(QString()) + QLatin1Char('"');
    case QMetaType::QVariantList:
        for (const QVariant& item : value.toList())
            items.append(describe(item, strict));
        return QLatin1Char('[') + items.join(QLatin1Char(',')) + QLatin1Char(']');
    case QMetaType::QVariantMap:
        for (const QString& key : value.toMap().keys())
            items.append(key + QLatin1Char(':') + describe(value.toMap().value(key), strict));
        return QLatin1Char('{') + items.join(QLatin1Char(',')) + QLatin1Char('}');
    default:
        return QStringLiteral("?") + QString::fromLatin1(value.typeName());
    }
}

QStringList* s_messages = nullptr;

void captureMessages(QtMsgType type, const QMessageLogContext&, const QString& text)
{
    if (s_messages)
        s_messages->append(type == QtWarningMsg ? text : QStringLiteral("unexpected: ") + text);
}

// What one parse gave: the value, or the exception with its position, and the warnings.
struct Outcome
{
    QString value;
    QString strictValue;
    QString error;
    int line = 0;
    int column = 0;
    QStringList warnings;

    bool operator==(const Outcome& other) const
    {
        return strictValue == other.strictValue && error == other.error && line == other.line
            && column == other.column && warnings == other.warnings;
    }
};

enum class Form { Device, Memory };

Outcome parseIn(Form form, const QByteArray& input)
{
    Outcome outcome;
    s_messages = &outcome.warnings;
    const QtMessageHandler previous = qInstallMessageHandler(captureMessages);
    try {
        const Common::JsonParser parser;
        QBuffer buffer;
        buffer.setData(input);
        buffer.open(QIODevice::ReadOnly);
        const QVariant value = form == Form::Device ? parser.parse(&buffer) : parser.parse(input);
        outcome.value = describe(value);
        outcome.strictValue = describe(value, true);
    } catch (const Common::JsonParserException& e) {
        outcome.error = QString::fromUtf8(e.what());
        outcome.line = e.line();
        outcome.column = e.column();
    }
    qInstallMessageHandler(previous);
    s_messages = nullptr;
    return outcome;
}

} // namespace

// The lenient JSON reader: values, tolerated faults, errors with positions, both input forms.
class tst_JsonParser : public QObject
{
    Q_OBJECT

private slots:
    void rules_data();
    void rules();
    void unicodeEscapes_data();
    void unicodeEscapes();
    void memoryAndDeviceAgreeOnRandomInput();
    void nestingIsLimited();
    void deviceIsLeftJustAfterTheValue_data();
    void deviceIsLeftJustAfterTheValue();
    void exceptionCountsFromWhereParsingStarts();
    void failuresThroughTheHost();
    void listHelpers();
};

void tst_JsonParser::rules_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("error");
    QTest::addColumn<int>("line");
    QTest::addColumn<int>("column");
    QTest::addColumn<QStringList>("warnings");

    auto value = [&](const char* name, const QByteArray& input, const QString& expected,
                     const QStringList& warnings = QStringList()) {
        QTest::newRow(name) << input << expected << QString() << 0 << 0 << warnings;
    };
    auto error = [&](const char* name, const QByteArray& input, const QString& message, int line, int column,
                     const QStringList& warnings = QStringList()) {
        QTest::newRow(name) << input << QString() << message << line << column << warnings;
    };

    // Well-formed documents.
    value("types", R"({"s":"text","i":12,"d":1.5,"t":true,"f":false,"n":null,"l":[1,"x"],"o":{}})",
          R"({d:double:1.5,f:false,i:int:12,l:[int:1,"x"],n:null,o:{},s:"text",t:true})");
    value("later duplicate wins", R"({"a":1,"a":2})", "{a:int:2}");
    value("nested", R"([[],{},[{"x":[null]}]])", "[[],{},[{x:[null]}]]");
    value("utf-8 string", "\"caf\xc3\xa9 \xe2\x82\xac\"", QStringLiteral("\"caf\u00e9 \u20ac\""));
    value("escapes", R"("a\"b\\c\/d\be\ff\ng\rh\ti\q")", R"("a"b\c/d\x08e\x0cf\x0ag\x0dh\x09iq")");
    value("raw newline and control bytes in a string", "\"a\nb\x01\"", R"("a\x0ab\x01")");
    value("string ends at a zero byte", bytes("\"ab\0cd\""), R"("ab")");
    value("white space of every kind", "\t\n\v\f\r [ 1 ]", "[int:1]");
    value("latin-1 no-break space and next line are white space", "\xa0\x85[\xa0" "1\x85]", "[int:1]");

    // Lenient reading.
    value("unquoted member name", "{a1: 7}", "{a1:int:7}");
    value("unquoted name may start with any byte", "{_id: 7}", "{_id:int:7}");
    error("unquoted name stops at an underscore", "{my_key: 7}", "Expected ':' after a member name: my", 1, 3);
    value("trailing comma in an array", "[1, 2, ]", R"([int:1,int:2,""])");
    value("lone comma in an array", "[,]", R"(["",""])");
    value("member without a value before a comma", R"({"a":,"b":1})", R"({a:"",b:int:1})");
    error("trailing comma in an object at the end", R"({"a":1,})", "End of file before end of string: }", 1, 8);
    error("trailing comma in an object before more text", "{\"a\":1,}\n", "Expected ':' after a member name: }", 2,
          0);
    value("bare token swallows quotes and colons", R"({"a":1"b":2})", R"({a:"1"b":2"})");
    value("bare token swallows brackets", "[a{b[c]", R"(["a{b[c"])");
    value("comment lines and blank lines", "// first\n\n   // second\r\n[1, // third\n 2]", "[int:1,int:2]");
    value("comment without an end of line before the value", "// only a comment", R"("")");
    value("lone slash is dropped", "[1,/2]", "[int:1,int:2]", {removedSlash});
    value("block comment loses its slash only", "/*c*/1", R"("*c*/1")", {removedSlash});
    value("two lone slashes in two skips", "{\"a\": / /1}", "{a:int:1}", {removedSlash, removedSlash});
    value("trailing text is ignored", R"({"a":1} garbage [ "unclosed)", "{a:int:1}");
    value("empty input", "", R"("")");

    // Bare tokens and numbers.
    value("negative int", "-3", "int:-3");
    value("exponent", "1e3", "double:1000");
    value("whole double", "2.0", "double:2");
    value("hexadecimal is a word", "0x10", R"("0x10")");
    value("keywords are case-sensitive", "True", R"("True")");
    value("keyword with a tail is a word", "truex", R"("truex")");
    value("plus sign", "+5", "int:5");
    value("leading zeros", "007", "int:7");
    value("beyond int as QVariant converts it", "3000000000", "int:-1294967296");
    value("infinity", "inf", "double:inf");
    value("lone minus", "-", R"("-")");
    value("non-ascii word", "[caf\xc3\xa9]", QStringLiteral("[\"caf\u00e9\"]"));
    value("word is read up to a unicode space", "[a\xe2\x80\x83" "b]", R"(["a"])");
    value("control byte inside a word", "[a\x01z]", R"(["a\x01z"])");

    // Malformed \u escapes: the 'u' stays as text and what follows is read as ordinary bytes.
    value("escape with a non-hex digit", R"("\u12G4")", R"("u12G4")", {malformedEscape});
    value("escape with three digits", R"(["\u00e"])", R"(["u00e"])", {malformedEscape});
    value("escape without digits before an escape", R"("\u\n\u00e9")", QStringLiteral("\"u\\x0a\u00e9\""),
          {malformedEscape});
    value("lone high before a malformed escape", R"("\ud83d\u12x")", QStringLiteral("\"\uFFFDu12x\""),
          {malformedEscape});
    value("bare words keep escapes as written", R"([a\u00e9])", R"(["a\u00e9"])");

    // Errors and their positions (line from 1, column in bytes).
    error("unclosed string", "\"abc", "End of file before end of string: abc", 1, 4);
    error("unclosed string after an escape", "\"ab\\", "End of file before end of string: ab", 1, 4);
    error("unclosed string over lines", "{\n\"a\": \"x\ny", "End of file before end of string: x\ny", 3, 1);
    error("unclosed unquoted name", "{abc", "End of file before end of string: abc", 1, 4);
    error("open brace only", "{", "End of file before end of string: ", 1, 1);
    error("missing element separator", "[1 2]", "Expected ']' to close an array", 1, 3);
    error("missing colon", R"({"a" 1})", "Expected ':' after a member name: a", 1, 5);
    error("missing member separator", R"({"a":1 "b":2})", "Expected '}' to close an object", 1, 7);
    error("unclosed object", R"({"a":1)", "Expected '}' to close an object", 1, 6);
    error("unclosed array", "[1", "Expected ']' to close an array", 1, 2);
    error("error on a later line", "[\n  1,\n  2\n  3\n]", "Expected ']' to close an array", 4, 2);
    error("lines after re-reading newlines", "[1\n,2\n,3 4]", "Expected ']' to close an array", 3, 3);
    error("comment line counts its bytes", "[1, // x\n 2 3]", "Expected ']' to close an array", 2, 3);
    error("carriage return is a byte of the line", "[1,\r\n2 3]", "Expected ']' to close an array", 2, 2);
    error("columns count bytes and names are latin-1", "{\"\xe2\x82\xac\" 1}",
          "Expected ':' after a member name: ?", 1, 7);
    error("unclosed string in a malformed escape", R"("ab\u12)", "End of file before end of string: abu12", 1, 7,
          {malformedEscape});
    error("malformed escape given back over a newline", "\"\\u1\nx", "End of file before end of string: u1\nx", 2, 1,
          {malformedEscape});
    error("unclosed string after a lone high surrogate", R"("a\ud83d)",
          QStringLiteral("End of file before end of string: a\uFFFD"), 1, 8);
    error("unclosed string in an escape after a high surrogate", R"("\ud83d\)",
          QStringLiteral("End of file before end of string: \uFFFD"), 1, 8);
    error("position after a decoded escape", R"(["\u00e9" 1])", "Expected ']' to close an array", 1, 10);
    error("zero byte ends the reported text", bytes("\"ab\0cd"), "End of file before end of string: ab", 1, 6);
}

void tst_JsonParser::rules()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QFETCH(QString, error);
    QFETCH(int, line);
    QFETCH(int, column);
    QFETCH(QStringList, warnings);

    const Outcome device = parseIn(Form::Device, input);
    QCOMPARE(device.value, expected);
    QCOMPARE(device.error, error);
    QCOMPARE(device.line, line);
    QCOMPARE(device.column, column);
    QCOMPARE(device.warnings, warnings);

    // Reading straight from memory gives exactly what reading through a device gives.
    QVERIFY(parseIn(Form::Memory, input) == device);
}

// Each escaped text is read both as a string value and as a member name, from memory and from a
// device, without warnings.
void tst_JsonParser::unicodeEscapes_data()
{
    QTest::addColumn<QByteArray>("escaped");
    QTest::addColumn<QString>("expected");

    const auto text = [](std::initializer_list<char32_t> codePoints) {
        return QString::fromUcs4(codePoints.begin(), int(codePoints.size()));
    };
    const char32_t fffd = 0xfffd;
    QTest::newRow("latin letters") << QByteArray(R"(Zo\u00eb \u00d8degaard)")
                                   << text({'Z', 'o', 0xeb, ' ', 0xd8, 'd', 'e', 'g', 'a', 'a', 'r', 'd'});
    QTest::newRow("upper-case hex") << QByteArray(R"(B\u00F6rse \u20AC)")
                                    << text({'B', 0xf6, 'r', 's', 'e', ' ', 0x20ac});
    QTest::newRow("mixed-case hex") << QByteArray(R"(\u00cA\u65E5\u672c)") << text({0xca, 0x65e5, 0x672c});
    QTest::newRow("ascii and the top of the plane") << QByteArray(R"(\u0041\u007e\uFFFD\uffff)")
                                                    << text({'A', '~', 0xfffd, 0xffff});
    const QChar pair[] = {QChar(0xd83d), QChar(0xde80), QLatin1Char('!')};
    QTest::newRow("pair") << QByteArray(R"(\ud83d\ude80!)") << QString(pair, 3);
    QTest::newRow("pair in upper case") << QByteArray(R"(\uD83D\uDE80)") << text({0x1f680});
    QTest::newRow("pairs back to back") << QByteArray(R"(\ud800\udc00\udbff\udfff)") << text({0x10000, 0x10ffff});
    QTest::newRow("lone high at the end") << QByteArray(R"(a\ud83d)") << text({'a', fffd});
    QTest::newRow("lone high before a letter") << QByteArray(R"(\ud83dx)") << text({fffd, 'x'});
    QTest::newRow("lone high before another escape") << QByteArray(R"(\ud83d\n)") << text({fffd, '\n'});
    QTest::newRow("lone high before an escaped backslash") << QByteArray(R"(\ud83d\\ude80)")
                                                           << text({fffd, '\\', 'u', 'd', 'e', '8', '0'});
    QTest::newRow("lone low") << QByteArray(R"(\ude80a)") << text({fffd, 'a'});
    QTest::newRow("low before high") << QByteArray(R"(\ude80\ud83d)") << text({fffd, fffd});
    QTest::newRow("high after high") << QByteArray(R"(\ud83d\ud83d\ude80)") << text({fffd, 0x1f680});
    QTest::newRow("high before a plain escape") << QByteArray(R"(\ud83d\u00e9)") << text({fffd, 0xe9});
    QTest::newRow("among other escapes") << QByteArray(R"(\"\u00e9\"\n\\u00e9\t\/)")
                                         << text({'"', 0xe9, '"', '\n', '\\', 'u', '0', '0', 'e', '9', '\t', '/'});
    QTest::newRow("next to raw utf-8") << QByteArray("caf\\u00e9 caf\xc3\xa9")
                                       << text({'c', 'a', 'f', 0xe9, ' ', 'c', 'a', 'f', 0xe9});
    QTest::newRow("escaped zero ends the text as a raw one does") << QByteArray(R"(ab\u0000cd)") << text({'a', 'b'});
}

void tst_JsonParser::unicodeEscapes()
{
    QFETCH(QByteArray, escaped);
    QFETCH(QString, expected);

    const QString asValue = describe(expected, true);
    const QString asName = describe(QVariantMap{{expected, 1}}, true);
    for (const Form form : {Form::Device, Form::Memory}) {
        const Outcome value = parseIn(form, '"' + escaped + '"');
        QCOMPARE(value.strictValue, asValue);
        QCOMPARE(value.warnings, QStringList());
        const Outcome name = parseIn(form, "{\"" + escaped + "\": 1}");
        QCOMPARE(name.strictValue, asName);
        QCOMPARE(name.warnings, QStringList());
    }
}

// Fragments of well-formed and broken documents, shuffled: both forms must agree on all of them.
void tst_JsonParser::memoryAndDeviceAgreeOnRandomInput()
{
    const QList<QByteArray> pieces{"{", "}", "[", "]", ",", ":", "\"", "\\", "\\u", "\\n", "/", "//c\n", " ", "\n",
                                   "\r\n", "\t", "\xa0", "\x85", "a", "_", "1", "-2", "1.5e3", "true", "null",
                                   "\"k\"", "\"v w\"", "\xc3\xa9", "\xe2\x80\x83", QByteArray(1, '\0'), "x1",
                                   "\\ud83d", "\\uDE80", "\\u00e9", "\\u0", "0", "F"};
    QRandomGenerator random(20130506);
    for (int round = 0; round < 3000; ++round) {
        QByteArray input;
        for (int i = random.bounded(1, 24); i > 0; --i)
            input += pieces.at(random.bounded(pieces.size()));
        QVERIFY2(parseIn(Form::Memory, input) == parseIn(Form::Device, input),
                 ("input: " + input.toPercentEncoding()).constData());
    }
}

// Deep nesting is an error, not a stack overflow.
void tst_JsonParser::nestingIsLimited()
{
    const QByteArray deepest = QByteArray(512, '[') + QByteArray("{a:").repeated(512) + "1" + QByteArray(512, '}')
        + QByteArray(512, ']');
    for (const Form form : {Form::Device, Form::Memory}) {
        QCOMPARE(parseIn(form, deepest).error, QString());
        const Outcome outcome = parseIn(form, "\n" + QByteArray(1000000, '['));
        QCOMPARE(outcome.error, QStringLiteral("Objects and arrays nested too deeply"));
        QCOMPARE(outcome.line, 2);
        QCOMPARE(outcome.column, 1025);
        QCOMPARE(parseIn(form, QByteArray("{a:").repeated(300000)).error, outcome.error);
    }
}

void tst_JsonParser::deviceIsLeftJustAfterTheValue_data()
{
    QTest::addColumn<QByteArray>("input");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QByteArray>("rest");
    QTest::newRow("object") << QByteArray(R"({"a":1} rest)") << "{a:int:1}" << QByteArray(" rest");
    QTest::newRow("string") << QByteArray(R"("s"x)") << R"("s")" << QByteArray("x");
    QTest::newRow("token before comma") << QByteArray("12,34") << "int:12" << QByteArray(",34");
    QTest::newRow("token before newline") << QByteArray("  // c\n  7\nnext") << "int:7" << QByteArray("\nnext");
}

void tst_JsonParser::deviceIsLeftJustAfterTheValue()
{
    QFETCH(QByteArray, input);
    QFETCH(QString, expected);
    QFETCH(QByteArray, rest);
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QCOMPARE(describe(Common::JsonParser().parse(&buffer)), expected);
    QCOMPARE(buffer.readAll(), rest);
}

// A fresh position per parse, counted from the device's position; the exception is a copyable
// runtime error.
void tst_JsonParser::exceptionCountsFromWhereParsingStarts()
{
    QByteArray input("junk\n[1 2]");
    QBuffer buffer(&input);
    QVERIFY(buffer.open(QIODevice::ReadOnly));
    QVERIFY(buffer.seek(5));
    try {
        Common::JsonParser().parse(&buffer);
        QFAIL("no exception");
    } catch (const std::runtime_error& e) {
        const Common::JsonParserException copy = dynamic_cast<const Common::JsonParserException&>(e);
        QCOMPARE(QString::fromLatin1(copy.what()), QStringLiteral("Expected ']' to close an array"));
        QCOMPARE(copy.line(), 1);
        QCOMPARE(copy.column(), 3);
    }
}

// Failures reach the host: an unreadable device as a failed check, a syntax error of parseNoThrow
// as one error record with the exception's text.
void tst_JsonParser::failuresThroughTheHost()
{
    ReportRecorder recorder(1);
    const Common::JsonParser parser;
    QCOMPARE(describe(parser.parseNoThrow(R"({"a":[1]})")), QStringLiteral("{a:[int:1]}"));
    QVERIFY(recorder.isEmpty());

    QBuffer closed;
    QCOMPARE(parser.parse(&closed).userType(), int(QMetaType::UnknownType));
    QCOMPARE(parser.parse(static_cast<QIODevice*>(nullptr)).userType(), int(QMetaType::UnknownType));
    QCOMPARE(recorder.reportTexts(), (QStringList{"device && device->isReadable()", "device && device->isReadable()"}));

    QCOMPARE(parser.parseNoThrow("{\n\"a\": \"abc").userType(), int(QMetaType::UnknownType));
    QCOMPARE(recorder.reports().size(), 2);
    QCOMPARE(recorder.records().size(), 1);
    QCOMPARE(recorder.records().first().level, 3);
    QCOMPARE(recorder.records().first().message, QStringLiteral("End of file before end of string: abc"));
}

void tst_JsonParser::listHelpers()
{
    const QStringList texts{QStringLiteral("a"), QStringLiteral("caf\u00e9"), QString()};
    const QList<QByteArray> encoded = Common::stringListToByteArrayList(texts);
    QCOMPARE(encoded, (QList<QByteArray>{"a", "caf\xc3\xa9", ""}));
    QCOMPARE(Common::byteArrayListToStringList(encoded), texts);
    QCOMPARE(Common::byteArrayListToStringList({bytes("ab\0cd"), bytes("\0x")}), (QStringList{"ab", ""}));
}

QTEST_GUILESS_MAIN(tst_JsonParser)
#include "tst_jsonparser.moc"
