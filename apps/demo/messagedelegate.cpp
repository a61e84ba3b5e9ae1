#include "messagedelegate.h"

#include "addresspolicy.h"
#include "desktheme.h"
#include "imagecache.h"
#include "messagelistmodel.h"
#include "messagetext.h"
#include "safetext.h"

#include <QtGui/QAbstractTextDocumentLayout>
#include <QtGui/QHelpEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtGui/QPainterPath>
#include <QtGui/QTextDocument>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QToolTip>

namespace {

// Body documents kept; a few screens' worth. Past this the least recently used go.
const int maximumBodies = 400;

// The row's message, without a copy when the model is the desk's own.
const Ventari::Message& messageOf(const QModelIndex& index, Ventari::Message* copy)
{
    const auto* list = qobject_cast<const MessageListModel*>(index.model());
    if (list && index.row() >= 0 && index.row() < list->rowCount())
        return list->rowMessage(index.row());
    *copy = index.data(MessageListModel::MessageRole).value<Ventari::Message>();
    return *copy;
}

int digits(int count)
{
    return int(QString::number(count).size());
}

// The name drawn for the author: a name of their own choosing, or the user name.
QString displayName(const Ventari::UserInfo& user)
{
    return user.name.trimmed().isEmpty() ? SafeText::identifier(user.username) : SafeText::plain(user.name);
}

// What "Open chart" or "Watch video" opens: the large chart or the video's page, else the rest.
QUrl openTarget(const Ventari::Message& message)
{
    if (MessageLayout::hasChart(message))
        return MessageLayout::chartUrl(message);
    const QString page = message.video[Ventari::Message::VideoUrl];
    return QUrl(page.isEmpty() ? message.video[Ventari::Message::VideoVideo] : page);
}

QUrl thumbnailOf(const Ventari::Message& message)
{
    return QUrl(MessageLayout::hasChart(message) ? message.chart[Ventari::Message::ChartThumb]
                                                 : message.video[Ventari::Message::VideoThumb]);
}

// A tooltip's line on a picture that is not shown; empty when there is nothing to say.
QString pictureNote(const QString& refusal)
{
    return refusal.isEmpty() ? QString() : QStringLiteral("\nPicture not shown: %1.").arg(refusal);
}

// The tooltip of what a click opens: what it does, or why it will not, and why its picture is
// missing.
QString openingTip(const QString& what, const QUrl& target, const QString& pictureRefusal)
{
    const QString refused = AddressPolicy::refusal(target, AddressPolicy::Use::Open);
    return (refused.isEmpty() ? what : AddressPolicy::refusalMessage(target, refused)) + pictureNote(pictureRefusal);
}

QString initials(const Ventari::UserInfo& user)
{
    const QString name = displayName(user);
    QString letters;
    for (const QString& word : name.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        letters += word.at(0).toUpper();
        if (letters.size() == 2)
            break;
    }
    return letters.isEmpty() ? QStringLiteral("?") : letters;
}

QColor avatarColour(int userId)
{
    static const QColor colours[] = {QColor(0x23, 0x4e, 0x78), QColor(0x7a, 0x3b, 0x69), QColor(0x2e, 0x7d, 0x5b),
                                     QColor(0xb5, 0x65, 0x1d), QColor(0x5b, 0x5e, 0xa6), QColor(0x9b, 0x23, 0x35)};
    return colours[unsigned(userId) % 6];
}

QSize devicePixels(const QSize& size, qreal ratio)
{
    return QSize(qRound(size.width() * ratio), qRound(size.height() * ratio));
}

} // namespace

MessageDelegate::MessageDelegate(ImageCache* images, QObject* parent)
    : QStyledItemDelegate(parent)
    , m_images(images)
    , m_time(MessageTime::forHostUser())
{
    m_bodies.setMaxCost(maximumBodies);
}

MessageDelegate::~MessageDelegate() = default;

void MessageDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const DeskTheme& theme = DeskTheme::current();
    const Item it = item(option, index);
    const bool liked = index.data(MessageListModel::LikedRole).toBool();
    const qreal ratio = option.widget ? option.widget->devicePixelRatioF() : 1.0;

    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setRenderHint(QPainter::TextAntialiasing);
    if (option.state & QStyle::State_MouseOver)
        painter->fillRect(option.rect, theme.hover);
    painter->fillRect(QRect(option.rect.left(), option.rect.bottom(), option.rect.width(), 1), theme.separator);
    if (option.state & QStyle::State_HasFocus) {
        QColor tint = option.palette.color(QPalette::Highlight);
        tint.setAlpha(24);
        painter->fillRect(option.rect.adjusted(0, 0, 0, -1), tint);
    }
    painter->translate(option.rect.topLeft());

    paintAvatar(painter, it.parts.avatar, it.message.user, ratio);

    // Author: the name first; the @username gives way before the name does.
    const QColor text = option.palette.color(QPalette::Text);
    const QFontMetrics nameMetrics(it.nameFont);
    const QFontMetrics metaMetrics(option.font);
    const QString name = displayName(it.message.user);
    const QString elidedName = nameMetrics.elidedText(name, Qt::ElideRight, it.parts.author.width());
    const int nameWidth = nameMetrics.horizontalAdvance(elidedName);
    painter->setFont(it.nameFont);
    painter->setPen(m_hoverId == it.message.id && m_hoverKind == MessageHit::Author ? theme.link : text);
    painter->drawText(it.parts.author, Qt::AlignLeft | Qt::AlignVCenter, elidedName);
    const int userSpace = it.parts.author.width() - nameWidth - 6;
    if (!it.message.user.username.isEmpty() && userSpace > metaMetrics.horizontalAdvance(QStringLiteral("@a…"))) {
        painter->setFont(option.font);
        painter->setPen(theme.dim);
        const QRect userRect = it.parts.author.adjusted(nameWidth + 6, 0, 0, 0);
        painter->drawText(userRect, Qt::AlignLeft | Qt::AlignVCenter,
                          metaMetrics.elidedText(QLatin1Char('@') + SafeText::identifier(it.message.user.username),
                                                 Qt::ElideRight, userRect.width()));
    }
    painter->setFont(option.font);
    painter->setPen(theme.dim);
    painter->drawText(it.parts.time, Qt::AlignRight | Qt::AlignVCenter,
                      m_time.relative(it.message.createdAt, QDateTime::currentDateTimeUtc()));

    // A long body shows its first lines only: nothing below them is drawn.
    painter->save();
    painter->translate(it.parts.body.topLeft());
    painter->setClipRect(QRect(QPoint(0, 0), it.parts.body.size()));
    QAbstractTextDocumentLayout::PaintContext context;
    context.palette = option.palette;
    context.palette.setColor(QPalette::Text, text);
    context.clip = QRectF(0, 0, it.parts.body.width(), it.parts.body.height());
    it.body->documentLayout()->draw(painter, context);
    painter->restore();

    if (!it.parts.more.isEmpty()) {
        QFont font = option.font;
        font.setUnderline(m_hoverId == it.message.id && m_hoverKind == MessageHit::More);
        painter->setFont(font);
        painter->setPen(theme.link);
        painter->drawText(it.parts.more, Qt::AlignLeft | Qt::AlignVCenter, MessageLayout::moreText(it.expanded));
        painter->setFont(option.font);
    }
    if (!it.parts.media.isEmpty())
        paintMedia(painter, it.parts.media, it.message, ratio);
    paintActions(painter, it, option, liked);
    // The message the keys act on, while the list has the focus.
    if (option.state & QStyle::State_HasFocus)
        paintMark(painter, it, option, index);
    painter->restore();
}

QSize MessageDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    return QSize(itemWidth(option), partsOf(option, index).height);
}

