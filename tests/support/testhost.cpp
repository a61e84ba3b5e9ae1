#include "testhost.h"

#include "authorization/authorization.h"
#include "iventariservice.h"
#include "ventariactionhandler.h"

#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>
#include <settings/settingsstore.h>

#include <QtCore/QCoreApplication>

namespace {

// The parts of the facade that the protocol and authorization need, built in the facade's order.
class TestFacade : public Ventari::IVentariService
{
public:
    TestFacade()
        : m_handler(new Ventari::VentariActionHandler)
        , m_authorization(new Ventari::Authorization)
    {
    }
    ~TestFacade()
    {
        delete m_authorization;
        delete m_handler;
    }

    QSharedPointer<Ventari::IVentariModel> model(Ventari::IVentariStream*, const QByteArray&, int) override
    {
        return {};
    }
    Ventari::IAuthorization* authorization() override { return m_authorization; }
    void shareImage(const QString&, const QImage&) override {}
    void shareText(const QString&) override {}
    void replyToMessage(int, const QString&) override {}

    Ventari::VentariActionHandler* m_handler;
    Ventari::Authorization* m_authorization;
};

TestFacade* facade()
{
    auto* locator = Kelvar::ServiceLocator::instance();
    return locator->hasService<Ventari::IVentariService>()
        ? static_cast<TestFacade*>(locator->service<Ventari::IVentariService>())
        : nullptr;
}

} // namespace

Emulator::Service& sharedEmulator()
{
    static Emulator::Service* service = [] {
        auto* s = new Emulator::Service;
        if (!s->start())
            qFatal("The service emulator could not start on loopback");
        return s;
    }();
    return *service;
}

void TestHost::storeRemoteSettings(SettingsStore* store)
{
    for (const auto& setting : sharedEmulator().remoteSettings()) {
        store->setValue("RemoteSettings/Ventari/" + QByteArray::fromStdString(setting.first),
                        QString::fromStdString(setting.second));
    }
}

TestHost::TestHost(const QString& hostUser, const QByteArray& storedToken)
{
    storeRemoteSettings(m_settings.store());
    Kelvar::Preferences::instance()->setUsername(hostUser);
    if (!storedToken.isEmpty())
        m_settings.store()->setValue(hostUser.toUtf8() + "vr_auth", QString::fromUtf8(storedToken));

    auto* locator = Kelvar::ServiceLocator::instance();
    m_ownsNotifications = !locator->hasService<Kelvar::INotifications>();
    if (m_ownsNotifications)
        locator->addService<Kelvar::INotifications>(new Kelvar::Notifications);
    notifications()->clear();
    locator->addService<Ventari::IVentariService>(new TestFacade);
}

TestHost::~TestHost()
{
    auto* locator = Kelvar::ServiceLocator::instance();
    locator->destroyService<Ventari::IVentariService>();
    if (m_ownsNotifications)
        locator->destroyService<Kelvar::INotifications>();
}

Ventari::Authorization* TestHost::authorization() const
{
    return facade()->m_authorization;
}

Ventari::VentariActionHandler* TestHost::handler() const
{
    return facade()->m_handler;
}

Kelvar::NotificationManager* TestHost::notifications() const
{
    return Kelvar::ServiceLocator::instance()->service<Kelvar::INotifications>()->notificationManager();
}
