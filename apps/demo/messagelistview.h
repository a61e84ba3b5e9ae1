#pragma once

#include "messagelayout.h"

#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtWidgets/QListView>

class ImageCache;
class MessageDelegate;
class MessageListModel;
class QLabel;
class QPushButton;

// The list of messages, newest on top. Rows that arrive above what the user reads do not move
// it: the first visible message keeps its place, and a button counts the new ones above. At the
// end of the list it asks for older messages, one request at a time, until there are none.
class MessageListView : public QListView
{
    Q_OBJECT

public:
    explicit MessageListView(QWidget* parent = nullptr);
    ~MessageListView() override;

    // The model must be a MessageListModel.
    void setModel(QAbstractItemModel* model) override;
    void setImageCache(ImageCache* images);
    MessageDelegate* messageDelegate() const { return m_delegate; }

    // Shown in the middle while there are no rows.
    void setPlaceholderText(const QString& text);
    QString placeholderText() const { return m_placeholder; }
    bool isLoadingOlder() const { return m_olderFrom != -1; }
    // New messages above the viewport the user has not scrolled up to yet.
    int unseenCount() const { return m_unseen; }
    // Where a part of a row is, in viewport coordinates.
    QRect partRect(int row, MessageHit::Kind kind) const;
    // What a point of the viewport is over.
    MessageHit hitAt(const QPoint& point) const;

public slots:
    void scrollToNewest();

protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private slots:
    void onRowsAboutToBeInserted(const QModelIndex& parent, int first, int last);
    void onRowsAboutToBeRemoved(const QModelIndex& parent, int first, int last);
    void onRowsInserted(const QModelIndex& parent, int first, int last);
    void onRowsRemoved(const QModelIndex& parent, int first, int last);
    void onScrolled(int value);
    void onAnswered();
    void onError();
    void maybeLoadOlder();

private:
    void setHover(int messageId, MessageHit::Kind kind);
    void captureAnchor(const QModelIndex& top);
    void restoreAnchor();
    void updateOverlays();
    QStyleOptionViewItem optionFor(const QModelIndex& index) const;

    MessageListModel* m_model = nullptr;
    QVector<QMetaObject::Connection> m_modelConnections;
    MessageDelegate* m_delegate = nullptr;
    QLabel* m_footer;
    QPushButton* m_newButton;
    QTimer m_clock;
    QString m_placeholder;
    // The message at the top of the viewport and its offset while rows change above it.
    int m_anchorId = -1;
    int m_anchorOffset = 0;
    int m_olderFrom = -1; // oldest id when older messages were asked for; -1: none asked
    int m_unseen = 0;
};
