#include "messagelayout.h"

#include <QtCore/QtMath>
#include <QtGui/QTextDocument>

namespace {

const int margin = 14;     // left and right
const int padding = 10;    // top and bottom
const int gap = 12;        // between avatar and text, text and thumbnail
const int actionGap = 22;  // between the actions under the body
// Below this width of text the thumbnail goes under the body rather than beside it.
const int narrowText = 420;

} // namespace

const QSize MessageLayout::mediaSize(120, 80);

MessageLayout::MessageLayout(const QFont& font)
    : m_nameFont(font)
    , m_nameMetrics(font)
    , m_metaMetrics(font)
{
    m_nameFont.setWeight(QFont::DemiBold);
    m_nameMetrics = QFontMetrics(m_nameFont);
}

MessageLayout::Parts MessageLayout::layout(const Ventari::Message& message, int width, QTextDocument* body) const
{
    Parts parts;
    parts.avatar = QRect(margin, padding, avatarSize, avatarSize);
    const int left = parts.avatar.right() + 1 + gap;
    const int textWidth = qMax(80, width - left - margin);

    const int headerHeight = qMax(m_nameMetrics.height(), m_metaMetrics.height());
    const int timeWidth = m_metaMetrics.horizontalAdvance(QStringLiteral("Wed 00:00")) + 4;
    parts.time = QRect(left + textWidth - timeWidth, padding, timeWidth, headerHeight);
    parts.author = QRect(left, padding, qMax(0, textWidth - timeWidth - gap), headerHeight);

    const bool media = hasChart(message) || hasVideo(message);
    const bool beside = media && textWidth - mediaSize.width() - gap >= narrowText;
    const int bodyWidth = beside ? textWidth - mediaSize.width() - gap : textWidth;
    body->setTextWidth(bodyWidth);
    const int bodyTop = parts.author.bottom() + 1 + 4;
    parts.body = QRect(left, bodyTop, bodyWidth, qCeil(body->size().height()));

    // Beside the body, the thumbnail may reach down past the actions; below it, it comes first.
    int contentBottom = parts.body.bottom();
    if (media) {
        const QPoint at = beside ? QPoint(left + textWidth - mediaSize.width(), bodyTop)
                                 : QPoint(left, parts.body.bottom() + 1 + 8);
        parts.media = QRect(at, mediaSize);
        if (!beside)
            contentBottom = parts.media.bottom();
    }

    const int actionTop = contentBottom + 1 + 8;
    const int actionHeight = m_metaMetrics.height();
    int x = left;
    auto place = [&](const QString& text) {
        const QRect rect(x, actionTop, m_metaMetrics.horizontalAdvance(text) + 2, actionHeight);
        x = rect.right() + 1 + actionGap;
        return rect;
    };
    // The widest like text, so that the actions do not shift when the count changes.
    parts.like = place(likeText(qMax(99, message.likes.size()), false));
    parts.reply = place(QStringLiteral("Reply"));
    if (media)
        parts.open = place(openText(message));

    parts.height = qMax(qMax(parts.like.bottom(), parts.avatar.bottom()), parts.media.bottom()) + 1 + padding;
    return parts;
}

QString MessageLayout::likeText(int count, bool liked)
{
    return QString(liked ? QChar(0x2665) : QChar(0x2661)) + QLatin1Char(' ') + QString::number(count);
}

QString MessageLayout::openText(const Ventari::Message& message)
{
    if (hasChart(message))
        return QStringLiteral("Open chart");
    if (hasVideo(message))
        return QStringLiteral("Watch video");
    return QString();
}

bool MessageLayout::hasChart(const Ventari::Message& message)
{
    return !message.chart[Ventari::Message::ChartThumb].isEmpty();
}

bool MessageLayout::hasVideo(const Ventari::Message& message)
{
    return !message.video[Ventari::Message::VideoThumb].isEmpty();
}
