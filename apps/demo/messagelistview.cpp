#include "messagelistview.h"

#include "desktheme.h"
#include "imagecache.h"
#include "messagedelegate.h"
#include "messagelistaccessible.h"
#include "messagelistmodel.h"

#include <iventarimodel.h>

#include <QtGui/QKeyEvent>
#include <QtGui/QMouseEvent>
#include <QtGui/QPainter>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QScrollBar>

#include <algorithm>

namespace {

// Relative times ("4 min") are redrawn this often.
const int clockPeriodMs = 30 * 1000;

} // namespace

MessageListView::MessageListView(QWidget* parent)
    : QAbstractItemView(parent)
    , m_footer(new QLabel(viewport()))
    , m_newButton(new QPushButton(this))
{
    MessageListAccessible::install();
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::NoSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setFocusPolicy(Qt::StrongFocus);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAttribute(Qt::WA_Hover);
    verticalScrollBar()->setSingleStep(24);
    setAccessibleName(QStringLiteral("Messages"));

    const DeskTheme& theme = DeskTheme::current();
    m_footer->setText(QStringLiteral("Loading older messages…"));
    m_footer->setAlignment(Qt::AlignCenter);
    m_footer->setStyleSheet(QStringLiteral("QLabel { color: %1; background: %2; border-radius: 10px; padding: 3px 12px; }")
                                .arg(theme.dim.name(), palette().color(QPalette::Window).name()));
    m_footer->hide();

    m_newButton->setObjectName(QStringLiteral("newMessages"));
    m_newButton->setCursor(Qt::PointingHandCursor);
    m_newButton->setFocusPolicy(Qt::NoFocus);
    m_newButton->setStyleSheet(QStringLiteral("QPushButton { color: white; background: %1; border: none; "
                                              "border-radius: 12px; padding: 4px 14px; font-weight: 600; }")
                                   .arg(palette().color(QPalette::Highlight).name()));
    m_newButton->hide();
    connect(m_newButton, &QPushButton::clicked, this, &MessageListView::scrollToNewest);

    m_windowCheck.setSingleShot(true);
    m_windowCheck.setInterval(0);
    connect(&m_windowCheck, &QTimer::timeout, this, &MessageListView::updateWindow);
    // Measuring thousands of rows at every step of a window being dragged wider would lag.
    m_remeasure.setSingleShot(true);
    m_remeasure.setInterval(100);
    connect(&m_remeasure, &QTimer::timeout, this, &MessageListView::measureAll);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &MessageListView::onScrolled);
    connect(verticalScrollBar(), &QScrollBar::rangeChanged, &m_windowCheck, QOverload<>::of(&QTimer::start));
    connect(&m_clock, &QTimer::timeout, viewport(), QOverload<>::of(&QWidget::update));
    m_clock.start(clockPeriodMs);
}

MessageListView::~MessageListView() = default;

void MessageListView::setModel(QAbstractItemModel* model)
{
    if (model == QAbstractItemView::model())
        return;
    // The item view's own connections to the model stay its business.
    for (const QMetaObject::Connection& connection : qAsConst(m_modelConnections))
        disconnect(connection);
    m_modelConnections.clear();
    m_model = qobject_cast<MessageListModel*>(model);
    m_heights.clear();
    m_tops.clear();
    // The anchor is taken before the rows change, and put back once they are measured.
    if (m_model) {
        m_modelConnections << connect(m_model, &QAbstractItemModel::rowsAboutToBeInserted, this,
                                      &MessageListView::onRowsAboutToBeInserted);
    }
    QAbstractItemView::setModel(model);
    if (!m_model)
        return;
    m_modelConnections << connect(m_model, &QAbstractItemModel::rowsRemoved, this, &MessageListView::onRowsRemoved)
                       << connect(m_model, &MessageListModel::answered, this, &MessageListView::onAnswered)
                       << connect(m_model, &MessageListModel::errorOccurred, this, &MessageListView::onError);
}

QRect MessageListView::visualRect(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != m_model || index.row() >= m_heights.size())
        return QRect();
    return QRect(0, tops().at(index.row()) - verticalOffset(), viewport()->width(), m_heights.at(index.row()));
}

