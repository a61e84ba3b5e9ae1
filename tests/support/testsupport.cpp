#include "testsupport.h"

#include <settings/settingsstore.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QFile>
#include <QtCore/QMutex>
#include <QtCore/QMutexLocker>

namespace {

// Qt's logging may be called from any thread.
QMutex s_capturedLock;
QStringList s_captured;

void captureMessage(QtMsgType, const QMessageLogContext&, const QString& message)
{
    QMutexLocker locker(&s_capturedLock);
    s_captured << message;
}

} // namespace

ReportRecorder::ReportRecorder()
    : m_scope(this)
{
}

ReportRecorder::ReportRecorder(qint8 threshold)
    : m_scope(this)
{
    Corvane::setDefaultLogThreshold(threshold);
}

ReportRecorder::~ReportRecorder()
{
    Corvane::setDefaultLogThreshold(2);
}

TemporarySettings::TemporarySettings()
{
    reopen();
}

TemporarySettings::~TemporarySettings()
{
    delete m_store;
}

QString TemporarySettings::fileName() const
{
    return m_dir.filePath(QStringLiteral("settings.ini"));
}

SettingsStore* TemporarySettings::reopen()
{
    m_store = SettingsStore::install(fileName(), QCoreApplication::instance());
    return m_store;
}

MessageCapture::MessageCapture()
{
    {
        QMutexLocker locker(&s_capturedLock);
        s_captured.clear();
    }
    m_previous = qInstallMessageHandler(&captureMessage);
}

MessageCapture::~MessageCapture()
{
    qInstallMessageHandler(m_previous);
}

QStringList MessageCapture::messages() const
{
    QMutexLocker locker(&s_capturedLock);
    return s_captured;
}

QByteArray contentOf(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList reportsOf(const Corvane::RecordingSink& recorder)
{
    QStringList texts;
    for (const Corvane::Report& report : recorder.reports())
        texts << report.file + QLatin1Char(' ') + report.function + QStringLiteral(": ") + report.expression;
    return texts;
}

QImage testPicture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, (x * y) % 256));
    }
    return image;
}
