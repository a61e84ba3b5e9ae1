#include "alertcenter.h"

#include "desktopnotifier.h"
#include "safetext.h"

#include <kelvar/notifications.h>

#include <QtCore/QEvent>
#include <QtCore/QTimer>
#include <QtWidgets/QWidget>

namespace {

// A notification shows the start of a message; the desk shows the rest.
const int excerptLength = 120;

} // namespace

AlertCenter::AlertCenter(Kelvar::NotificationManager* notifications, QWidget* window, QObject* parent)
    : QObject(parent)
    , m_notifications(notifications)
    , m_window(window)
{
}

AlertCenter::~AlertCenter()
{
    for (QObject* popup : m_popups.keys())
        popup->removeEventFilter(this);
}

void AlertCenter::setDesktopNotifier(DesktopNotifier* notifier)
{
    if (m_desktop)
        m_desktop->disconnect(this);
    m_desktop = notifier;
    if (m_desktop)
        connect(m_desktop, &DesktopNotifier::activated, this, &AlertCenter::showRequested);
}

void AlertCenter::add(const QString& key, const QString& where, Kind kind, const QVector<Ventari::Message>& messages)
{
    const bool running = m_bursts.contains(key);
    Burst& burst = m_bursts[key];
    burst.where = where;
    burst.kind = kind;
    for (const Ventari::Message& message : messages) {
        if (message.user.id == m_userId && m_userId != -1)
            continue;
        if (burst.count == 0 || message.id > burst.newest.id)
            burst.newest = message;
        ++burst.count;
    }
    if (burst.count == 0) {
        m_bursts.remove(key);
        return;
    }
    if (!running)
        QTimer::singleShot(m_burstMs, this, [this, key] { onBurstOver(key); });
}

QString AlertCenter::summary(Kind kind, const QString& where, int count, const Ventari::Message& newest)
{
    if (kind == Kind::Mentions) {
        return count == 1 ? QStringLiteral("%1 mentioned you").arg(SafeText::handle(QLatin1Char('@'), newest.user.username))
                          : QStringLiteral("%1 new mentions of you").arg(count);
    }
    return count == 1 ? QStringLiteral("New message in %1").arg(where)
                      : QStringLiteral("%1 new messages in %2").arg(count).arg(where);
}

QString AlertCenter::body(int count, const Ventari::Message& newest)
{
    QString text = SafeText::plain(newest.body).simplified();
    if (text.size() > excerptLength)
        text = text.left(excerptLength - 1).trimmed() + QChar(0x2026);
    const QString author = SafeText::handle(QLatin1Char('@'), newest.user.username);
    return count == 1 ? QStringLiteral("%1: %2").arg(author, text)
                      : QStringLiteral("Newest, from %1: %2").arg(author, text);
}

bool AlertCenter::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && m_popups.contains(watched))
        emit showRequested(m_popups.value(watched));
    // The manager's own filter closes the popup after this.
    return QObject::eventFilter(watched, event);
}

// Only bursts with messages are kept, so there is always something to tell.
void AlertCenter::onBurstOver(const QString& key)
{
    raise(key, m_bursts.take(key));
}

void AlertCenter::raise(const QString& key, const Burst& burst)
{
    if (m_notifications) {
        m_notifications->addEvent(new Kelvar::SimpleNotificationInfo(
            summary(burst.kind, burst.where, burst.count, burst.newest), body(burst.count, burst.newest), 0));
        watchPopup(key, burst.where);
    }
    // In front of the user the desk's own popup says it; the desktop's would say it twice.
    if (!m_desktop || !m_desktop->isAvailable() || (m_window && m_window->isActiveWindow()))
        return;
    // While its notification is on show, a place's next one replaces it and counts on.
    const int count = burst.count + (m_desktop->isShown(key) ? m_onDesktop.value(key) : 0);
    m_onDesktop.insert(key, count);
    m_desktop->notify(key, summary(burst.kind, burst.where, count, burst.newest), body(count, burst.newest));
}

void AlertCenter::watchPopup(const QString& key, const QString& where)
{
    const QList<QWidget*> popups = m_notifications->popups();
    if (popups.isEmpty())
        return;
    QWidget* popup = popups.last();
    popup->setToolTip(QStringLiteral("Click to show %1").arg(where));
    popup->installEventFilter(this);
    m_popups.insert(popup, key);
    connect(popup, &QObject::destroyed, this, [this](QObject* gone) { m_popups.remove(gone); });
}
