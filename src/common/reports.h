#pragma once

#include "ventariglobal.h"

#include <corvane/corvane.h>

#include <QtCore/QString>
#include <QtCore/QTextStream>

// Reports to the host: failed checks, scoped log records and usage counters.
// Call sites stay one line:
//   VR_ASSERT(cssFile.exists());
//   VR_VERIFY(connect(a, SIGNAL(done()), this, SLOT(onDone())));
//   VR_LOG(Ventari::Log::requestPool(), 2) << "Request " << id << " put to queue";
namespace Common {

// Where a report comes from: the compiler's file and function texts, turned into the host's
// forms (file relative to its module folder without extension, qualified function name) on use.
struct SourceLocation
{
    const char* file;
    int line;
    const char* function;
    bool functionIsQualified = false; // the function text is already the qualified name
};

namespace Reports {

VENTARI_EXPORT QString sourceFileName(const char* path);
VENTARI_EXPORT QString qualifiedFunctionName(const char* prettyFunction);
VENTARI_EXPORT QString counterName(const QString& kind, const QString& name);

VENTARI_EXPORT void assertionFailed(const SourceLocation& where, const void* object, const char* expression);
VENTARI_EXPORT void verificationFailed(const SourceLocation& where, const void* object, const char* expression);

inline bool check(bool ok, const SourceLocation& where, const void* object, const char* expression)
{
    if (!ok)
        assertionFailed(where, object, expression);
    return ok;
}

inline bool verify(bool ok, const SourceLocation& where, const void* object, const char* expression)
{
    if (!ok)
        verificationFailed(where, object, expression);
    return ok;
}

// Level 3 is always written; levels 1 and 2 only when the category's threshold allows them.
VENTARI_EXPORT bool isLogEnabled(Corvane::CategoryHandle category, int level);

} // namespace Reports

// A log record assembled in a text stream and written once, when it goes out of scope.
// An empty record is not written.
class VENTARI_EXPORT LogRecord
{
public:
    LogRecord(Corvane::CategoryHandle category, int level, const SourceLocation& where,
              const void* object = nullptr);
    ~LogRecord();
    LogRecord(const LogRecord&) = delete;
    LogRecord& operator=(const LogRecord&) = delete;

    bool isEnabled() const { return m_enabled; }

    template <typename T>
    LogRecord& operator<<(const T& value)
    {
        if (m_enabled)
            m_stream << value;
        return *this;
    }

private:
    Corvane::CategoryHandle m_category;
    int m_level;
    SourceLocation m_where;
    const void* m_object;
    bool m_enabled;
    QString m_text;
    QTextStream m_stream;
};

} // namespace Common

#define VR_HERE (::Common::SourceLocation{__FILE__, __LINE__, Q_FUNC_INFO})
#define VR_HERE_AS(function) (::Common::SourceLocation{__FILE__, __LINE__, function, true})

// Each evaluates its argument once and yields whether it held.
#define VR_ASSERT(cond) ::Common::Reports::check(bool(cond), VR_HERE, nullptr, #cond)
#define VR_ASSERT_FROM(object, cond) ::Common::Reports::check(bool(cond), VR_HERE, object, #cond)
#define VR_VERIFY(call) ::Common::Reports::verify(bool(call), VR_HERE, nullptr, #call)
#define VR_VERIFY_FROM(object, call) ::Common::Reports::verify(bool(call), VR_HERE, object, #call)

#define VR_LOG(category, level) ::Common::LogRecord(category, level, VR_HERE)
