#pragma once

#include "hostglobal.h"

#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>

class QWidget;

namespace Kelvar {

// A notification with a title, a text and an icon (0 plain, 1 error).
class HOST_EXPORT SimpleNotificationInfo
{
public:
    SimpleNotificationInfo(const QString& title, const QString& text, int icon);

    QString title() const { return m_title; }
    QString text() const { return m_text; }
    int icon() const { return m_icon; }

private:
    QString m_title;
    QString m_text;
    int m_icon;
};

// Shows host notifications as transient popups; keeps them for whoever wants to look back.
class HOST_EXPORT NotificationManager : public QObject
{
    Q_OBJECT

public:
    explicit NotificationManager(QObject* parent = nullptr);
    ~NotificationManager() override;

    // Takes ownership of the info.
    void addEvent(SimpleNotificationInfo* info);
    const QList<SimpleNotificationInfo*>& events() const { return m_events; }
    void clear();

    // Popups are off by default so that headless hosts and tests stay quiet.
    void setPopupsEnabled(bool enabled) { m_popups = enabled; }
    // Popups appear inside this widget's bottom-right corner, stacked upwards, newest lowest;
    // without one, at the screen's bottom-right corner.
    void setPopupHost(QWidget* host);
    QWidget* popupHost() const;
    // The popups on show.
    QList<QWidget*> popups() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    void eventAdded(const QString& title, const QString& text, int icon);

private:
    void showPopup(const SimpleNotificationInfo& info);
    void placePopups();

    QList<SimpleNotificationInfo*> m_events;
    bool m_popups = false;
    QPointer<QWidget> m_popupHost;
    QList<QPointer<QWidget>> m_shown;
};

// The locator service through which the plugin reaches the notification manager.
class HOST_EXPORT INotifications
{
public:
    virtual NotificationManager* notificationManager() = 0;

protected:
    ~INotifications() = default;
};

// The host's implementation of INotifications.
class HOST_EXPORT Notifications final : public INotifications
{
public:
    NotificationManager* notificationManager() override { return &m_manager; }

private:
    NotificationManager m_manager;
};

} // namespace Kelvar
