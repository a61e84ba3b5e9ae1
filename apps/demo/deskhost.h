#pragma once

#include "deskoptions.h"
#include "pluginhost.h"

#include <QtCore/QString>

#include <memory>

class SettingsStore;

namespace Emulator {
class Service;
}
namespace Kelvar {
class NotificationManager;
}
namespace Ventari {
class IVentariService;
}

// Everything the desk plays host for, in start-up order: settings store, host preferences, the
// embedded service with its settings, the notification service, the plugin; stop undoes it in
// reverse. The window comes and goes between the two.
class DeskHost
{
public:
    DeskHost();
    ~DeskHost();
    DeskHost(const DeskHost&) = delete;
    DeskHost& operator=(const DeskHost&) = delete;

    // On false, errorText says what went wrong; stop is still safe to call.
    bool start(const DeskOptions& options);
    void stop();

    QString errorText() const { return m_errorText; }
    // The embedded service, or null when the desk uses another one.
    Emulator::Service* embeddedService() const { return m_service.get(); }
    // The address the plugin talks to, for people to read.
    QString serviceAddress() const { return m_serviceAddress; }
    // The plugin's facade, or null before start and after stop.
    Ventari::IVentariService* facade() const;
    Kelvar::NotificationManager* notifications() const;
    SettingsStore* settings() const { return m_settings; }

private:
    bool startEmbeddedService(const DeskOptions& options);
    bool storeRemoteSettings(const DeskOptions& options);
    bool signIn(const QString& user);
    void keepStoredSignIn();
    void registerNotifications();

    SettingsStore* m_settings = nullptr;
    std::unique_ptr<Emulator::Service> m_service;
    PluginHost m_plugin;
    QString m_serviceAddress;
    QString m_errorText;
    bool m_ownsNotifications = false;
};
