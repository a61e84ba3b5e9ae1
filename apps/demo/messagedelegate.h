#pragma once

#include "messagelayout.h"
#include "messagetime.h"

#include <QtCore/QHash>
#include <QtCore/QSharedPointer>
#include <QtCore/QUrl>
#include <QtWidgets/QStyledItemDelegate>

class ImageCache;
class QTextDocument;

// Paints one message (avatar, author, time, body with symbols, mentions and links, thumbnail,
// like count with the user's own like, reply and open actions) and turns clicks into requests.
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
    // Where a part of the item is, in the view's coordinates.
    QRect partRect(const QStyleOptionViewItem& option, const QModelIndex& index, MessageHit::Kind kind) const;
    // The part under the mouse, drawn brighter; -1 for none.
    void setHover(int messageId, MessageHit::Kind kind);
    // Acts on a part of a message as a click on it would; Chart stands for the message's chart or
    // video, whichever it has.
    void activate(const QModelIndex& index, MessageHit::Kind kind);
    int hoverId() const { return m_hoverId; }
    MessageHit::Kind hoverKind() const { return m_hoverKind; }

signals:
    // liked: whether the user likes the message now, so the click means unlike.
    void likeClicked(int messageId, bool liked);
    void replyClicked(int messageId, const QString& username);
    void linkClicked(const QUrl& url);
    void symbolClicked(const QString& symbol);
    void userClicked(const QString& username);

private:
    struct Item
    {
        Ventari::Message message;
        MessageLayout::Parts parts;
        QSharedPointer<QTextDocument> body;
        QFont nameFont;
    };

    Item item(const QStyleOptionViewItem& option, const QModelIndex& index) const;
    QSharedPointer<QTextDocument> bodyDocument(const Ventari::Message& message, const QFont& font) const;
    int itemWidth(const QStyleOptionViewItem& option) const;
    void paintAvatar(QPainter* painter, const QRect& rect, const Ventari::UserInfo& user, qreal ratio) const;
    void paintMedia(QPainter* painter, const QRect& rect, const Ventari::Message& message, qreal ratio) const;
    void paintActions(QPainter* painter, const Item& item, const QStyleOptionViewItem& option, bool liked) const;
    void emitHit(const MessageHit& hit, const Ventari::Message& message, bool liked);

    ImageCache* m_images;
    MessageTime m_time;
    // Body documents by message id; a body is laid out again only when the text or width changes.
    mutable QHash<int, QSharedPointer<QTextDocument>> m_bodies;
    int m_hoverId = -1;
    MessageHit::Kind m_hoverKind = MessageHit::None;
};
