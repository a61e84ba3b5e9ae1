#pragma once

#include "testsupport.h"

#include <emulator/service.h>

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace Kelvar {
class NotificationManager;
}

namespace Ventari {
class Authorization;
class VentariActionHandler;
}

// The emulator every test of one executable talks to: the plugin caches its remote settings for
// the life of the process, so one service serves them all. Started on first use.
Emulator::Service& sharedEmulator();

// A host as the plugin sees it: its own settings file holding the emulator's remote settings,
// the notification service, and a facade in the service locator that owns the action handler and
// the authorization state, created in the facade's order (handler first).
class TestHost
{
public:
    // hostUser: the host's user name; token: a token stored for that user before start-up.
    explicit TestHost(const QString& hostUser = QStringLiteral("trader"), const QByteArray& storedToken = QByteArray());
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    Emulator::Service& emulator() const { return sharedEmulator(); }
    TemporarySettings& settings() { return m_settings; }
    Ventari::Authorization* authorization() const;
    Ventari::VentariActionHandler* handler() const;
    Kelvar::NotificationManager* notifications() const;

    // Writes the emulator's remote settings into a store.
    static void storeRemoteSettings(SettingsStore* store);

private:
    TemporarySettings m_settings;
    bool m_ownsNotifications = false; // the locator keeps what it is given until it is taken out
};
