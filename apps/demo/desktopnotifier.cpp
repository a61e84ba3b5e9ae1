#include "desktopnotifier.h"

#include <QtDBus/QDBusConnectionInterface>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <QtDBus/QDBusServiceWatcher>
#include <QtDBus/QDBusVariant>

namespace {

const QString service = QStringLiteral("org.freedesktop.Notifications");
const QString path = QStringLiteral("/org/freedesktop/Notifications");
const QString interface = QStringLiteral("org.freedesktop.Notifications");
const QString defaultAction = QStringLiteral("default");

QDBusMessage notificationCall(const QString& method)
{
    return QDBusMessage::createMethodCall(service, path, interface, method);
}

} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent)
    , m_bus(bus)
{
    if (!m_bus.isConnected())
        return;
    auto* watcher = new QDBusServiceWatcher(service, m_bus,
                                            QDBusServiceWatcher::WatchForRegistration
                                                | QDBusServiceWatcher::WatchForUnregistration,
                                            this);
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, &DesktopNotifier::onServiceRegistered);
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, &DesktopNotifier::onServiceUnregistered);
    m_bus.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                  SLOT(onActionInvoked(uint, QString)));
    m_bus.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                  SLOT(onNotificationClosed(uint, uint)));
    const QDBusMessage owner = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.DBus"),
                                                              QStringLiteral("/org/freedesktop/DBus"),
                                                              QStringLiteral("org.freedesktop.DBus"),
                                                              QStringLiteral("NameHasOwner"))
        << service;
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(owner), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onOwnerAnswered);
}

DesktopNotifier::~DesktopNotifier() = default;

bool DesktopNotifier::notify(const QString& key, const QString& summary, const QString& body)
{
    if (!m_available)
        return false;
    QVariantMap hints;
    hints.insert(QStringLiteral("category"), QStringLiteral("im.received"));
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral("ventari-desk"));
    QDBusMessage call = notificationCall(QStringLiteral("Notify"));
    call << QStringLiteral("Ventari Desk") << m_shown.value(key, 0u) << QString() << summary
         << (m_markup ? body.toHtmlEscaped() : body) << QStringList{defaultAction, QStringLiteral("Show")} << hints
         << -1;
    auto* watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(call), this);
    watcher->setProperty("key", key);
    connect(watcher, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onNotifyAnswered);
    return true;
}

void DesktopNotifier::onServiceRegistered()
{
    askCapabilities();
}

void DesktopNotifier::onServiceUnregistered()
{
    m_shown.clear();
    setAvailable(false);
}

void DesktopNotifier::onOwnerAnswered(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<bool> reply = *call;
    if (!reply.isError() && reply.value())
        askCapabilities();
}

void DesktopNotifier::onCapabilitiesAnswered(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<QStringList> reply = *call;
    if (reply.isError())
        return;
    m_markup = reply.value().contains(QStringLiteral("body-markup"));
    setAvailable(true);
}

void DesktopNotifier::onNotifyAnswered(QDBusPendingCallWatcher* call)
{
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError())
        return;
    const QString key = call->property("key").toString();
    m_shown.insert(key, reply.value());
}

void DesktopNotifier::onActionInvoked(uint id, const QString& action)
{
    const QString key = m_shown.key(id);
    if (action == defaultAction && !key.isNull())
        emit activated(key);
}

// A closed notification is not replaced: the next one is shown anew.
void DesktopNotifier::onNotificationClosed(uint id, uint)
{
    const QString key = m_shown.key(id);
    if (!key.isNull())
        m_shown.remove(key);
}

void DesktopNotifier::setAvailable(bool available)
{
    if (available == m_available)
        return;
    m_available = available;
    emit availabilityChanged(available);
}

void DesktopNotifier::askCapabilities()
{
    auto* call = new QDBusPendingCallWatcher(m_bus.asyncCall(notificationCall(QStringLiteral("GetCapabilities"))), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::onCapabilitiesAnswered);
}
