#include "deskhost.h"

#include "remotesettingsfile.h"

#include <emulator/service.h>
#include <iventariservice.h>
#include <kelvar/notifications.h>
#include <kelvar/preferences.h>
#include <kelvar/servicelocator.h>
#include <settings/settingsstore.h>
#include <ventaritypes.h>

#include <corvane/corvanesink.h>
#include <dravon/requester.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>

namespace {

QByteArray userKey(const char* suffix)
{
    return Kelvar::Preferences::instance()->username().toUtf8() + suffix;
}

// The symbol map sits beside the executable in the build tree and under share/ when installed.
QString symbolMapFolder()
{
    const QDir executableDir(QCoreApplication::applicationDirPath());
    const QString beside = executableDir.filePath(QStringLiteral("data"));
    if (QFileInfo::exists(beside))
        return beside;
    return QDir::cleanPath(executableDir.filePath(QStringLiteral("../share/ventari-desk")));
}

} // namespace

DeskHost::DeskHost() = default;

DeskHost::~DeskHost()
{
    stop();
}

bool DeskHost::start(const DeskOptions& options)
{
    // The plugin's progress records are for diagnosing; VENTARI_DESK_LOG=1 brings them back.
    if (qEnvironmentVariableIsEmpty("VENTARI_DESK_LOG"))
        Corvane::setDefaultLogThreshold(3);
    QCoreApplication* application = QCoreApplication::instance();
    m_settings = options.settingsFile.isEmpty() ? SettingsStore::of(application)
                                                : SettingsStore::install(options.settingsFile, application);

    // The theme preference is the look's to set (DeskTheme), before the plugin reads it.
    Kelvar::Preferences::instance()->setUsername(options.hostUser);
    if (qEnvironmentVariableIsEmpty("DRAVON_DATA_DIR"))
        Dravon::setDataDirectory(symbolMapFolder());

    if (options.usesEmbeddedService() && !startEmbeddedService(options))
        return false;
    if (!storeRemoteSettings(options))
        return false;
    if (m_service) {
        if (!options.signInUser.isEmpty() && !signIn(options.signInUser))
            return false;
        keepStoredSignIn();
    }
    registerNotifications();

    if (!m_plugin.load(options.pluginPath)) {
        m_errorText = m_plugin.errorText();
        return false;
    }
    return true;
}

void DeskHost::stop()
{
    m_plugin.unload();
    if (m_ownsNotifications) {
        Kelvar::ServiceLocator::instance()->destroyService<Kelvar::INotifications>();
        m_ownsNotifications = false;
    }
    if (m_service) {
        m_service->stop();
        m_service.reset();
    }
}

Ventari::IVentariService* DeskHost::facade() const
{
    auto* locator = Kelvar::ServiceLocator::instance();
    return m_plugin.isLoaded() && locator->hasService<Ventari::IVentariService>()
        ? locator->service<Ventari::IVentariService>()
        : nullptr;
}

Kelvar::NotificationManager* DeskHost::notifications() const
{
    auto* locator = Kelvar::ServiceLocator::instance();
    return locator->hasService<Kelvar::INotifications>()
        ? locator->service<Kelvar::INotifications>()->notificationManager()
        : nullptr;
}

bool DeskHost::startEmbeddedService(const DeskOptions& options)
{
    Emulator::ServiceOptions serviceOptions;
    serviceOptions.generatorPeriod = std::chrono::seconds(options.generatorSeconds);
    // The budget of a ten-minute window lets the pool refresh every few seconds, as a live desk wants.
    serviceOptions.rateWindowSeconds = 600;
    m_service = std::make_unique<Emulator::Service>(serviceOptions);
    if (!m_service->start()) {
        m_service.reset();
        m_errorText = QStringLiteral("The embedded Ventari service could not listen on a loopback port.");
        return false;
    }
    m_serviceAddress = QString::fromStdString(m_service->baseUrl());
    return true;
}

bool DeskHost::storeRemoteSettings(const DeskOptions& options)
{
    RemoteSettingsFile::Values values;
    if (m_service)
        values = RemoteSettingsFile::forService(QUrl(m_serviceAddress));
    else if (!options.serviceUrl.isEmpty())
        values = RemoteSettingsFile::forService(options.serviceUrl);
    if (!options.remoteSettingsFile.isEmpty() && !RemoteSettingsFile::read(options.remoteSettingsFile, &values, &m_errorText))
        return false;

    const QStringList missing = RemoteSettingsFile::missingKeys(values);
    if (!missing.isEmpty()) {
        m_errorText = QStringLiteral("The remote settings lack %1; the plugin cannot reach the service without them.")
                          .arg(missing.join(QStringLiteral(", ")));
        return false;
    }
    RemoteSettingsFile::store(values, m_settings);
    if (m_serviceAddress.isEmpty()) {
        const QUrl streams(values.value("streamApiUrl"));
        m_serviceAddress = streams.adjusted(QUrl::RemovePath).toString() + QLatin1Char('/');
    }
    return true;
}

// The user record is left empty until the plugin fetches it, so no earlier user shows meanwhile.
bool DeskHost::signIn(const QString& user)
{
    const std::string token = m_service->issueToken(user.toStdString());
    if (token.empty()) {
        m_errorText = QStringLiteral("--sign-in: the embedded service has no user \"%1\" "
                                     "(try alice, bob, carol, dave, zoe or ventari_ir).")
                          .arg(user);
        return false;
    }
    m_settings->setValue(userKey("vr_auth"), QString::fromStdString(token));
    m_settings->setValue(userKey("userInfo"), Ventari::userInfoToVariant(Ventari::UserInfo()));
    m_settings->sync();
    return true;
}

// A fresh embedded service knows no token of an earlier run; it honours the stored one so that a
// signed-in user stays signed in across restarts of the desk.
void DeskHost::keepStoredSignIn()
{
    const QString token = m_settings->value(userKey("vr_auth")).toString();
    const Ventari::UserInfo user = Ventari::userInfoFromVariant(m_settings->value(userKey("userInfo")));
    if (!token.isEmpty() && !user.username.isEmpty())
        m_service->adoptToken(token.toStdString(), user.username.toStdString());
}

void DeskHost::registerNotifications()
{
    auto* locator = Kelvar::ServiceLocator::instance();
    if (!locator->hasService<Kelvar::INotifications>()) {
        locator->addService<Kelvar::INotifications>(new Kelvar::Notifications);
        m_ownsNotifications = true;
    }
    notifications()->setPopupsEnabled(true);
}
