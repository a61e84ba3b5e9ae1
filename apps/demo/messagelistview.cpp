#include "messagelistview.h"

#include "desktheme.h"
#include "imagecache.h"
#include "messagedelegate.h"
#include "messagelistmodel.h"

#include <iventarimodel.h>

#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>

namespace {

// Relative times ("4 min") are redrawn this often.
const int clockPeriodMs = 30 * 1000;

} // namespace

MessageListView::MessageListView(QWidget* parent)
    : QListView(parent)
    , m_footer(new QLabel(viewport()))
    , m_newButton(new QPushButton(this))
{
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setResizeMode(QListView::Adjust);
    setUniformItemSizes(false);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    verticalScrollBar()->setSingleStep(24);

    const DeskTheme& theme = DeskTheme::current();
    m_footer->setText(QStringLiteral("Loading older messages…"));
    m_footer->setAlignment(Qt::AlignCenter);
    m_footer->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 10px; padding: 3px 12px; }")
                                .arg(theme.dim.name(), palette().color(QPalette::Window).name()));
    m_footer->hide();

    m_newButton->setCursor(Qt::PointingHandCursor);
    m_newButton->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: none; "
                                              "border-radius: 12px; padding: 4px 14px; font-weight: 600; }")
                                   .arg(palette().color(QPalette::Highlight).name()));
    m_newButton->hide();
    connect(m_newButton, &QPushButton::clicked, this, &MessageListView::scrollToNewest);

    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &MessageListView::onScrolled);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, this, &MessageListView::maybeLoadOlder,
            Qt::QueuedConnection);
    connect(&m_clock, &QTimer::timeout, viewport(), QOverload<>::of(&QWidget::update));
    m_clock.start(clockPeriodMs);
}

MessageListView::~MessageListView() = default;

void MessageListView::setModel(QAbstractItemModel* model)
{
    if (model == QListView::model())
        return;
    // The item view's own connections to the model stay its business.
    for (const QMetaObject::Connection& connection : qAsConst(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_model = qobject_cast<MessageListModel*>(model);
    // The anchor is taken before the view's own handlers change its layout, and put back after.
    if (m_model) {
        m_modelConnections << connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                                      &MessageListView::onRowsAboutToBeInserted)
                           << connect(m_model, &QAbstractItemModel::rowsAboutToBeRemoved, this,
                                      &MessageListView::onRowsAboutToBeRemoved);
    }
    QListView::setModel(model);
    m_anchorId = -1;
    m_olderFrom = -1;
    m_unseen = 0;
    updateOverlays();
    if (!m_model)
        return;
    m_modelConnections << connect(m_model, &QAbstractItemModel::rowsInserted, this, &MessageListView::onRowsInserted)
                       << connect(m_model, &QAbstractItemModel::rowsRemoved, this, &MessageListView::onRowsRemoved)
                       << connect(m_model, &QAbstractItemModel::modelReset, this,
                                  [this] {
                                      m_olderFrom = -1;
                                      m_unseen = 0;
                                      updateOverlays();
                                  })
                       << connect(m_model, &MessageListModel::answered, this, &MessageListView::onAnswered)
                       << connect(m_model, &MessageListModel::errorOccurred, this, &MessageListView::onError);
}

void MessageListView::setImageCache(ImageCache* images)
{
    m_delegate = new MessageDelegate(images, this);
    setItemDelegate(m_delegate);
    connect(images, &ImageCache::imageReady, viewport(), QOverload<>::of(&QWidget::update));
}

void MessageListView::setPlaceholderText(const QString& text)
{
    m_placeholder = text;
    viewport()->update();
}

QRect MessageListView::partRect(int row, MessageHit::Kind kind) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QRect();
    const QModelIndex index = m_model->index(row);
    return m_delegate->partRect(optionFor(index), index, kind);
}

MessageHit MessageListView::hitAt(const QPoint& point) const
{
    if (!m_delegate)
        return MessageHit();
    const QModelIndex index = indexAt(point);
    return m_delegate->hitAt(optionFor(index), index, point);
}

void MessageListView::scrollToNewest()
{
    verticalScrollBar()->setValue(0);
}

void MessageListView::paintEvent(QPaintEvent* event)
{
    QListView::paintEvent(event);
    if (!m_model || m_model->rowCount() > 0 || m_placeholder.isEmpty())
        return;
    QPainter painter(viewport());
    painter.setPen(DeskTheme::current().dim);
    painter.drawText(viewport()->rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap, m_placeholder);
}

// The arrows move between messages; L likes or unlikes the current one, R replies to it and
// Return opens its chart or video.
void MessageListView::keyPressEvent(QKeyEvent* event)
{
    MessageHit::Kind kind = MessageHit::None;
    if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier))) {
        switch (event->key()) {
        case Qt::Key_L:
            kind = MessageHit::Like;
            break;
        case Qt::Key_R:
            kind = MessageHit::Reply;
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            kind = MessageHit::Chart;
            break;
        default:
            break;
        }
    }
    if (kind == MessageHit::None || !currentIndex().isValid() || !m_delegate) {
        QListView::keyPressEvent(event);
        return;
    }
    m_delegate->activate(currentIndex(), kind);
    event->accept();
}

