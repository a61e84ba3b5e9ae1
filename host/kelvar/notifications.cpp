#include "notifications.h"

#include <QtCore/QTimer>
#include <QtWidgets/QApplication>
#include <QtWidgets/QLabel>
#include <QtGui/QScreen>

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

void NotificationManager::showPopup(const SimpleNotificationInfo& info)
{
    if (!qobject_cast<QApplication*>(QCoreApplication::instance()))
        return;
    auto* popup = new QLabel;
    popup->setWindowFlags(Qt::ToolTip | Qt::FramelessWindowHint);
    popup->setAttribute(Qt::WA_DeleteOnClose);
    popup->setAttribute(Qt::WA_ShowWithoutActivating);
    popup->setMargin(12);
    const QString colour = info.icon() == 1 ? QStringLiteral("#a33") : QStringLiteral("#335");
    popup->setStyleSheet(QStringLiteral("QLabel { background: %1; color: white; border-radius: 4px; }").arg(colour));
    popup->setText(QStringLiteral("<b>%1</b><br>%2").arg(info.title().toHtmlEscaped(), info.text().toHtmlEscaped()));
    popup->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->availableGeometry();
        popup->move(area.right() - popup->width() - 16, area.bottom() - popup->height() - 16);
    }
    popup->show();
    QTimer::singleShot(5000, popup, &QWidget::close);
}

} // namespace Kelvar
