#include "corvanesink.h"

#include "privatefiles.h"
#include "secretmask.h"

#include <QtCore/QDateTime>
#include <QtCore/QDebug>
#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>

namespace Corvane {

DefaultSink::DefaultSink(const QString& filePath, qint64 maxFileSize)
    : m_filePath(filePath)
    , m_maxFileSize(maxFileSize)
{
}

DefaultSink::~DefaultSink()
{
    delete m_file;
}

QString DefaultSink::logFilePath()
{
    const QByteArray path = qgetenv("CORVANE_LOG_FILE");
    return path.isEmpty() ? defaultLogFilePath() : QString::fromLocal8Bit(path);
}

QString DefaultSink::defaultLogFilePath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("VentariHost/corvane.log"));
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
    const QString masked = maskAccessTokens(line);
    if (isError)
        qWarning().noquote() << masked;
    else
        qInfo().noquote() << masked;

    if (!openFile())
        return;
    const QByteArray entry = (QDateTime::currentDateTime().toString(Qt::ISODateWithMs) + QLatin1Char(' ') + masked
                              + QLatin1Char('\n')).toUtf8();
    if (m_file->size() > 0 && m_file->size() + entry.size() > m_maxFileSize) {
        rotate();
        if (!openFile())
            return;
    }
    m_file->write(entry);
    m_file->flush();
}

bool DefaultSink::openFile()
{
    if (m_file)
        return true;
    if (m_failed)
        return false; // said once; the records still reach Qt's logging
    // The default folder is the host's own, so it is kept closed to others as well.
    const bool ownFolder = m_filePath == defaultLogFilePath();
    auto* file = new QFile(m_filePath);
    if (PrivateFiles::makeFolder(QFileInfo(m_filePath).absolutePath(), ownFolder) && PrivateFiles::makeFile(m_filePath)
        && file->open(QIODevice::WriteOnly | QIODevice::Append)) {
        m_file = file;
        return true;
    }
    m_failed = true;
    qWarning().noquote() << "Corvane: cannot write the log file" << m_filePath << file->errorString();
    delete file;
    return false;
}

// The full file is moved aside, replacing the one moved aside before, and a new one begins.
void DefaultSink::rotate()
{
    delete m_file;
    m_file = nullptr;
    const QString aside = m_filePath + QStringLiteral(".1");
    QFile::remove(aside);
    if (!QFile::rename(m_filePath, aside))
        QFile::remove(m_filePath);
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