bool MessageDelegate::editorEvent(QEvent* event, QAbstractItemModel*, const QStyleOptionViewItem& option,
                                  const QModelIndex& index)
{
    if (event->type() != QEvent::MouseButtonRelease && event->type() != QEvent::MouseButtonPress)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (mouse->button() != Qt::LeftButton)
        return false;
    const MessageHit hit = hitAt(option, index, mouse->pos());
    if (hit.kind == MessageHit::None || hit.kind == MessageHit::Time)
        return false;
    if (event->type() == QEvent::MouseButtonRelease)
        activate(index, hit);
    return true;
}

bool MessageDelegate::helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                                const QModelIndex& index)
{
    const MessageHit hit = hitAt(option, index, event->pos());
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    // What a screen reader says of the part, but where a pointer shows more.
    QString tip = actionText(index, hit);
    switch (hit.kind) {
    case MessageHit::Time:
        tip = m_time.exact(message.createdAt);
        break;
    case MessageHit::Author:
        if (partsOf(option, index).avatar.contains(event->pos() - option.rect.topLeft()))
            tip += pictureNote(m_images->refusal(QUrl(message.user.avatarUrl)));
        break;
    case MessageHit::More:
        tip = index.data(MessageListModel::ExpandedRole).toBool() ? QStringLiteral("Show only the first lines (M)")
                                                                  : QStringLiteral("Show the whole message (M)");
        break;
    case MessageHit::Chart:
    case MessageHit::Video:
        tip = openingTip(hit.kind == MessageHit::Chart ? QStringLiteral("Open the chart")
                                                       : QStringLiteral("Watch the video in your browser"),
                         openTarget(message), m_images->refusal(thumbnailOf(message)));
        break;
    case MessageHit::Anchor: {
        QString value;
        if (MessageText::targetOf(hit.anchor, &value) == MessageText::Target::Link)
            tip = openingTip(AddressPolicy::displayText(QUrl(value)), QUrl(value), QString());
        break;
    }
    case MessageHit::Like:
    case MessageHit::Reply:
    case MessageHit::None:
        break;
    }
    if (tip.isEmpty()) {
        QToolTip::hideText();
        return false;
    }
    QToolTip::showText(event->globalPos(), tip, view);
    return true;
}

MessageHit MessageDelegate::hitAt(const QStyleOptionViewItem& option, const QModelIndex& index,
                                  const QPoint& point) const
{
    MessageHit hit;
    if (!index.isValid() || !option.rect.contains(point))
        return hit;
    const Item it = item(option, index);
    const QPoint at = point - option.rect.topLeft();
    const QRect authorText(it.parts.author.topLeft(),
                           QSize(qMin(it.parts.author.width(),
                                      QFontMetrics(it.nameFont).horizontalAdvance(displayName(it.message.user))),
                                 it.parts.author.height()));
    if (it.parts.avatar.contains(at) || authorText.contains(at))
        hit.kind = MessageHit::Author;
    else if (it.parts.time.contains(at))
        hit.kind = MessageHit::Time;
    else if (it.parts.like.contains(at))
        hit.kind = MessageHit::Like;
    else if (it.parts.reply.contains(at))
        hit.kind = MessageHit::Reply;
    else if (it.parts.media.contains(at) || it.parts.open.contains(at))
        hit.kind = MessageLayout::hasChart(it.message) ? MessageHit::Chart : MessageHit::Video;
    else if (it.parts.more.contains(at))
        hit.kind = MessageHit::More;
    else if (it.parts.body.contains(at)) {
        hit.anchor = it.body->documentLayout()->anchorAt(at - it.parts.body.topLeft());
        if (!hit.anchor.isEmpty())
            hit.kind = MessageHit::Anchor;
    }
    return hit;
}

