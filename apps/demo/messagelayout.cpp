#include "messagelayout.h"

#include <QtCore/QtMath>
#include <QtGui/QTextBlock>
#include <QtGui/QTextDocument>
#include <QtGui/QTextLayout>

namespace {

const int margin = 14;     // left and right
const int padding = 10;    // top and bottom
const int gap = 12;        // between avatar and text, text and thumbnail
const int actionGap = 22;  // between the actions under the body
// Below this width of text the thumbnail goes under the body rather than beside it.
const int narrowText = 420;

// The bottom of the body's line `line` (from 1), or -1 when the body has no more than `within`
// lines; a long body is counted only as far as it needs to be.
int bottomOfLine(const QTextDocument* body, int line, int within)
{
    int lines = 0;
    qreal bottom = -1;
    for (QTextBlock block = body->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            if (++lines == line)
                bottom = layout->position().y() + layout->lineAt(i).rect().bottom();
            if (lines > within)
                return qCeil(bottom);
        }
    }
    return -1;
}

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

MessageLayout::Parts MessageLayout::layout(const Ventari::Message& message, int width, QTextDocument* body,
                                           bool expanded) const
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
    const int fullHeight = qCeil(body->size().height());
    const int cut = bottomOfLine(body, collapsedLines, collapseAbove);
    parts.body = QRect(left, bodyTop, bodyWidth, cut == -1 || expanded ? fullHeight : cut);
    int contentBottom = parts.body.bottom();
    if (cut != -1) {
        parts.more = QRect(left, parts.body.bottom() + 1 + 2, m_metaMetrics.horizontalAdvance(moreText(expanded)) + 2,
                           m_metaMetrics.height());
        contentBottom = parts.more.bottom();
    }

    // Beside the body, the thumbnail may reach down past the actions; below it, it comes first.
    if (media) {
        const QPoint at = beside ? QPoint(left + textWidth - mediaSize.width(), bodyTop)
                                 : QPoint(left, contentBottom + 1 + 8);
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

QVector<MessageLayout::Anchor> MessageLayout::anchors(const QTextDocument* body, int visibleHeight)
{
    QVector<Anchor> found;
    for (QTextBlock block = body->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (auto fragment = block.begin(); layout && !fragment.atEnd(); ++fragment) {
            const QTextFragment part = fragment.fragment();
            const QTextCharFormat format = part.charFormat();
            if (!format.isAnchor() || format.anchorHref().isEmpty())
                continue;
            const int start = part.position() - block.position();
            // Of an anchor that wraps, its first line stands for it.
            const QTextLine line = layout->lineForTextPosition(start);
            if (!line.isValid())
                continue;
            const int end = qMin(start + part.length(), line.textStart() + line.textLength());
            const qreal x = line.cursorToX(start);
            const QRect rect = QRectF(layout->position() + QPointF(qMin(x, line.cursorToX(end)), line.y()),
                                      QSizeF(qAbs(line.cursorToX(end) - x), line.height()))
                                   .toAlignedRect();
            if (rect.top() >= visibleHeight)
                return found;
            // An anchor whose format changes midway comes in several fragments; they join up.
            if (!found.isEmpty() && found.last().href == format.anchorHref()
                && found.last().rect.right() + 1 >= rect.left() && found.last().rect.top() == rect.top()) {
                found.last().text += part.text();
                found.last().rect = found.last().rect.united(rect);
                continue;
            }
            found.append({format.anchorHref(), part.text(), rect});
        }
    }
    return found;
}

QString MessageLayout::visibleText(const QTextDocument* body, int visibleHeight)
{
    for (QTextBlock block = body->begin(); block.isValid(); block = block.next()) {
        const QTextLayout* layout = block.layout();
        for (int i = 0; layout && i < layout->lineCount(); ++i) {
            const QTextLine line = layout->lineAt(i);
            if (layout->position().y() + line.rect().bottom() > visibleHeight + 1) {
                QString text = body->toPlainText().left(block.position() + line.textStart()).trimmed();
                return text + QChar(0x2026);
            }
        }
    }
    return body->toPlainText();
}

QString MessageLayout::moreText(bool expanded)
{
    return expanded ? QStringLiteral("Show less") : QStringLiteral("Show more");
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

QUrl MessageLayout::chartUrl(const Ventari::Message& message)
{
    const QString large = message.chart[Ventari::Message::ChartLarge];
    return QUrl(large.isEmpty() ? message.chart[Ventari::Message::ChartOriginal] : large);
}

bool MessageLayout::hasVideo(const Ventari::Message& message)
{
    return !message.video[Ventari::Message::VideoThumb].isEmpty();
}
