#pragma once

#include <ventaritypes.h>

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QVector>

class DesktopNotifier;
class QWidget;

namespace Kelvar {
class NotificationManager;
}

// Tells the user of new messages he asked to hear about: one notification per burst ("5 new
// messages in $AAPL"), as a popup in the desk and, while the desk is not the active window, on
// the desktop. A click on either asks for the place it came from.
class AlertCenter : public QObject
{
    Q_OBJECT

public:
    enum class Kind { Messages, Mentions };

    // window: the desk, whose being active keeps notifications off the desktop.
    AlertCenter(Kelvar::NotificationManager* notifications, QWidget* window, QObject* parent = nullptr);
    ~AlertCenter() override;

    // Null: no desktop notifications. The notifier stays the caller's.
    void setDesktopNotifier(DesktopNotifier* notifier);
    // Messages arriving within this time after the first of a burst go into its notification.
    void setBurstMs(int ms) { m_burstMs = ms; }

    // New messages from the place key names (where: "$AAPL"), newest first. The user's own
    // messages are no news to him.
    void add(const QString& key, const QString& where, Kind kind, const QVector<Ventari::Message>& messages);
    void setCurrentUserId(int id) { m_userId = id; }

    // The texts of a notification of count messages, the newest given.
    static QString summary(Kind kind, const QString& where, int count, const Ventari::Message& newest);
    static QString body(int count, const Ventari::Message& newest);

signals:
    // The user clicked a notification: bring that place forward.
    void showRequested(const QString& key);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private slots:
    void onBurstOver(const QString& key);

private:
    struct Burst
    {
        QString where;
        Kind kind = Kind::Messages;
        int count = 0;
        Ventari::Message newest;
    };

    void raise(const QString& key, const Burst& burst);
    void watchPopup(const QString& key, const QString& where);

    QPointer<Kelvar::NotificationManager> m_notifications;
    QPointer<QWidget> m_window;
    QPointer<DesktopNotifier> m_desktop;
    QHash<QString, Burst> m_bursts;
    QHash<QString, int> m_onDesktop; // messages told so far by the desktop notification on show
    QHash<QObject*, QString> m_popups;
    int m_burstMs = 1500;
    int m_userId = -1;
};