QRect MessageDelegate::partRect(const QStyleOptionViewItem& option, const QModelIndex& index,
                                const MessageHit& part) const
{
    if (part.kind == MessageHit::Anchor && part.anchorIndex >= 0) {
        const Item it = item(option, index);
        const QVector<MessageLayout::Anchor> anchors = MessageLayout::anchors(it.body.data(), it.parts.body.height());
        if (part.anchorIndex >= anchors.size())
            return QRect();
        return anchors.at(part.anchorIndex).rect.translated(it.parts.body.topLeft() + option.rect.topLeft());
    }
    return partRect(option, index, part.kind);
}

QRect MessageDelegate::partRect(const QStyleOptionViewItem& option, const QModelIndex& index,
                                MessageHit::Kind kind) const
{
    const MessageLayout::Parts parts = partsOf(option, index);
    QRect rect;
    switch (kind) {
    case MessageHit::Author:
        rect = parts.author;
        break;
    case MessageHit::Time:
        rect = parts.time;
        break;
    case MessageHit::Like:
        rect = parts.like;
        break;
    case MessageHit::Reply:
        rect = parts.reply;
        break;
    case MessageHit::Chart:
    case MessageHit::Video:
        rect = parts.media;
        break;
    case MessageHit::Anchor:
        rect = parts.body;
        break;
    case MessageHit::More:
        rect = parts.more;
        break;
    case MessageHit::None:
        break;
    }
    return rect.translated(option.rect.topLeft());
}

QVector<MessageHit> MessageDelegate::actions(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QVector<MessageHit> actions;
    if (!index.isValid())
        return actions;
    const Item it = item(option, index);
    actions.append({MessageHit::Author, QString(), -1});
    const QVector<MessageLayout::Anchor> anchors = MessageLayout::anchors(it.body.data(), it.parts.body.height());
    for (int i = 0; i < anchors.size(); ++i)
        actions.append({MessageHit::Anchor, anchors.at(i).href, i});
    if (!it.parts.more.isEmpty())
        actions.append({MessageHit::More, QString(), -1});
    actions.append({MessageHit::Like, QString(), -1});
    actions.append({MessageHit::Reply, QString(), -1});
    if (!it.parts.open.isEmpty())
        actions.append({MessageLayout::hasChart(it.message) ? MessageHit::Chart : MessageHit::Video, QString(), -1});
    return actions;
}

QString MessageDelegate::actionLabel(const QStyleOptionViewItem& option, const QModelIndex& index,
                                     const MessageHit& part) const
{
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    switch (part.kind) {
    case MessageHit::Author:
        return displayName(message.user);
    case MessageHit::Anchor: {
        const Item it = item(option, index);
        const QVector<MessageLayout::Anchor> anchors = MessageLayout::anchors(it.body.data(), it.parts.body.height());
        return part.anchorIndex >= 0 && part.anchorIndex < anchors.size() ? anchors.at(part.anchorIndex).text : QString();
    }
    case MessageHit::Reply:
        return QStringLiteral("Reply");
    case MessageHit::More:
    case MessageHit::Like:
    case MessageHit::Chart:
    case MessageHit::Video:
        return actionText(index, part);
    case MessageHit::Time:
    case MessageHit::None:
        break;
    }
    return QString();
}

QString MessageDelegate::actionText(const QModelIndex& index, const MessageHit& part) const
{
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    switch (part.kind) {
    case MessageHit::Author:
        return QStringLiteral("Open %1's messages").arg(SafeText::handle(QLatin1Char('@'), message.user.username));
    case MessageHit::Anchor: {
        QString value;
        switch (MessageText::targetOf(part.anchor, &value)) {
        case MessageText::Target::Symbol:
            return QStringLiteral("Open %1").arg(SafeText::handle(QLatin1Char('$'), value));
        case MessageText::Target::User:
            return QStringLiteral("Open %1's messages").arg(SafeText::handle(QLatin1Char('@'), value));
        case MessageText::Target::Link:
            return QStringLiteral("Open %1").arg(AddressPolicy::displayText(QUrl(value)));
        case MessageText::Target::None:
            return QString();
        }
        return QString();
    }
    case MessageHit::More:
        return MessageLayout::moreText(index.data(MessageListModel::ExpandedRole).toBool());
    case MessageHit::Like:
        return index.data(MessageListModel::LikedRole).toBool() ? QStringLiteral("Unlike") : QStringLiteral("Like");
    case MessageHit::Reply:
        return QStringLiteral("Reply to %1").arg(SafeText::handle(QLatin1Char('@'), message.user.username));
    case MessageHit::Chart:
    case MessageHit::Video:
        return MessageLayout::openText(message);
    case MessageHit::Time:
    case MessageHit::None:
        break;
    }
    return QString();
}

