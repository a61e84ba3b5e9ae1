#include "testsupport.h"

#include <settings/settingsstore.h>

#include <QtCore/QCoreApplication>

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
