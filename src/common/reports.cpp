#include "reports.h"

#include <QtCore/QIODevice>

#include <cstring>

namespace Common {
namespace Reports {
namespace {

std::wstring wide(const QString& text)
{
    return text.toStdWString();
}

QString functionName(const SourceLocation& where)
{
    return where.functionIsQualified ? QString::fromLatin1(where.function) : qualifiedFunctionName(where.function);
}

void deliver(bool assertion, const SourceLocation& where, const void* object, const char* expression)
{
    const std::wstring file = wide(sourceFileName(where.file));
    const std::wstring function = wide(functionName(where));
    const std::wstring text = wide(QString::fromUtf8(expression));
    Corvane::IServiceApi* api = OrvaneServiceApi();
    if (assertion)
        api->reportAssertion(file.c_str(), where.line, function.c_str(), object, text.c_str());
    else
        api->reportVerification(file.c_str(), where.line, function.c_str(), object, text.c_str());
}

} // namespace

// ".../src/common/notifier/methodinfo.cpp" -> "notifier/methodinfo"; ".../src/ventariplugin.cpp" -> "ventariplugin".
QString sourceFileName(const char* path)
{
    QString name = QString::fromLocal8Bit(path);
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int src = name.lastIndexOf(QLatin1String("/src/"));
    if (src >= 0)
        name = name.mid(src + 5);
    else
        name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    if (name.startsWith(QLatin1String("common/")))
        name = name.mid(7);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > name.lastIndexOf(QLatin1Char('/')))
        name.truncate(dot);
    return name;
}

// "const QString& Common::Foo::bar(int) const" -> "Common::Foo::bar";
// "Common::MethodInfo& Common::MethodInfo::operator=(...)" -> "Common::MethodInfo::operator =".
QString qualifiedFunctionName(const char* prettyFunction)
{
    QString text = QString::fromLatin1(prettyFunction);
    const int with = text.indexOf(QLatin1String(" [with "));
    if (with >= 0)
        text.truncate(with);

    // The parameter list is the last balanced (...) group.
    int end = text.size();
    const int close = text.lastIndexOf(QLatin1Char(')'));
    if (close >= 0) {
        int depth = 0;
        for (int i = close; i >= 0; --i) {
            if (text.at(i) == QLatin1Char(')'))
                ++depth;
            else if (text.at(i) == QLatin1Char('(') && --depth == 0) {
                end = i;
                break;
            }
        }
    }

    // The name starts after the last space outside template brackets (the return type ends there).
    int begin = 0;
    int angle = 0;
    for (int i = end - 1; i >= 0; --i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('>'))
            ++angle;
        else if (c == QLatin1Char('<'))
            --angle;
        else if (c == QLatin1Char(' ') && angle == 0) {
            // "operator =" style names keep their space: look past "operator".
            if (QStringView(text).mid(qMax(0, i - 8), 8) == QLatin1String("operator"))
                continue;
            begin = i + 1;
            break;
        }
    }
    QString name = text.mid(begin, end - begin);
    while (name.startsWith(QLatin1Char('*')) || name.startsWith(QLatin1Char('&')))
        name.remove(0, 1);

    const int op = name.lastIndexOf(QLatin1String("::operator"));
    if (op >= 0) {
        const int symbol = op + 10;
        if (symbol < name.size() && !name.at(symbol).isSpace() && !name.at(symbol).isLetter())
            name.insert(symbol, QLatin1Char(' '));
    }
    return name;
}

QString counterName(const QString& kind, const QString& name)
{
    QString cleaned = name;
    cleaned.replace(QLatin1Char(' '), QLatin1Char('_')).replace(QLatin1Char('.'), QLatin1Char('_'));
    return kind + QLatin1Char('.') + cleaned + QLatin1String(".count");
}

void assertionFailed(const SourceLocation& where, const void* object, const char* expression)
{
    deliver(true, where, object, expression);
}

void verificationFailed(const SourceLocation& where, const void* object, const char* expression)
{
    deliver(false, where, object, expression);
}

bool isLogEnabled(Corvane::CategoryHandle category, int level)
{
    if (level >= 3)
        return true;
    const qint8 threshold = OrvaneServiceApi()->logThreshold(category);
    return threshold >= 0 && (threshold & 7) <= level;
}

} // namespace Reports

LogRecord::LogRecord(Corvane::CategoryHandle category, int level, const SourceLocation& where, const void* object)
    : m_category(category)
    , m_level(level)
    , m_where(where)
    , m_object(object)
    , m_enabled(Reports::isLogEnabled(category, level))
{
    if (m_enabled)
        m_stream.setString(&m_text, QIODevice::WriteOnly);
}

LogRecord::~LogRecord()
{
    if (!m_enabled)
        return;
    m_stream.flush();
    if (m_text.isEmpty())
        return;
    const std::wstring file = Reports::sourceFileName(m_where.file).toStdWString();
    const std::wstring function = Reports::functionName(m_where).toStdWString();
    OrvaneServiceApi()->writeLog(m_category, m_level, file.c_str(), m_where.line, function.c_str(), m_object,
                                 reinterpret_cast<const char16_t*>(m_text.utf16()));
}

} // namespace Common