QString MessageDelegate::spokenText(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    const Item it = item(option, index);
    QString author = displayName(it.message.user);
    if (!it.message.user.username.isEmpty())
        author += QStringLiteral(" @") + SafeText::identifier(it.message.user.username);
    return QStringLiteral("%1, %2: %3")
        .arg(author, m_time.relative(it.message.createdAt, QDateTime::currentDateTimeUtc()),
             MessageLayout::visibleText(it.body.data(), it.parts.body.height()));
}

QString MessageDelegate::spokenDetails(const QModelIndex& index) const
{
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    const int likes = message.likes.size();
    QString details = likes == 1 ? QStringLiteral("1 like") : QStringLiteral("%1 likes").arg(likes);
    if (index.data(MessageListModel::LikedRole).toBool())
        details += likes == 1 ? QStringLiteral(", yours") : QStringLiteral(", yours among them");
    details += QLatin1Char('.');
    if (MessageLayout::hasChart(message))
        details += QStringLiteral(" With a chart.");
    else if (MessageLayout::hasVideo(message))
        details += QStringLiteral(" With a video.");
    details += QStringLiteral(" Written %1.").arg(m_time.exact(message.createdAt));
    return details;
}

void MessageDelegate::setHover(int messageId, MessageHit::Kind kind)
{
    m_hoverId = messageId;
    m_hoverKind = kind;
}

void MessageDelegate::setMarked(int messageId, const MessageHit& part)
{
    m_markedId = messageId;
    m_marked = part;
}

void MessageDelegate::forget(int messageId)
{
    m_layouts.remove(messageId);
}

void MessageDelegate::forgetAll()
{
    m_layouts.clear();
}

MessageDelegate::Item MessageDelegate::item(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Item it;
    Ventari::Message copy;
    it.message = messageOf(index, &copy);
    it.expanded = index.data(MessageListModel::ExpandedRole).toBool();
    it.parts = partsOf(option, index);
    it.body = bodyDocument(it.message, option.font);
    // A document made again after it was dropped has not been laid out at this width yet.
    if (it.body->textWidth() != it.parts.body.width())
        it.body->setTextWidth(it.parts.body.width());
    it.nameFont = MessageLayout(option.font).nameFont();
    return it;
}

MessageLayout::Parts MessageDelegate::partsOf(const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    const bool expanded = index.data(MessageListModel::ExpandedRole).toBool();
    const int width = itemWidth(option);
    const int likeDigits = digits(qMax(99, message.likes.size()));
    const bool chart = MessageLayout::hasChart(message);
    const bool video = MessageLayout::hasVideo(message);
    Layout& layout = m_layouts[message.id];
    if (layout.width == width && layout.expanded == expanded && layout.likeDigits == likeDigits
        && layout.chart == chart && layout.video == video && layout.body == message.body && layout.font == option.font)
        return layout.parts;
    const QSharedPointer<QTextDocument> body = bodyDocument(message, option.font);
    layout.width = width;
    layout.font = option.font;
    layout.expanded = expanded;
    layout.body = message.body;
    layout.likeDigits = likeDigits;
    layout.chart = chart;
    layout.video = video;
    layout.parts = MessageLayout(option.font).layout(message, width, body.data(), expanded);
    return layout.parts;
}

