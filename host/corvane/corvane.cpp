#include "corvane.h"
#include "corvanesink.h"

#include <QtCore/QMutex>
#include <QtCore/QMutexLocker>
#include <QtCore/QStringList>
#include <QtCore/QVector>

#include <memory>

namespace Corvane {
namespace {

QString fromWide(const wchar_t* text)
{
    return text ? QString::fromWCharArray(text) : QString();
}

// Log categories and thresholds are plain tables: a category handle is its index plus one.
class ServiceApi final : public IServiceApi
{
public:
    void reportAssertion(const wchar_t* file, int line, const wchar_t* function,
                         const void* object, const wchar_t* expression) override
    {
        deliver(Report::Assertion, file, line, function, object, expression);
    }

    void reportVerification(const wchar_t* file, int line, const wchar_t* function,
                            const void* object, const wchar_t* expression) override
    {
        deliver(Report::Verification, file, line, function, object, expression);
    }

    void writeLog(CategoryHandle category, int level, const wchar_t* file, int line,
                  const wchar_t* function, const void* object, const char16_t* message) override
    {
        LogRecord record;
        record.category = categoryName(category);
        record.level = level;
        record.file = fromWide(file);
        record.line = line;
        record.function = fromWide(function);
        record.object = object;
        record.message = message ? QString::fromUtf16(message) : QString();
        QMutexLocker locker(&m_mutex);
        currentSink()->log(record);
    }

    CategoryHandle registerLogCategory(const wchar_t* name, int) override
    {
        const QString category = fromWide(name);
        QMutexLocker locker(&m_mutex);
        int index = m_categories.indexOf(category);
        if (index < 0) {
            m_categories.append(category);
            index = m_categories.size() - 1;
        }
        return CategoryHandle(index + 1);
    }

    qint8 logThreshold(CategoryHandle category) override
    {
        QMutexLocker locker(&m_mutex);
        return m_thresholds.value(categoryName(category), m_defaultThreshold);
    }

    CounterHandle openCounter(const wchar_t* name) override
    {
        const QString counter = fromWide(name);
        QMutexLocker locker(&m_mutex);
        int index = m_counterNames.indexOf(counter);
        if (index < 0) {
            m_counterNames.append(counter);
            m_counterValues.append(0);
            index = m_counterNames.size() - 1;
        }
        return CounterHandle(index + 1);
    }

    void setupCounter(CounterHandle counter, qint32 value) override { setCounter(counter, value, false); }
    void addToCounter(CounterHandle counter, qint64 amount) override { setCounter(counter, amount, true); }

    void setSink(Sink* sink)
    {
        QMutexLocker locker(&m_mutex);
        m_sink = sink;
    }
    Sink* sink()
    {
        QMutexLocker locker(&m_mutex);
        return currentSink();
    }
    void setThreshold(const QString& category, qint8 threshold)
    {
        QMutexLocker locker(&m_mutex);
        m_thresholds[category] = threshold;
    }
    void setDefaultThreshold(qint8 threshold)
    {
        QMutexLocker locker(&m_mutex);
        m_defaultThreshold = threshold;
    }
    qint64 counterValue(const QString& name)
    {
        QMutexLocker locker(&m_mutex);
        const int index = m_counterNames.indexOf(name);
        return index < 0 ? -1 : m_counterValues.at(index);
    }

private:
    void deliver(Report::Kind kind, const wchar_t* file, int line, const wchar_t* function,
                 const void* object, const wchar_t* expression)
    {
        Report report;
        report.kind = kind;
        report.file = fromWide(file);
        report.line = line;
        report.function = fromWide(function);
        report.object = object;
        report.expression = fromWide(expression);
        QMutexLocker locker(&m_mutex);
        currentSink()->report(report);
    }

    void setCounter(CounterHandle counter, qint64 value, bool add)
    {
        QMutexLocker locker(&m_mutex);
        const int index = int(counter) - 1;
        if (index < 0 || index >= m_counterValues.size())
            return; // an unknown handle counts nothing
        m_counterValues[index] = add ? m_counterValues.at(index) + value : value;
        currentSink()->counterChanged(m_counterNames.at(index), m_counterValues.at(index));
    }

    QString categoryName(CategoryHandle category) const
    {
        const int index = int(category) - 1;
        return index >= 0 && index < m_categories.size() ? m_categories.at(index) : QString();
    }

    Sink* currentSink()
    {
        if (m_sink)
            return m_sink;
        if (!m_defaultSink)
            m_defaultSink.reset(new DefaultSink);
        return m_defaultSink.get();
    }

    QMutex m_mutex;
    QStringList m_categories;
    QMap<QString, qint8> m_thresholds;
    qint8 m_defaultThreshold = 2; // information and errors; detail is off unless asked for
    QStringList m_counterNames;
    QVector<qint64> m_counterValues;
    Sink* m_sink = nullptr;
    std::unique_ptr<DefaultSink> m_defaultSink;
};

ServiceApi& service()
{
    static ServiceApi instance;
    return instance;
}

} // namespace

void setSink(Sink* sink) { service().setSink(sink); }
Sink* sink() { return service().sink(); }
void setLogThreshold(const QString& category, qint8 threshold) { service().setThreshold(category, threshold); }
void setDefaultLogThreshold(qint8 threshold) { service().setDefaultThreshold(threshold); }
qint64 counterValue(const QString& name) { return service().counterValue(name); }

ScopedSink::ScopedSink(Sink* sink)
    : m_previous(service().sink())
{
    service().setSink(sink);
}

ScopedSink::~ScopedSink()
{
    service().setSink(m_previous);
}

} // namespace Corvane

Corvane::IServiceApi* OrvaneServiceApi()
{
    return &Corvane::service();
}
