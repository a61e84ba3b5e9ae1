#pragma once

#include "messagelayout.h"

#include <QtCore/QTimer>
#include <QtCore/QVector>
#include <QtWidgets/QAbstractItemView>

class ImageCache;
class MessageDelegate;
class MessageListModel;
class QLabel;
class QPushButton;

// The list of messages, newest on top. Rows that arrive above what the user reads do not move
// it: the first visible message keeps its place, and a button counts the new ones above. At the
// end of the rows it shows more of what the model holds, then asks for older messages, one
// request at a time, until there are none; then it says so below the last message. Each row is
// measured when it comes or changes, not again on every change of the others, so that an update
// costs the same however many rows there are.
//
// Keys: the arrows up and down move between messages; left and right mark the parts of the
// current one (author, links, "Show more", like, reply, chart), Return or Space acts on the
// marked part, or opens the chart or video when none is marked; L likes or unlikes, R replies,
// M shows more or less.
class MessageListView : public QAbstractItemView
{
    Q_OBJECT

public:
    // Rows shown at a time when scrolling on beyond the rows there are.
    static constexpr int revealRows = 100;
    // The space below the last message that says there are no older ones.
    static constexpr int endMarkHeight = 44;

    explicit MessageListView(QWidget* parent = nullptr);
    ~MessageListView() override;

    // The model must be a MessageListModel.
    void setModel(QAbstractItemModel* model) override;
    QRect visualRect(const QModelIndex& index) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint& point) const override;
    void reset() override;
    void doItemsLayout() override;
    void setImageCache(ImageCache* images);
    MessageDelegate* messageDelegate() const { return m_delegate; }
    MessageListModel* messageModel() const { return m_model; }

    // Shown in the middle while there are no rows.
    void setPlaceholderText(const QString& text);
    QString placeholderText() const { return m_placeholder; }
    bool isLoadingOlder() const { return m_olderFrom != -1; }
    // Shown below the last message once the stream has no older ones; empty otherwise.
    QString endText() const;
    // New messages above the viewport the user has not scrolled up to yet.
    int unseenCount() const;
    // Where a part of a row is, in viewport coordinates.
    QRect partRect(int row, MessageHit::Kind kind) const;
    QRect partRect(int row, const MessageHit& part) const;
    // What a point of the viewport is over.
    MessageHit hitAt(const QPoint& point) const;
    // What can be done with a row's message, in reading order, and what each does.
    QVector<MessageHit> actionsOf(int row) const;
    QString actionLabel(int row, const MessageHit& part) const;
    QString actionText(int row, const MessageHit& part) const;
    // A row's message as a screen reader reads it, and what it says after.
    QString spokenText(int row) const;
    QString spokenDetails(int row) const;
    // Acts on a part of a row's message as a click on it would.
    void activate(int row, const MessageHit& part);
    // The part of the current message the keys act on; None: the message as a whole.
    MessageHit markedPart() const { return m_marked; }

public slots:
    void scrollToNewest();

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override { return 0; }
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex&) const override { return false; }
    void setSelection(const QRect&, QItemSelectionModel::SelectionFlags) override {}
    QRegion visualRegionForSelection(const QItemSelection&) const override { return QRegion(); }
    void rowsInserted(const QModelIndex& parent, int first, int last) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int first, int last) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void updateGeometries() override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QVector<int>& roles = QVector<int>()) override;

private slots:
    void onRowsAboutToBeInserted(const QModelIndex& parent, int first, int last);
    void onRowsRemoved(const QModelIndex& parent, int first, int last);
    void onScrolled(int value);
    void onAnswered();
    void onError();
    void onExpandClicked(int messageId, bool expand);
    // Measures every row again, keeping the first visible message in its place.
    void measureAll();
    // Measures rows first to last again; whether any height changed.
    bool measureRows(int first, int last);
    // The rows' places follow their heights, with the anchored message kept where it was.
    void relayout();
    // Moves the rows' window when the user is near either end of it.
    void updateWindow();

private:
    void setHover(int messageId, MessageHit::Kind kind);
    void setMarked(const MessageHit& part);
    void stepMark(int step);
    void captureAnchor(int skipFirst = -1, int skipLast = -1);
    void restoreAnchor();
    // The top of each row within the whole list; one more entry for the end of the last row.
    const QVector<int>& tops() const;
    int contentHeight() const;
    void noteSeen();
    void updateOverlays();
    QStyleOptionViewItem itemOption() const;
    QStyleOptionViewItem optionFor(const QModelIndex& index) const;

    MessageListModel* m_model = nullptr;
    QVector<QMetaObject::Connection> m_modelConnections;
    MessageDelegate* m_delegate = nullptr;
    QLabel* m_footer;
    QPushButton* m_newButton;
    QTimer m_clock;
    QTimer m_windowCheck;
    QTimer m_remeasure; // after the width changed, once it has settled
    QVector<int> m_heights; // by row
    mutable QVector<int> m_tops; // by row, and the end; empty until asked for again
    int m_measuredWidth = -1;
    QString m_placeholder;
    // The message at the top of the viewport and its offset while rows change above it.
    int m_anchorId = -1;
    int m_anchorOffset = 0;
    bool m_keepPlace = false; // rows shown above keep the viewport where it is, even at the top
    int m_olderFrom = -1;     // oldest id when older messages were asked for; -1: none asked
    int m_seenId = -1;        // the newest message that has been at the top of the viewport
    MessageHit m_marked;
};
