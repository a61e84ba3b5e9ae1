#pragma once

#include "corvane.h"

#include <QtCore/QList>
#include <QtCore/QMap>
#include <QtCore/QString>

class QFile;

namespace Corvane {

// A failed assertion or verification as the host received it.
struct Report
{
    enum Kind { Assertion, Verification };
    Kind kind = Assertion;
    QString file;
    int line = 0;
    QString function;
    const void* object = nullptr;
    QString expression;
};

// One log record as the host received it; the category is empty for the null handle.
struct LogRecord
{
    QString category;
    int level = 0;
    QString file;
    int line = 0;
    QString function;
    const void* object = nullptr;
    QString message;
};

// Where the service object delivers what the plugin reports.
class HOST_EXPORT Sink
{
public:
    virtual ~Sink() = default;
    virtual void report(const Report& report) = 0;
    virtual void log(const LogRecord& record) = 0;
    virtual void counterChanged(const QString& name, qint64 value) = 0;
};

// Writes every report and record through Qt's logging and appends it to a log file that only its
// owner may read ($CORVANE_LOG_FILE, or corvane.log in the user's own data folder). Access tokens are
// masked before anything is written. A file that would grow past its cap is moved aside to the same
// name with ".1" appended, replacing the one moved aside before.
class HOST_EXPORT DefaultSink : public Sink
{
public:
    static constexpr qint64 defaultMaxFileSize = 4 * 1024 * 1024;

    explicit DefaultSink(const QString& filePath = logFilePath(), qint64 maxFileSize = defaultMaxFileSize);
    ~DefaultSink() override;
    void report(const Report& report) override;
    void log(const LogRecord& record) override;
    void counterChanged(const QString& name, qint64 value) override;

    static QString logFilePath();
    static QString defaultLogFilePath();

private:
    void write(const QString& line, bool isError);
    bool openFile();
    void rotate();

    QString m_filePath;
    qint64 m_maxFileSize;
    QFile* m_file = nullptr;
    bool m_failed = false;
};

// Keeps everything it receives, for tests to assert on.
class HOST_EXPORT RecordingSink : public Sink
{
public:
    void report(const Report& report) override { m_reports.append(report); }
    void log(const LogRecord& record) override { m_records.append(record); }
    void counterChanged(const QString& name, qint64 value) override { m_counters[name] = value; }

    const QList<Report>& reports() const { return m_reports; }
    const QList<LogRecord>& records() const { return m_records; }
    QStringList reportTexts() const;
    QStringList messages(const QString& category) const;
    qint64 counter(const QString& name) const { return m_counters.value(name, -1); }
    bool isEmpty() const { return m_reports.isEmpty() && m_records.isEmpty(); }
    void clear();

private:
    QList<Report> m_reports;
    QList<LogRecord> m_records;
    QMap<QString, qint64> m_counters;
};

// Host-side controls of the service object.
HOST_EXPORT void setSink(Sink* sink); // null restores the default sink; not owned
HOST_EXPORT Sink* sink();
HOST_EXPORT void setLogThreshold(const QString& category, qint8 threshold);
HOST_EXPORT void setDefaultLogThreshold(qint8 threshold);
HOST_EXPORT qint64 counterValue(const QString& name);

// Installs a sink for the lifetime of a scope, restoring the previous one afterwards.
class HOST_EXPORT ScopedSink
{
public:
    explicit ScopedSink(Sink* sink);
    ~ScopedSink();
    ScopedSink(const ScopedSink&) = delete;
    ScopedSink& operator=(const ScopedSink&) = delete;

private:
    Sink* m_previous;
};

} // namespace Corvane
