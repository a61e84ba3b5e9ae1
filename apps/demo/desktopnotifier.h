#pragma once

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QString>
#include <QtDBus/QDBusConnection>

class QDBusPendingCallWatcher;

// Desktop notifications through the freedesktop notification service on a D-Bus session bus:
// there when a desktop session runs one, quietly absent otherwise. Nothing here waits for the bus.
class DesktopNotifier : public QObject
{
    Q_OBJECT

public:
    // The session bus by default; tests hand in a private one.
    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(), QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // The service is registered on the bus and has told what it can do.
    bool isAvailable() const { return m_available; }
    // Shows a notification, or replaces the one for key while it is still shown; the request
    // goes out at once.
    // False when there is no service to take it.
    bool notify(const QString& key, const QString& summary, const QString& body);
    // The notification for key is still on show, so another one for it replaces it.
    bool isShown(const QString& key) const { return m_shown.contains(key); }

signals:
    void availabilityChanged(bool available);
    // The user clicked the notification for key.
    void activated(const QString& key);

private slots:
    void onServiceRegistered();
    void onServiceUnregistered();
    void onOwnerAnswered(QDBusPendingCallWatcher* call);
    void onCapabilitiesAnswered(QDBusPendingCallWatcher* call);
    void onNotifyAnswered(QDBusPendingCallWatcher* call);
    void onActionInvoked(uint id, const QString& action);
    void onNotificationClosed(uint id, uint reason);

private:
    void setAvailable(bool available);
    void askCapabilities();

    QDBusConnection m_bus;
    bool m_available = false;
    bool m_markup = false;           // the service reads a little HTML in bodies
    QHash<QString, uint> m_shown;    // key to the id of its notification on show
};