QSharedPointer<QTextDocument> MessageDelegate::bodyDocument(const Ventari::Message& message, const QFont& font) const
{
    // A document dropped from the cache lives on in the items that still hold it.
    const QSharedPointer<QTextDocument>* found = m_bodies.object(message.id);
    if (found && (*found)->property("body").toString() == message.body && (*found)->defaultFont() == font)
        return *found;
    const DeskTheme& theme = DeskTheme::current();
    QSharedPointer<QTextDocument> document = QSharedPointer<QTextDocument>::create();
    document->setDocumentMargin(0);
    document->setDefaultFont(font);
    document->setProperty("body", message.body);
    document->setHtml(MessageText::toHtml(message.body, {theme.symbol.name(), theme.mention.name(), theme.link.name()}));
    m_bodies.insert(message.id, new QSharedPointer<QTextDocument>(document));
    return document;
}

int MessageDelegate::itemWidth(const QStyleOptionViewItem& option) const
{
    if (auto* view = qobject_cast<const QAbstractItemView*>(option.widget))
        return view->viewport()->width();
    return option.rect.width();
}

void MessageDelegate::paintAvatar(QPainter* painter, const QRect& rect, const Ventari::UserInfo& user,
                                  qreal ratio) const
{
    QPainterPath circle;
    circle.addEllipse(rect);
    QImage picture = m_images->image(QUrl(user.avatarUrl), devicePixels(rect.size(), ratio));
    if (!picture.isNull()) {
        picture.setDevicePixelRatio(ratio);
        painter->save();
        painter->setClipPath(circle);
        painter->drawImage(rect, picture);
        painter->restore();
        return;
    }
    painter->fillPath(circle, avatarColour(user.id));
    QFont font = painter->font();
    font.setPixelSize(rect.height() * 2 / 5);
    font.setWeight(QFont::DemiBold);
    painter->save();
    painter->setFont(font);
    painter->setPen(Qt::white);
    painter->drawText(rect, Qt::AlignCenter, initials(user));
    painter->restore();
}

void MessageDelegate::paintMedia(QPainter* painter, const QRect& rect, const Ventari::Message& message,
                                 qreal ratio) const
{
    const DeskTheme& theme = DeskTheme::current();
    const bool chart = MessageLayout::hasChart(message);
    const QUrl url = thumbnailOf(message);
    QPainterPath frame;
    frame.addRoundedRect(rect, 6, 6);
    painter->fillPath(frame, theme.media);
    QImage picture = m_images->image(url, devicePixels(rect.size(), ratio));
    painter->save();
    painter->setClipPath(frame);
    if (!picture.isNull()) {
        picture.setDevicePixelRatio(ratio);
        const QSize shown = picture.size() / ratio;
        painter->drawImage(QRect(rect.center() - QPoint(shown.width() / 2, shown.height() / 2), shown), picture);
    } else {
        // A refused picture says so; the tooltip says why.
        const QString what = chart ? QStringLiteral("Chart") : QStringLiteral("Video");
        painter->setPen(theme.dim);
        painter->drawText(rect, Qt::AlignCenter,
                          m_images->refusal(url).isEmpty() ? what : what + QStringLiteral("\npicture refused"));
    }
    const QString duration = SafeText::plain(message.video[Ventari::Message::VideoDuration]);
    if (!chart && !duration.isEmpty()) {
        const QFontMetrics metrics(painter->font());
        const QRect badge(rect.right() - metrics.horizontalAdvance(duration) - 14, rect.bottom() - metrics.height() - 6,
                          metrics.horizontalAdvance(duration) + 10, metrics.height() + 2);
        QPainterPath pill;
        pill.addRoundedRect(badge, 4, 4);
        painter->fillPath(pill, QColor(0, 0, 0, 170));
        painter->setPen(Qt::white);
        painter->drawText(badge, Qt::AlignCenter, duration);
    }
    painter->restore();
    painter->setPen(QPen(theme.separator, 1));
    painter->drawPath(frame);
}

