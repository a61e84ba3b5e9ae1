#include "notifications.h"

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtGui/QScreen>
#include <QtCore/QEvent>

namespace Kelvar {

SimpleNotificationInfo::SimpleNotificationInfo(const QString& title, const QString& text, int icon)
    : m_title(title)
    , m_text(text)
    , m_icon(icon)
{
}

NotificationManager::NotificationManager(QObject* parent)
    : QObject(parent)
{
}

NotificationManager::~NotificationManager()
{
    qDeleteAll(m_events);
}

void NotificationManager::addEvent(SimpleNotificationInfo* info)
{
    if (!info)
        return;
    m_events.append(info);
    if (m_popups)
        showPopup(*info);
    emit eventAdded(info->title(), info->text(), info->icon());
}

void NotificationManager::clear()
{
    qDeleteAll(m_events);
    m_events.clear();
}

void NotificationManager::setPopupHost(QWidget* host)
{
    if (m_popupHost)
        m_popupHost->removeEventFilter(this);
    m_popupHost = host;
    if (m_popupHost)
        m_popupHost->installEventFilter(this);
}

QWidget* NotificationManager::popupHost() const
{
    return m_popupHost;
}

QList<QWidget*> NotificationManager::popups() const
{
    QList<QWidget*> shown;
    for (const QPointer<QWidget>& popup : m_shown) {
        if (popup)
            shown.append(popup);
    }
    return shown;
}

bool NotificationManager::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_popupHost && event->type() == QEvent::Resize)
        placePopups();
    else if (event->type() == QEvent::MouseButtonPress && m_shown.contains(qobject_cast<QWidget*>(watched)))
        static_cast<QWidget*>(watched)->close();
    return QObject::eventFilter(watched, event);
}

void NotificationManager::showPopup(const SimpleNotificationInfo& info)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* popup = new QLabel(m_popupHost);
    if (!m_popupHost)
        popup->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setAttribute(Qt::WA_ShowWithoutActivating);
    popup->setMargin(12);
    popup->setWordWrap(true);
    popup->setMaximumWidth(380);
    popup->setCursor(Qt::PointingHandCursor);
    popup->setToolTip(QStringLiteral("Click to dismiss"));
    const QString colour = info.icon() == 1 ? QStringLiteral("#8a2a33") : QStringLiteral("#2b3a52");
    popup->setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; border-radius: 6px; }").arg(colour));
    popup->setText(QStringLiteral("<b>%1</b><br>%2").arg(info.title().toHtmlEscaped(), info.text().toHtmlEscaped()));
    popup->adjustSize();
    popup->installEventFilter(this);
    m_shown.append(popup);
    connect(popup, &QObject::destroyed, this, [this] {
        m_shown.removeAll(nullptr);
        placePopups();
    });
    placePopups();
    popup->show();
    popup->raise();
    QTimer::singleShot(6000, popup, &QWidget::close);
}

// The newest popup sits in the corner; older ones move up above it.
void NotificationManager::placePopups()
{
    const int margin = 16;
    QRect area;
    if (m_popupHost)
        area = m_popupHost->rect();
    else if (QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    int bottom = area.bottom() - margin;
    for (int i = m_shown.size() - 1; i >= 0; --i) {
        QWidget* popup = m_shown.at(i);
        if (!popup)
            continue;
        popup->move(area.right() - popup->width() - margin, bottom - popup->height());
        bottom -= popup->height() + 8;
    }
}

} // namespace Kelvar
