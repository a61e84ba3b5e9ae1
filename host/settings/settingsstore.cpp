#include "settingsstore.h"

#include "privatefiles.h"

#include <QtCore/QCoreApplication>
#include <QtCore/QFileInfo>
#include <QtCore/QSettings>
#include <QtCore/QStandardPaths>
#include <QtCore/QDir>

namespace {
const char storeName[] = "SettingsStore";
}

SettingsStore* SettingsStore::install(const QString& fileName, QCoreApplication* application)
{
    if (!application)
        return nullptr;
    delete application->findChild<SettingsStore*>(QLatin1String(storeName), Qt::FindDirectChildrenOnly);
    return new SettingsStore(fileName, application);
}

SettingsStore* SettingsStore::of(QCoreApplication* application)
{
    if (!application)
        return nullptr;
    if (auto* store = application->findChild<SettingsStore*>(QLatin1String(storeName), Qt::FindDirectChildrenOnly))
        return store;
    return new SettingsStore(defaultFileName(), application);
}

QString SettingsStore::defaultFileName()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation))
        .filePath(QStringLiteral("VentariHost/settings.ini"));
}

// The file keeps the users' access tokens: it is made readable by its owner only before QSettings
// first writes it, and QSettings keeps the permissions of the file it replaces.
SettingsStore::SettingsStore(const QString& fileName, QObject* parent)
    : QObject(parent)
    , m_settings(nullptr)
{
    setObjectName(QLatin1String(storeName));
    if (!PrivateFiles::makeFolder(QFileInfo(fileName).absolutePath()) || !PrivateFiles::makeFile(fileName))
        qWarning("SettingsStore: cannot make %s private to its owner", qPrintable(fileName));
    m_settings = new QSettings(fileName, QSettings::IniFormat);
}

SettingsStore::~SettingsStore()
{
    sync();
    delete m_settings;
}

QVariant SettingsStore::value(const QByteArray& key, const QVariant& defaultValue, int) const
{
    return m_settings->value(QString::fromUtf8(key), defaultValue);
}

// Every write replaces the whole file and waits for the disk, so the values changed together in one
// pass of the event loop are written once.
void SettingsStore::setValue(const QByteArray& key, const QVariant& value, int)
{
    m_settings->setValue(QString::fromUtf8(key), value);
    if (m_syncPending)
        return;
    m_syncPending = true;
    QMetaObject::invokeMethod(this, [this] { sync(); }, Qt::QueuedConnection);
}

QString SettingsStore::fileName() const
{
    return m_settings->fileName();
}

void SettingsStore::sync()
{
    m_syncPending = false;
    m_settings->sync();
    if (m_settings->status() != QSettings::NoError)
        qWarning("SettingsStore: cannot write %s", qPrintable(m_settings->fileName()));
    else if (!PrivateFiles::isPrivate(m_settings->fileName()))
        PrivateFiles::makeFile(m_settings->fileName()); // opened to others from outside meanwhile
}