void MessageListView::scrollTo(const QModelIndex& index, ScrollHint hint)
{
    const QRect rect = visualRect(index);
    if (!rect.isValid())
        return;
    const int height = viewport()->height();
    int move = 0;
    switch (hint) {
    case PositionAtTop:
        move = rect.top();
        break;
    case PositionAtBottom:
        move = rect.bottom() + 1 - height;
        break;
    case PositionAtCenter:
        move = rect.center().y() - height / 2;
        break;
    case EnsureVisible:
        // A row taller than the viewport shows its start.
        if (rect.top() < 0)
            move = rect.top();
        else if (rect.bottom() >= height)
            move = qMin(rect.top(), rect.bottom() + 1 - height);
        break;
    }
    verticalScrollBar()->setValue(verticalScrollBar()->value() + move);
}

QModelIndex MessageListView::indexAt(const QPoint& point) const
{
    if (!m_model || point.x() < 0 || point.x() >= viewport()->width() || m_heights.isEmpty())
        return QModelIndex();
    const int y = point.y() + verticalOffset();
    const QVector<int>& top = tops();
    if (y < 0 || y >= top.last())
        return QModelIndex();
    // The last row that starts at or above y.
    const int row = int(std::upper_bound(top.cbegin(), top.cend() - 1, y) - top.cbegin()) - 1;
    return row >= 0 && row < m_model->rowCount() ? m_model->index(row) : QModelIndex();
}

void MessageListView::reset()
{
    QAbstractItemView::reset();
    m_olderFrom = -1;
    m_anchorId = -1;
    m_marked = MessageHit();
    if (m_delegate)
        m_delegate->forgetAll();
    m_heights.clear();
    measureAll();
    // The rows start again from the newest message, which comes into view.
    m_seenId = m_model && m_model->rowCount() > 0 ? m_model->rowMessage(0).id : -1;
    updateOverlays();
}

void MessageListView::doItemsLayout()
{
    if (m_model && (m_heights.size() != m_model->rowCount() || m_measuredWidth != viewport()->width()))
        measureAll();
    QAbstractItemView::doItemsLayout();
}

void MessageListView::setImageCache(ImageCache* images)
{
    m_delegate = new MessageDelegate(images, this);
    setItemDelegate(m_delegate);
    connect(images, &ImageCache::imageReady, viewport(), QOverload<>::of(&QWidget::update));
    connect(m_delegate, &MessageDelegate::expandClicked, this, &MessageListView::onExpandClicked);
}

void MessageListView::setPlaceholderText(const QString& text)
{
    m_placeholder = text;
    viewport()->update();
}

QString MessageListView::endText() const
{
    return m_model && m_model->isAtEnd() ? QStringLiteral("No older messages") : QString();
}

// Messages newer than the newest one seen, whether they are rows yet or not.
int MessageListView::unseenCount() const
{
    return m_model && m_seenId != -1 ? m_model->countNewerThan(m_seenId) : 0;
}

QRect MessageListView::partRect(int row, MessageHit::Kind kind) const
{
    MessageHit part;
    part.kind = kind;
    return partRect(row, part);
}

QRect MessageListView::partRect(int row, const MessageHit& part) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QRect();
    const QModelIndex index = m_model->index(row);
    return m_delegate->partRect(optionFor(index), index, part);
}

MessageHit MessageListView::hitAt(const QPoint& point) const
{
    if (!m_delegate)
        return MessageHit();
    const QModelIndex index = indexAt(point);
    return m_delegate->hitAt(optionFor(index), index, point);
}

QVector<MessageHit> MessageListView::actionsOf(int row) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return {};
    const QModelIndex index = m_model->index(row);
    return m_delegate->actions(optionFor(index), index);
}

QString MessageListView::actionLabel(int row, const MessageHit& part) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QString();
    const QModelIndex index = m_model->index(row);
    return m_delegate->actionLabel(optionFor(index), index, part);
}

QString MessageListView::actionText(int row, const MessageHit& part) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QString();
    return m_delegate->actionText(m_model->index(row), part);
}

QString MessageListView::spokenText(int row) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QString();
    const QModelIndex index = m_model->index(row);
    return m_delegate->spokenText(optionFor(index), index);
}

