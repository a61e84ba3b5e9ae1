#pragma once

#include <corvane/corvanesink.h>

#include <QtCore/QPointer>
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
