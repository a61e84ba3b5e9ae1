#pragma once

#include <corvane/corvanesink.h>

#include <QtCore/QPointer>
#include <QtCore/QSet>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtCore/QTranslator>
#include <QtCore/QVariant>
#include <QtGui/QImage>

#include <settings/settingsstore.h>

// Fails with the texts of the host reports, if there are any; log records may come and go.
#define QVERIFY_NO_REPORTS(recorder) \
    QVERIFY2((recorder).reports().isEmpty(), qPrintable((recorder).reportTexts().join(QLatin1Char('\n'))))

// Records everything the plugin reports to the host while it lives.
class ReportRecorder : public Corvane::RecordingSink
{
public:
    ReportRecorder();
    // The log threshold of every category for this recorder's lifetime (1 = all levels).
    explicit ReportRecorder(qint8 threshold);
    ~ReportRecorder() override;

private:
    Corvane::ScopedSink m_scope;
};

// A settings store of its own in a temporary folder, installed on the application.
class TemporarySettings
{
public:
    TemporarySettings();
    ~TemporarySettings();

    SettingsStore* store() const { return m_store; }
    QString fileName() const;
    // Puts a fresh store over the same file, as a restarted host would.
    SettingsStore* reopen();

private:
    QTemporaryDir m_dir;
    QPointer<SettingsStore> m_store;
};

// Everything Qt's logging receives while it lives (the host's log sink writes to stderr through it),
// kept instead of printed.
class MessageCapture
{
public:
    MessageCapture();
    ~MessageCapture();
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    QStringList messages() const;

private:
    QtMessageHandler m_previous;
};

// The whole content of a file; empty when it cannot be read.
QByteArray contentOf(const QString& path);

// "file function: expression" for each report, in order.
QStringList reportsOf(const Corvane::RecordingSink& recorder);

// A picture with enough detail that its JPEG is not trivially small.
QImage testPicture(int width = 64, int height = 48);

// Lets every text through untranslated and keeps each "context|source" it was asked for.
class RecordingTranslator : public QTranslator
{
public:
    QString translate(const char* context, const char* source, const char* = nullptr, int = -1) const override
    {
        asked.insert(QString::fromUtf8(context) + QLatin1Char('|') + QString::fromUtf8(source));
        return QString();
    }
    bool isEmpty() const override { return false; }

    mutable QSet<QString> asked;
};