// The last message of a stream that has no older ones says so.
QString MessageListView::spokenDetails(int row) const
{
    if (!m_model || !m_delegate || row < 0 || row >= m_model->rowCount())
        return QString();
    QString details = m_delegate->spokenDetails(m_model->index(row));
    const QString end = endText();
    if (!end.isEmpty() && row == m_model->rowCount() - 1)
        details += QLatin1Char(' ') + end + QLatin1Char('.');
    return details;
}

void MessageListView::activate(int row, const MessageHit& part)
{
    if (m_model && m_delegate && row >= 0 && row < m_model->rowCount() && actionsOf(row).contains(part))
        m_delegate->activate(m_model->index(row), part);
}

// At the top of the rows with newer messages hidden above them, the newest come back.
void MessageListView::scrollToNewest()
{
    if (m_model && m_model->hiddenNewerCount() > 0)
        m_model->showNewest();
    verticalScrollBar()->setValue(0);
    noteSeen();
    updateOverlays();
}

int MessageListView::verticalOffset() const
{
    return verticalScrollBar()->value();
}

QModelIndex MessageListView::moveCursor(CursorAction action, Qt::KeyboardModifiers)
{
    const int rows = m_model ? m_model->rowCount() : 0;
    if (rows == 0)
        return QModelIndex();
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return m_model->index(0);
    int row = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
    case MovePageDown: {
        // The row a viewport away, and at least the next one.
        const int page = action == MovePageUp ? -viewport()->height() : viewport()->height();
        const QModelIndex there = indexAt(QPoint(1, qBound(0, visualRect(current).top() + page,
                                                            contentHeight() - verticalOffset() - 1)));
        const int step = action == MovePageUp ? -1 : 1;
        row = there.isValid() && there.row() != row ? there.row() : row + step;
        break;
    }
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = rows - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return m_model->index(qBound(0, row, rows - 1));
}

void MessageListView::rowsInserted(const QModelIndex& parent, int first, int last)
{
    QAbstractItemView::rowsInserted(parent, first, last);
    if (parent.isValid() || !m_model)
        return;
    m_heights.insert(first, last - first + 1, 0);
    measureRows(first, last);
    const bool anchored = m_anchorId != -1;
    relayout();
    if (!anchored && verticalScrollBar()->value() == 0) {
        // At the top the user reads the newest messages, whichever they are now.
        m_model->setReadingRange(-1, -1);
        noteSeen();
    }
    viewport()->update();
    updateOverlays();
    m_windowCheck.start();
}

// A top row that is about to go hands the anchor to the first row after the removed ones.
// The current message going hands the keys to a message in view, and the view stays where it is.
void MessageListView::rowsAboutToBeRemoved(const QModelIndex& parent, int first, int last)
{
    const bool autoScroll = hasAutoScroll();
    setAutoScroll(false);
    if (!parent.isValid() && m_model) {
        captureAnchor(first, last);
        if (m_delegate) {
            for (int row = first; row <= last; ++row)
                m_delegate->forget(m_model->rowMessage(row).id);
        }
        const QModelIndex current = currentIndex();
        if (current.isValid() && current.row() >= first && current.row() <= last) {
            int row = indexAt(QPoint(1, 0)).row();
            if (row >= first && row <= last)
                row = last + 1 < m_model->rowCount() ? last + 1 : first - 1;
            if (row >= 0)
                selectionModel()->setCurrentIndex(m_model->index(row), QItemSelectionModel::NoUpdate);
        }
    }
    QAbstractItemView::rowsAboutToBeRemoved(parent, first, last);
    setAutoScroll(autoScroll);
}