void MessageListView::mouseMoveEvent(QMouseEvent* event)
{
    QListView::mouseMoveEvent(event);
    if (!m_delegate)
        return;
    const QModelIndex index = indexAt(event->pos());
    const MessageHit hit = hitAt(event->pos());
    const bool clickable = hit.kind != MessageHit::None && hit.kind != MessageHit::Time;
    viewport()->setCursor(clickable ? Qt::PointingHandCursor : Qt::ArrowCursor);
    setHover(index.isValid() ? index.data(MessageListModel::MessageIdRole).toInt() : -1,
             clickable ? hit.kind : MessageHit::None);
}

void MessageListView::leaveEvent(QEvent* event)
{
    QListView::leaveEvent(event);
    if (m_delegate)
        setHover(-1, MessageHit::None);
}

void MessageListView::resizeEvent(QResizeEvent* event)
{
    QListView::resizeEvent(event);
    updateOverlays();
}

void MessageListView::onRowsAboutToBeInserted(const QModelIndex&, int, int)
{
    captureAnchor(indexAt(QPoint(1, 1)));
}

// A top row that is about to go hands the anchor to the first row after the removed ones.
void MessageListView::onRowsAboutToBeRemoved(const QModelIndex&, int first, int last)
{
    QModelIndex top = indexAt(QPoint(1, 1));
    if (top.isValid() && top.row() >= first && top.row() <= last)
        top = last + 1 < m_model->rowCount() ? m_model->index(last + 1) : QModelIndex();
    captureAnchor(top);
}

void MessageListView::onRowsInserted(const QModelIndex&, int first, int last)
{
    if (m_anchorId == -1)
        return;
    const int anchorRow = m_model->rowOfMessage(m_anchorId);
    if (anchorRow > last)
        m_unseen += last - first + 1;
    restoreAnchor();
    updateOverlays();
}

void MessageListView::onRowsRemoved(const QModelIndex&, int, int)
{
    if (m_anchorId != -1)
        restoreAnchor();
}

void MessageListView::onScrolled(int value)
{
    if (value == 0 && m_unseen > 0) {
        m_unseen = 0;
        updateOverlays();
    }
    maybeLoadOlder();
}

void MessageListView::onAnswered()
{
    if (m_olderFrom == -1)
        return;
    const int rows = m_model->rowCount();
    const bool olderArrived = rows > 0 && m_model->messageAt(rows - 1).id < m_olderFrom;
    if (olderArrived || !m_model->source() || m_model->source()->isFinished()) {
        m_olderFrom = -1;
        updateOverlays();
        QTimer::singleShot(0, this, &MessageListView::maybeLoadOlder);
    }
}

void MessageListView::onError()
{
    m_olderFrom = -1;
    updateOverlays();
}

void MessageListView::maybeLoadOlder()
{
    if (!m_model || !m_model->source() || isLoadingOlder() || !m_model->hasAnswered() || m_model->rowCount() == 0
        || m_model->source()->isFinished())
        return;
    const QScrollBar* bar = verticalScrollBar();
    if (bar->maximum() - bar->value() > viewport()->height() / 2)
        return;
    m_olderFrom = m_model->messageAt(m_model->rowCount() - 1).id;
    updateOverlays();
    m_model->source()->loadOldMessages();
}

// Only the rows whose parts change colour are drawn again.
void MessageListView::setHover(int messageId, MessageHit::Kind kind)
{
    const int before = m_delegate->hoverId();
    if (messageId == before && kind == m_delegate->hoverKind())
        return;
    m_delegate->setHover(messageId, kind);
    for (int id : {before, messageId}) {
        const int row = m_model ? m_model->rowOfMessage(id) : -1;
        if (row != -1)
            viewport()->update(visualRect(m_model->index(row)));
    }
}

void MessageListView::captureAnchor(const QModelIndex& top)
{
    m_anchorId = -1;
    // At the very top the newest messages simply come into view.
    if (verticalScrollBar()->value() == 0 || !top.isValid())
        return;
    m_anchorId = top.data(MessageListModel::MessageIdRole).toInt();
    m_anchorOffset = visualRect(top).top();
}

void MessageListView::restoreAnchor()
{
    const int anchorId = m_anchorId;
    m_anchorId = -1;
    const int row = m_model->rowOfMessage(anchorId);
    if (row == -1)
        return;
    // The row positions of the new layout, now rather than on the next paint.
    scheduleDelayedItemsLayout();
    executeDelayedItemsLayout();
    const int moved = visualRect(m_model->index(row)).top() - m_anchorOffset;
    verticalScrollBar()->setValue(verticalScrollBar()->value() + moved);
}

void MessageListView::updateOverlays()
{
    m_footer->setVisible(isLoadingOlder());
    m_footer->adjustSize();
    m_footer->move((viewport()->width() - m_footer->width()) / 2, viewport()->height() - m_footer->height() - 10);

    m_newButton->setText(QStringLiteral("↑ %1 new message%2").arg(m_unseen).arg(m_unseen == 1 ? "" : "s"));
    m_newButton->adjustSize();
    m_newButton->move((width() - m_newButton->width()) / 2, 10);
    m_newButton->setVisible(m_unseen > 0);
    m_newButton->raise();
}

QStyleOptionViewItem MessageListView::optionFor(const QModelIndex& index) const
{
    QStyleOptionViewItem option = viewOptions();
    option.rect = visualRect(index);
    return option;
}
