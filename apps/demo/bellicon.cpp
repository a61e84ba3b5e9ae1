#include "bellicon.h"

#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QPixmap>

QIcon BellIcon::make(const QColor& color, bool ringing)
{
    QIcon icon;
    for (const int side : {16, 32}) {
        QPixmap pixmap(side, side);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(side / 16.0, side / 16.0);
        QPainterPath bell;
        bell.moveTo(8, 1.8);
        bell.cubicTo(4.8, 1.8, 3.8, 4.5, 3.8, 7);
        bell.lineTo(3.8, 10);
        bell.lineTo(2.3, 12);
        bell.lineTo(13.7, 12);
        bell.lineTo(12.2, 10);
        bell.lineTo(12.2, 7);
        bell.cubicTo(12.2, 4.5, 11.2, 1.8, 8, 1.8);
        bell.closeSubpath();
        painter.setPen(QPen(color, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.setBrush(ringing ? QBrush(color) : QBrush(Qt::NoBrush));
        painter.drawPath(bell);
        painter.setBrush(color);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(QPointF(8, 13.6), 1.6, 1.6);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