void MessageListView::paintEvent(QPaintEvent* event)
{
    if (!m_model)
        return;
    const int rows = qMin(m_model->rowCount(), m_heights.size());
    QPainter painter(viewport());
    if (rows > 0 && m_delegate) {
        const QStyleOptionViewItem base = itemOption();
        const QModelIndex current = currentIndex();
        const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
        const QRect exposed = event->rect();
        const QModelIndex first = indexAt(QPoint(1, qMax(0, exposed.top())));
        for (int row = first.isValid() ? first.row() : 0; row < rows; ++row) {
            const QRect rect = visualRect(m_model->index(row));
            if (rect.top() > exposed.bottom())
                break;
            if (rect.bottom() < exposed.top())
                continue;
            QStyleOptionViewItem option = base;
            option.rect = rect;
            if (focus && row == current.row())
                option.state |= QStyle::State_HasFocus;
            if (m_model->rowMessage(row).id == m_delegate->hoverId())
                option.state |= QStyle::State_MouseOver;
            m_delegate->paint(&painter, option, m_model->index(row));
        }
    }
    painter.setPen(DeskTheme::current().dim);
    if (rows == 0) {
        if (!m_placeholder.isEmpty())
            painter.drawText(viewport()->rect().adjusted(24, 24, -24, -24), Qt::AlignCenter | Qt::TextWordWrap,
                             m_placeholder);
        return;
    }
    const QString end = endText();
    if (end.isEmpty())
        return;
    const QRect last = visualRect(m_model->index(rows - 1));
    const QRect mark(0, last.bottom() + 1, viewport()->width(), endMarkHeight);
    if (!event->rect().intersects(mark))
        return;
    // A short rule on either side of the words, as the end of a page has it.
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(end);
    const int middle = mark.center().y();
    const int rule = 40;
    painter.setPen(DeskTheme::current().separator);
    painter.drawLine(mark.center().x() - textWidth / 2 - 12 - rule, middle, mark.center().x() - textWidth / 2 - 12, middle);
    painter.drawLine(mark.center().x() + textWidth / 2 + 12, middle, mark.center().x() + textWidth / 2 + 12 + rule, middle);
    painter.setPen(DeskTheme::current().dim);
    painter.drawText(mark, Qt::AlignCenter, end);
}

void MessageListView::keyPressEvent(QKeyEvent* event)
{
    const bool plain = !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier));
    const QModelIndex current = currentIndex();
    if (!plain || !current.isValid() || !m_delegate) {
        QAbstractItemView::keyPressEvent(event);
        return;
    }
    MessageHit part;
    switch (event->key()) {
    case Qt::Key_Left:
        stepMark(-1);
        return;
    case Qt::Key_Right:
        stepMark(1);
        return;
    case Qt::Key_Escape:
        if (m_marked.kind == MessageHit::None) {
            QAbstractItemView::keyPressEvent(event);
            return;
        }
        setMarked(MessageHit());
        return;
    case Qt::Key_L:
        part.kind = MessageHit::Like;
        break;
    case Qt::Key_R:
        part.kind = MessageHit::Reply;
        break;
    case Qt::Key_M:
        part.kind = MessageHit::More;
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space:
        if (m_marked.kind != MessageHit::None)
            part = m_marked;
        else if (event->key() != Qt::Key_Space)
            part.kind = MessageHit::Chart;
        break;
    default:
        break;
    }
    if (part.kind == MessageHit::None) {
        QAbstractItemView::keyPressEvent(event);
        return;
    }
    event->accept();
    // A short message has no "Show more"; a message without a chart opens its video.
    if (part.kind == MessageHit::More && partRect(current.row(), part).isEmpty())
        return;
    m_delegate->activate(current, part);
}

void MessageListView::mouseMoveEvent(QMouseEvent* event)
{
    QAbstractItemView::mouseMoveEvent(event);
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
    QAbstractItemView::leaveEvent(event);
    if (m_delegate)
        setHover(-1, MessageHit::None);
}

void MessageListView::resizeEvent(QResizeEvent* event)
{
    QAbstractItemView::resizeEvent(event);
    if (m_measuredWidth != viewport()->width()) {
        if (isVisible())
            m_remeasure.start();
        else
            measureAll();
    }
    updateOverlays();
    m_windowCheck.start();
}

// Below the last message of a stream that has no older ones there is room to say so.
void MessageListView::updateGeometries()
{
    QScrollBar* bar = verticalScrollBar();
    const int content = contentHeight() + (m_model && m_model->isAtEnd() ? endMarkHeight : 0);
    bar->setRange(0, qMax(0, content - viewport()->height()));
    bar->setPageStep(viewport()->height());
    bar->setSingleStep(24);
    QAbstractItemView::updateGeometries();
}

void MessageListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QAbstractItemView::currentChanged(current, previous);
    if (m_marked.kind != MessageHit::None)
        setMarked(MessageHit());
    else if (current.isValid() && hasFocus())
        MessageListAccessible::notifyMarked(this, current.row(), MessageHit());
}

