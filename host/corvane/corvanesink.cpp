#include "corvanesink.h"

#include <QtCore/QDateTime>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QTextStream>
#include <QtCore/QDebug>

namespace Corvane {

DefaultSink::DefaultSink() = default;

DefaultSink::~DefaultSink()
{
    delete m_file;
}

QString DefaultSink::logFilePath()
{
    const QByteArray path = qgetenv("CORVANE_LOG_FILE");
    return path.isEmpty() ? QDir::temp().filePath(QStringLiteral("corvane.log")) : QString::fromLocal8Bit(path);
}

void DefaultSink::report(const Report& report)
{
    const char* kind = report.kind == Report::Assertion ? "ASSERT" : "VERIFY";
    write(QStringLiteral("%1 failed: \"%2\" in %3 (%4:%5)")
              .arg(QLatin1String(kind), report.expression, report.function, report.file)
              .arg(report.line),
          true);
}

void DefaultSink::log(const LogRecord& record)
{
    const QString category = record.category.isEmpty() ? QStringLiteral("-") : record.category;
    write(QStringLiteral("[%1] L%2 %3: %4").arg(category).arg(record.level).arg(record.function, record.message),
          record.level >= 3);
}

void DefaultSink::counterChanged(const QString&, qint64)
{
    // Counters are statistics for the host; nothing to show while they change.
}

void DefaultSink::write(const QString& line, bool isError)
{
    if (isError)
        qWarning().noquote() << line;
    else
        qInfo().noquote() << line;

    if (!m_file) {
        m_file = new QFile(logFilePath());
        if (!m_file->open(QIODevice::Append | QIODevice::Text))
            qWarning().noquote() << "Corvane: cannot write the log file" << m_file->fileName() << m_file->errorString();
    }
    if (m_file->isOpen()) {
        QTextStream out(m_file);
        out << QDateTime::currentDateTime().toString(Qt::ISODateWithMs) << ' ' << line << '\n';
    }
}

QStringList RecordingSink::reportTexts() const
{
    QStringList texts;
    for (const Report& report : m_reports)
        texts.append(report.expression);
    return texts;
}

QStringList RecordingSink::messages(const QString& category) const
{
    QStringList texts;
    for (const LogRecord& record : m_records) {
        if (record.category == category)
            texts.append(record.message);
    }
    return texts;
}

void RecordingSink::clear()
{
    m_reports.clear();
    m_records.clear();
    m_counters.clear();
}

} // namespace Corvane