void MessageDelegate::paintActions(QPainter* painter, const Item& it, const QStyleOptionViewItem& option,
                                   bool liked) const
{
    const DeskTheme& theme = DeskTheme::current();
    const QColor text = option.palette.color(QPalette::Text);
    auto hovered = [&](MessageHit::Kind kind) { return m_hoverId == it.message.id && m_hoverKind == kind; };
    painter->setFont(option.font);

    painter->setPen(liked ? theme.like : hovered(MessageHit::Like) ? text : theme.dim);
    painter->drawText(it.parts.like, Qt::AlignLeft | Qt::AlignVCenter,
                      MessageLayout::likeText(it.message.likes.size(), liked));
    painter->setPen(hovered(MessageHit::Reply) ? text : theme.dim);
    painter->drawText(it.parts.reply, Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Reply"));
    if (!it.parts.open.isEmpty()) {
        painter->setPen(hovered(MessageHit::Chart) || hovered(MessageHit::Video) ? text : theme.dim);
        painter->drawText(it.parts.open, Qt::AlignLeft | Qt::AlignVCenter, MessageLayout::openText(it.message));
    }
}

// The frame goes round the message, and round the part the keys act on when one is marked.
void MessageDelegate::paintMark(QPainter* painter, const Item& it, const QStyleOptionViewItem& option,
                                const QModelIndex& index) const
{
    const QColor highlight = option.palette.color(QPalette::Highlight);
    const QRectF row = QRectF(QPointF(0, 0), QSizeF(option.rect.size())).adjusted(2, 2, -2, -3);
    painter->setPen(QPen(highlight, 2));
    painter->setBrush(Qt::NoBrush);
    painter->drawRoundedRect(row, 5, 5);
    if (m_markedId != it.message.id || m_marked.kind == MessageHit::None)
        return;
    QStyleOptionViewItem at = option;
    at.rect.moveTopLeft(QPoint(0, 0));
    const QRect part = partRect(at, index, m_marked);
    if (part.isEmpty())
        return;
    // Words in the text have their neighbours close by; the actions below have room around them.
    const qreal pad = m_marked.kind == MessageHit::Anchor || m_marked.kind == MessageHit::More ? 2 : 4;
    painter->drawRoundedRect(QRectF(part).adjusted(-pad, -1, pad, 1), 3, 3);
}

void MessageDelegate::activate(const QModelIndex& index, const MessageHit& part)
{
    if (!index.isValid())
        return;
    Ventari::Message copy;
    const Ventari::Message& message = messageOf(index, &copy);
    MessageHit hit = part;
    if (hit.kind == MessageHit::Chart && !MessageLayout::hasChart(message))
        hit.kind = MessageLayout::hasVideo(message) ? MessageHit::Video : MessageHit::None;
    switch (hit.kind) {
    case MessageHit::More:
        emit expandClicked(message.id, !index.data(MessageListModel::ExpandedRole).toBool());
        break;
    case MessageHit::Like:
        emit likeClicked(message.id, index.data(MessageListModel::LikedRole).toBool());
        break;
    case MessageHit::Reply:
        emit replyClicked(message.id, message.user.username);
        break;
    case MessageHit::Author:
        emit userClicked(message.user.username);
        break;
    case MessageHit::Chart:
    case MessageHit::Video:
        emit linkClicked(openTarget(message));
        break;
    case MessageHit::Anchor: {
        QString value;
        switch (MessageText::targetOf(hit.anchor, &value)) {
        case MessageText::Target::Symbol:
            emit symbolClicked(value);
            break;
        case MessageText::Target::User:
            emit userClicked(value);
            break;
        case MessageText::Target::Link:
            emit linkClicked(QUrl(value));
            break;
        case MessageText::Target::None:
            break;
        }
        break;
    }
    case MessageHit::Time:
    case MessageHit::None:
        break;
    }
}