// Rows change height when they are shown whole or cut short, or when their text changes.
void MessageListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight, const QVector<int>& roles)
{
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    if (!m_model || !m_delegate || roles == QVector<int>{MessageListModel::LikedRole})
        return;
    captureAnchor();
    if (measureRows(topLeft.row(), bottomRight.row()))
        relayout();
    else
        m_anchorId = -1;
}

void MessageListView::onRowsAboutToBeInserted(const QModelIndex&, int, int)
{
    captureAnchor();
}

void MessageListView::onRowsRemoved(const QModelIndex& parent, int first, int last)
{
    if (parent.isValid())
        return;
    if (first < m_heights.size())
        m_heights.remove(first, qMin(last, m_heights.size() - 1) - first + 1);
    relayout();
    updateOverlays();
}

void MessageListView::onScrolled(int)
{
    noteSeen();
    updateOverlays();
    m_windowCheck.start();
}

void MessageListView::onAnswered()
{
    updateGeometries();
    viewport()->update();
    if (m_olderFrom != -1) {
        const QSharedPointer<Ventari::IVentariModel> source = m_model->source();
        const bool olderArrived = source && source->count() > 0 && source->messageByIndex(0).id < m_olderFrom;
        if (olderArrived || !source || source->isFinished()) {
            m_olderFrom = -1;
            m_windowCheck.start();
        }
    }
    updateOverlays();
}

void MessageListView::onError()
{
    m_olderFrom = -1;
    updateOverlays();
}

void MessageListView::onExpandClicked(int messageId, bool expand)
{
    if (!m_model)
        return;
    m_model->setExpanded(messageId, expand);
    // Cut short after being read to its end, the message is brought back to its start.
    const int row = m_model->rowOfMessage(messageId);
    if (row != -1 && visualRect(m_model->index(row)).top() < 0)
        scrollTo(m_model->index(row), QAbstractItemView::PositionAtTop);
}

