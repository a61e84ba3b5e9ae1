#pragma once

#include <corvane/corvanesink.h>

#include <QtCore/QPointer>
#include <QtCore/QStringList>
#include <QtCore/QTemporaryDir>
#include <QtCore/QVariant>

#include <settings/settingsstore.h>

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
