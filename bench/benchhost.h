#pragma once

#include <emulator/service.h>
#include <kelvar/iplugin.h>
#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>
#include <settings/settingsstore.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QPluginLoader>
#include <QtCore/QTemporaryDir>

// What a measuring program needs around the plugin, as a host has it: a settings store pointing
// at the service emulator in-process, the notification service, a host user signed in with a
// stored token, and the plugin library loaded. The plugin is started and stopped by the program.
class BenchHost
{
public:
    explicit BenchHost(const Emulator::ServiceOptions& options = Emulator::ServiceOptions())
        : m_emulator(options)
    {
    }

    // False when the emulator or the plugin could not start; signedInAs: a seeded account.
    bool setUp(const char* signedInAs)
    {
        if (!m_settingsDir.isValid() || !m_emulator.start())
            return false;
        SettingsStore* store = SettingsStore::install(m_settingsDir.filePath(QStringLiteral("settings.ini")), qApp);
        for (const auto& setting : m_emulator.remoteSettings()) {
            store->setValue("RemoteSettings/Ventari/" + QByteArray::fromStdString(setting.first),
                            QString::fromStdString(setting.second));
        }
        store->setValue(QByteArray(hostUser) + "vr_auth", QString::fromStdString(m_emulator.issueToken(signedInAs)));
        Kelvar::Preferences::instance()->setUsername(QString::fromLatin1(hostUser));
        Kelvar::ServiceLocator::instance()->addService<Kelvar::INotifications>(new Kelvar::Notifications);
        m_loader.setFileName(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
        m_plugin = qobject_cast<Kelvar::IPlugin*>(m_loader.instance());
        return m_plugin != nullptr;
    }

    Emulator::Service& emulator() { return m_emulator; }
    Kelvar::IPlugin* plugin() const { return m_plugin; }

private:
    static constexpr const char* hostUser = "trader";

    QTemporaryDir m_settingsDir;
    Emulator::Service m_emulator;
    QPluginLoader m_loader;
    Kelvar::IPlugin* m_plugin = nullptr;
};