void MessageListView::updateWindow()
{
    if (!m_model || !m_model->source() || !m_model->hasAnswered() || m_model->rowCount() == 0)
        return;
    const QScrollBar* bar = verticalScrollBar();
    const int near = viewport()->height() / 2;
    if (bar->value() == 0 && !m_keepPlace) {
        m_model->setReadingRange(-1, -1);
    } else {
        const QModelIndex top = indexAt(QPoint(1, 0));
        QModelIndex bottom = indexAt(QPoint(1, viewport()->height() - 2));
        if (!bottom.isValid())
            bottom = m_model->index(m_model->rowCount() - 1);
        m_model->setReadingRange(top.data(MessageListModel::MessageIdRole).toInt(),
                                 bottom.data(MessageListModel::MessageIdRole).toInt());
    }

    if (bar->value() <= near && m_model->hiddenNewerCount() > 0) {
        m_keepPlace = true;
        m_model->showNewer(revealRows);
        m_keepPlace = false;
        return;
    }
    if (bar->maximum() - bar->value() > near || isLoadingOlder())
        return;
    if (m_model->showOlder(revealRows) > 0 || m_model->source()->isFinished())
        return;
    m_olderFrom = m_model->messageAt(m_model->rowCount() - 1).id;
    updateOverlays();
    m_model->loadOlder();
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

void MessageListView::setMarked(const MessageHit& part)
{
    const QModelIndex current = currentIndex();
    m_marked = current.isValid() ? part : MessageHit();
    if (!m_delegate)
        return;
    m_delegate->setMarked(current.isValid() ? current.data(MessageListModel::MessageIdRole).toInt() : -1, m_marked);
    if (!current.isValid())
        return;
    viewport()->update(visualRect(current));
    // In a message taller than the viewport the marked part is scrolled into view.
    const QRect rect = partRect(current.row(), m_marked);
    if (!rect.isEmpty() && (rect.top() < 0 || rect.bottom() >= viewport()->height())) {
        QScrollBar* bar = verticalScrollBar();
        bar->setValue(bar->value() + (rect.top() < 0 ? rect.top() - 8 : rect.bottom() - viewport()->height() + 8));
    }
    MessageListAccessible::notifyMarked(this, current.row(), m_marked);
}

// From the message as a whole, through its parts, and back to it.
void MessageListView::stepMark(int step)
{
    const QModelIndex current = currentIndex();
    const QVector<MessageHit> parts = actionsOf(current.row());
    if (parts.isEmpty())
        return;
    const int at = parts.indexOf(m_marked); // -1 for the message itself
    int next = at + step;
    if (next < -1)
        next = parts.size() - 1;
    if (next >= parts.size())
        next = -1;
    setMarked(next == -1 ? MessageHit() : parts.at(next));
}

// The top row, or when rows first to last are about to go and it is one of them, the row after them.
void MessageListView::captureAnchor(int skipFirst, int skipLast)
{
    m_anchorId = -1;
    QModelIndex top = indexAt(QPoint(1, 0));
    // At the very top the newest messages simply come into view.
    if ((verticalScrollBar()->value() == 0 && !m_keepPlace) || !top.isValid())
        return;
    if (top.row() >= skipFirst && top.row() <= skipLast) {
        if (skipLast + 1 >= m_model->rowCount())
            return;
        top = m_model->index(skipLast + 1);
    }
    m_anchorId = top.data(MessageListModel::MessageIdRole).toInt();
    m_anchorOffset = visualRect(top).top();
}

void MessageListView::restoreAnchor()
{
    const int anchorId = m_anchorId;
    m_anchorId = -1;
    const int row = m_model->rowOfMessage(anchorId);
    if (row == -1 || row >= m_heights.size())
        return;
    verticalScrollBar()->setValue(tops().at(row) - m_anchorOffset);
}

void MessageListView::measureAll()
{
    if (!m_model)
        return;
    captureAnchor();
    m_heights.resize(m_model->rowCount());
    measureRows(0, m_heights.size() - 1);
    m_measuredWidth = viewport()->width();
    relayout();
}

bool MessageListView::measureRows(int first, int last)
{
    const QStyleOptionViewItem option = itemOption();
    bool changed = false;
    for (int row = first; row <= last && row < m_heights.size(); ++row) {
        const int height = m_delegate ? m_delegate->sizeHint(option, m_model->index(row)).height() : 0;
        changed = changed || height != m_heights.at(row);
        m_heights[row] = height;
    }
    return changed;
}

void MessageListView::relayout()
{
    m_tops.clear();
    updateGeometries();
    if (m_anchorId != -1)
        restoreAnchor();
    viewport()->update();
}

const QVector<int>& MessageListView::tops() const
{
    if (!m_tops.isEmpty())
        return m_tops;
    m_tops.resize(m_heights.size() + 1);
    int y = 0;
    for (int row = 0; row < m_heights.size(); ++row) {
        m_tops[row] = y;
        y += m_heights.at(row);
    }
    m_tops[m_heights.size()] = y;
    return m_tops;
}

int MessageListView::contentHeight() const
{
    return tops().last();
}

void MessageListView::noteSeen()
{
    if (!m_model || m_model->rowCount() == 0)
        return;
    const QModelIndex top = verticalScrollBar()->value() == 0 ? m_model->index(0) : indexAt(QPoint(1, 0));
    if (top.isValid())
        m_seenId = qMax(m_seenId, top.data(MessageListModel::MessageIdRole).toInt());
}

void MessageListView::updateOverlays()
{
    m_footer->setVisible(isLoadingOlder());
    m_footer->adjustSize();
    m_footer->move((viewport()->width() - m_footer->width()) / 2, viewport()->height() - m_footer->height() - 10);

    const int unseen = unseenCount();
    m_newButton->setText(QStringLiteral("↑ %1 new message%2").arg(unseen).arg(unseen == 1 ? "" : "s"));
    m_newButton->adjustSize();
    // The pill has a strip of its own above the messages, so that it covers none of them.
    const int strip = unseen > 0 ? m_newButton->height() + 8 : 0;
    if (viewportMargins().top() != strip)
        setViewportMargins(0, strip, 0, 0);
    m_newButton->move((width() - m_newButton->width()) / 2, 4);
    m_newButton->setVisible(unseen > 0);
    m_newButton->raise();
}

// The style of every row; the states of one row are set where it is drawn.
QStyleOptionViewItem MessageListView::itemOption() const
{
    QStyleOptionViewItem option;
    option.initFrom(this);
    option.state &= ~(QStyle::State_HasFocus | QStyle::State_MouseOver);
    option.font = font();
    option.widget = this;
    return option;
}

QStyleOptionViewItem MessageListView::optionFor(const QModelIndex& index) const
{
    QStyleOptionViewItem option = itemOption();
    option.rect = visualRect(index);
    return option;
}
