#pragma once

#include "messagelayout.h"
#include "messagetime.h"

#include <QtCore/QCache>
#include <QtCore/QHash>
#include <QtCore/QSharedPointer>
#include <QtCore/QUrl>
#include <QtCore/QVector>
#include <QtWidgets/QStyledItemDelegate>

class ImageCache;
class QTextDocument;

// Paints one message (avatar, author, time, body with symbols, mentions and links, thumbnail,
// like count with the user's own like, reply and open actions, "Show more" under a long body)
// and turns clicks into requests. Each message is laid out once per width; the view asks for the
// sizes of all its rows on every change, and only new or changed messages cost a layout.
class MessageDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    MessageDelegate(ImageCache* images, QObject* parent = nullptr);
    ~MessageDelegate() override;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    bool editorEvent(QEvent* event, QAbstractItemModel* model, const QStyleOptionViewItem& option,
                     const QModelIndex& index) override;
    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override;

    // What the point (in the view's coordinates) is over.
    MessageHit hitAt(const QStyleOptionViewItem& option, const QModelIndex& index, const QPoint& point) const;
    // Where a part of the item is, in the view's coordinates; an anchor without its index stands
    // for the whole body.
    QRect partRect(const QStyleOptionViewItem& option, const QModelIndex& index, const MessageHit& part) const;
    QRect partRect(const QStyleOptionViewItem& option, const QModelIndex& index, MessageHit::Kind kind) const;
    // What can be done with a message, in reading order: its author, the anchors of its body,
    // show more or less, like, reply, open chart or video.
    QVector<MessageHit> actions(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    // The words a part shows ("Alice Archer", "$AAPL", "Show more", "Like"), and what acting on
    // it does ("Open @alice's messages", "Open $AAPL", "Reply to @alice").
    QString actionLabel(const QStyleOptionViewItem& option, const QModelIndex& index, const MessageHit& part) const;
    QString actionText(const QModelIndex& index, const MessageHit& part) const;
    // The message as a screen reader reads it: author, time and the text as far as it is shown;
    // then its likes and pictures.
    QString spokenText(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    QString spokenDetails(const QModelIndex& index) const;

    // The part under the mouse, drawn brighter; -1 for none.
    void setHover(int messageId, MessageHit::Kind kind);
    int hoverId() const { return m_hoverId; }
    MessageHit::Kind hoverKind() const { return m_hoverKind; }
    // The part of the current message the keys act on, framed; None: the message as a whole.
    void setMarked(int messageId, const MessageHit& part);
    // Acts on a part of a message as a click on it would; Chart stands for the message's chart or
    // video, whichever it has.
    void activate(const QModelIndex& index, const MessageHit& part);
    // A message left the list: its layout goes.
    void forget(int messageId);
    void forgetAll();

signals:
    // liked: whether the user likes the message now, so the click means unlike.
    void likeClicked(int messageId, bool liked);
    void replyClicked(int messageId, const QString& username);
    void linkClicked(const QUrl& url);
    void symbolClicked(const QString& symbol);
    void userClicked(const QString& username);
    // expand: the whole message is asked for, else its first lines again.
    void expandClicked(int messageId, bool expand);

private:
    // A message laid out at a width, and what it was laid out from.
    struct Layout
    {
        int width = -1;
        QFont font;
        bool expanded = false;
        QString body;
        int likeDigits = 0;
        bool chart = false;
        bool video = false;
        MessageLayout::Parts parts;
    };
    struct Item
    {
        Ventari::Message message;
        MessageLayout::Parts parts;
        QSharedPointer<QTextDocument> body;
        QFont nameFont;
        bool expanded = false;
    };

    Item item(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    MessageLayout::Parts partsOf(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    QSharedPointer<QTextDocument> bodyDocument(const Ventari::Message& message, const QFont& font) const;
    int itemWidth(const QStyleOptionViewItem& option) const;
    void paintAvatar(QPainter* painter, const QRect& rect, const Ventari::UserInfo& user, qreal ratio) const;
    void paintMedia(QPainter* painter, const QRect& rect, const Ventari::Message& message, qreal ratio) const;
    void paintActions(QPainter* painter, const Item& item, const QStyleOptionViewItem& option, bool liked) const;
    void paintMark(QPainter* painter, const Item& item, const QStyleOptionViewItem& option,
                   const QModelIndex& index) const;

    ImageCache* m_images;
    MessageTime m_time;
    // Layouts by message id, for every row; the view says when a message leaves.
    mutable QHash<int, Layout> m_layouts;
    // Body documents by message id, for the rows last painted or hit; a few screens' worth.
    mutable QCache<int, QSharedPointer<QTextDocument>> m_bodies;
    int m_hoverId = -1;
    MessageHit::Kind m_hoverKind = MessageHit::None;
    int m_markedId = -1;
    MessageHit m_marked;
};
