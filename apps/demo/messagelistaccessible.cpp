#include "messagelistaccessible.h"

#include "messagelistmodel.h"
#include "messagelistview.h"

#include <QtCore/QPointer>
#include <QtGui/QWindow>
#include <QtWidgets/QPushButton>

namespace {

QRect globalRect(const MessageListView* view, const QRect& rect)
{
    return rect.isEmpty() ? QRect() : QRect(view->viewport()->mapToGlobal(rect.topLeft()), rect.size());
}

QWindow* windowOf(const MessageListView* view)
{
    return view ? view->window()->windowHandle() : nullptr;
}

// What a part does when it is pressed, as a message item lists it among its own actions.
QString actionName(const MessageListView* view, int row, const MessageHit& part)
{
    switch (part.kind) {
    case MessageHit::Reply:
    case MessageHit::Like:
    case MessageHit::More:
    case MessageHit::Chart:
    case MessageHit::Video:
        return view->actionLabel(row, part);
    default:
        return QString();
    }
}

QStringList keysOf(MessageHit::Kind kind)
{
    switch (kind) {
    case MessageHit::Like:
        return {QStringLiteral("L")};
    case MessageHit::Reply:
        return {QStringLiteral("R")};
    case MessageHit::More:
        return {QStringLiteral("M")};
    case MessageHit::Chart:
    case MessageHit::Video:
        return {QStringLiteral("Return")};
    default:
        return {};
    }
}

// One thing that can be done with a message: its author, a link, symbol or mention in its text,
// show more, like, reply, open its chart or video.
class MessagePartAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    MessagePartAccessible(MessageListView* view, int messageId, const MessageHit& part)
        : m_view(view)
        , m_messageId(messageId)
        , m_part(part)
    {
    }

    bool isValid() const override { return row() != -1 && m_view->actionsOf(row()).contains(m_part); }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return windowOf(m_view); }
    QAccessibleInterface* parent() const override
    {
        auto* list = static_cast<MessageListAccessible*>(QAccessible::queryAccessibleInterface(m_view.data()));
        return list ? list->messageItem(m_messageId) : nullptr;
    }
    QAccessibleInterface* child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface*) const override { return -1; }
    QAccessibleInterface* childAt(int, int) const override { return nullptr; }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        switch (t) {
        case QAccessible::Name:
            return m_view->actionLabel(row(), m_part);
        case QAccessible::Description:
            return m_view->actionText(row(), m_part);
        case QAccessible::Accelerator:
            return keysOf(m_part.kind).value(0);
        default:
            return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override { return isValid() ? globalRect(m_view, m_view->partRect(row(), m_part)) : QRect(); }
    QAccessible::Role role() const override
    {
        return m_part.kind == MessageHit::Author || m_part.kind == MessageHit::Anchor ? QAccessible::Link
                                                                                       : QAccessible::Button;
    }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        const QModelIndex current = m_view->currentIndex();
        state.focused = m_view->hasFocus() && current.row() == row() && m_view->markedPart() == m_part;
        const QRect rect = m_view->partRect(row(), m_part);
        state.invisible = rect.isEmpty();
        state.offscreen = !m_view->viewport()->rect().intersects(rect);
        if (m_part.kind == MessageHit::Like) {
            state.checkable = true;
            state.checked = m_view->messageModel()->index(row()).data(MessageListModel::LikedRole).toBool();
        }
        if (m_part.kind == MessageHit::More) {
            state.expandable = true;
            state.expanded = m_view->messageModel()->isExpanded(m_messageId);
        }
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override { return {pressAction()}; }
    void doAction(const QString& name) override
    {
        if (name == pressAction() && isValid())
            m_view->activate(row(), m_part);
    }
    QStringList keyBindingsForAction(const QString& name) const override
    {
        return name == pressAction() ? keysOf(m_part.kind) : QStringList();
    }

    const MessageHit& part() const { return m_part; }

private:
    int row() const { return m_view ? m_view->messageModel()->rowOfMessage(m_messageId) : -1; }

    QPointer<MessageListView> m_view;
    int m_messageId;
    MessageHit m_part;
};

// One message: read as its author, time and text, then its likes; its parts are its children, and
// its own actions are those of its buttons.
class MessageItemAccessible : public QAccessibleInterface, public QAccessibleActionInterface
{
public:
    MessageItemAccessible(MessageListView* view, int messageId)
        : m_view(view)
        , m_messageId(messageId)
    {
    }
    ~MessageItemAccessible() override
    {
        for (QAccessible::Id id : qAsConst(m_parts))
            QAccessible::deleteAccessibleInterface(id);
    }

    int messageId() const { return m_messageId; }

    bool isValid() const override { return row() != -1; }
    QObject* object() const override { return nullptr; }
    QWindow* window() const override { return windowOf(m_view); }
    QAccessibleInterface* parent() const override { return QAccessible::queryAccessibleInterface(m_view.data()); }
    int childCount() const override { return isValid() ? m_view->actionsOf(row()).size() : 0; }
    QAccessibleInterface* child(int index) const override
    {
        const QVector<MessageHit> parts = isValid() ? m_view->actionsOf(row()) : QVector<MessageHit>();
        return index >= 0 && index < parts.size() ? partItem(parts.at(index)) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        for (auto it = m_parts.cbegin(); it != m_parts.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return isValid() ? m_view->actionsOf(row()).indexOf(static_cast<const MessagePartAccessible*>(child)->part())
                                 : -1;
        }
        return -1;
    }
    QAccessibleInterface* childAt(int x, int y) const override
    {
        if (!isValid())
            return nullptr;
        const QPoint point = m_view->viewport()->mapFromGlobal(QPoint(x, y));
        for (const MessageHit& part : m_view->actionsOf(row())) {
            if (m_view->partRect(row(), part).contains(point))
                return partItem(part);
        }
        return nullptr;
    }
    QAccessibleInterface* focusChild() const override
    {
        if (!isValid() || m_view->currentIndex().row() != row() || m_view->markedPart().kind == MessageHit::None)
            return nullptr;
        return partItem(m_view->markedPart());
    }

    QString text(QAccessible::Text t) const override
    {
        if (!isValid())
            return QString();
        switch (t) {
        case QAccessible::Name:
            return m_view->spokenText(row());
        case QAccessible::Description:
            return m_view->spokenDetails(row());
        default:
            return QString();
        }
    }
    void setText(QAccessible::Text, const QString&) override {}
    QRect rect() const override
    {
        return isValid() ? globalRect(m_view, m_view->visualRect(m_view->messageModel()->index(row()))) : QRect();
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override
    {
        QAccessible::State state;
        if (!isValid()) {
            state.invalid = true;
            return state;
        }
        state.focusable = true;
        state.focused = m_view->hasFocus() && m_view->currentIndex().row() == row();
        state.offscreen = !m_view->viewport()->rect().intersects(m_view->visualRect(m_view->messageModel()->index(row())));
        for (const MessageHit& part : m_view->actionsOf(row())) {
            if (part.kind == MessageHit::More) {
                state.expandable = true;
                state.expanded = m_view->messageModel()->isExpanded(m_messageId);
            }
        }
        return state;
    }
    void* interface_cast(QAccessible::InterfaceType type) override
    {
        return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this) : nullptr;
    }

    QStringList actionNames() const override
    {
        QStringList names{setFocusAction()};
        for (const MessageHit& part : isValid() ? m_view->actionsOf(row()) : QVector<MessageHit>()) {
            const QString name = actionName(m_view, row(), part);
            if (!name.isEmpty())
                names.append(name);
        }
        return names;
    }
    QString localizedActionDescription(const QString& name) const override
    {
        const MessageHit part = partNamed(name);
        return part.kind == MessageHit::None ? QAccessibleActionInterface::localizedActionDescription(name)
                                             : m_view->actionText(row(), part);
    }
    void doAction(const QString& name) override
    {
        if (!isValid())
            return;
        if (name == setFocusAction()) {
            m_view->setFocus(Qt::OtherFocusReason);
            m_view->setCurrentIndex(m_view->messageModel()->index(row()));
            return;
        }
        const MessageHit part = partNamed(name);
        if (part.kind != MessageHit::None)
            m_view->activate(row(), part);
    }
    QStringList keyBindingsForAction(const QString& name) const override { return keysOf(partNamed(name).kind); }

private:
    int row() const { return m_view ? m_view->messageModel()->rowOfMessage(m_messageId) : -1; }

    MessageHit partNamed(const QString& name) const
    {
        for (const MessageHit& part : isValid() ? m_view->actionsOf(row()) : QVector<MessageHit>()) {
            if (actionName(m_view, row(), part) == name)
                return part;
        }
        return MessageHit();
    }

    QAccessibleInterface* partItem(const MessageHit& part) const
    {
        const QString key = QStringLiteral("%1:%2:%3").arg(part.kind).arg(part.anchorIndex).arg(part.anchor);
        if (QAccessibleInterface* known = QAccessible::accessibleInterface(m_parts.value(key)))
            return known;
        auto* item = new MessagePartAccessible(m_view, m_messageId, part);
        m_parts.insert(key, QAccessible::registerAccessibleInterface(item));
        return item;
    }

    QPointer<MessageListView> m_view;
    int m_messageId;
    mutable QHash<QString, QAccessible::Id> m_parts;
};

QAccessibleInterface* messageListFactory(const QString& className, QObject* object)
{
    auto* view = qobject_cast<MessageListView*>(object);
    return view && className == QLatin1String("MessageListView") ? new MessageListAccessible(view) : nullptr;
}

} // namespace

MessageListAccessible::MessageListAccessible(MessageListView* view)
    : QAccessibleWidget(view, QAccessible::List)
{
}

MessageListAccessible::~MessageListAccessible()
{
    for (QAccessible::Id id : qAsConst(m_items))
        QAccessible::deleteAccessibleInterface(id);
}

void MessageListAccessible::install()
{
    static bool installed = false;
    if (installed)
        return;
    installed = true;
    QAccessible::installFactory(messageListFactory);
}

void MessageListAccessible::notifyMarked(MessageListView* view, int row, const MessageHit& part)
{
    if (!QAccessible::isActive() || !view->messageModel() || row < 0 || row >= view->messageModel()->rowCount())
        return;
    auto* list = static_cast<MessageListAccessible*>(QAccessible::queryAccessibleInterface(view));
    QAccessibleInterface* item = list ? list->messageItem(view->messageModel()->rowMessage(row).id) : nullptr;
    if (!item)
        return;
    QAccessibleInterface* focused = item;
    if (part.kind != MessageHit::None)
        focused = item->child(view->actionsOf(row).indexOf(part));
    if (!focused)
        return;
    QAccessibleEvent event(focused, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
}

int MessageListAccessible::childCount() const
{
    const MessageListView* list = view();
    return (list->messageModel() ? list->messageModel()->rowCount() : 0) + buttons().size();
}

QAccessibleInterface* MessageListAccessible::child(int index) const
{
    const MessageListModel* model = view()->messageModel();
    const int rows = model ? model->rowCount() : 0;
    if (index >= 0 && index < rows)
        return messageItem(model->rowMessage(index).id);
    const QList<QWidget*> shown = buttons();
    return index >= rows && index - rows < shown.size() ? QAccessible::queryAccessibleInterface(shown.at(index - rows))
                                                        : nullptr;
}

int MessageListAccessible::indexOfChild(const QAccessibleInterface* child) const
{
    if (!child)
        return -1;
    const MessageListModel* model = view()->messageModel();
    const int rows = model ? model->rowCount() : 0;
    if (child->role() == QAccessible::ListItem && !child->object()) {
        for (auto it = m_items.cbegin(); it != m_items.cend(); ++it) {
            if (QAccessible::accessibleInterface(it.value()) == child)
                return model->rowOfMessage(it.key());
        }
        return -1;
    }
    const int button = buttons().indexOf(qobject_cast<QWidget*>(child->object()));
    return button == -1 ? -1 : rows + button;
}

QAccessibleInterface* MessageListAccessible::childAt(int x, int y) const
{
    const MessageListView* list = view();
    for (QWidget* button : buttons()) {
        if (button->rect().contains(button->mapFromGlobal(QPoint(x, y))))
            return QAccessible::queryAccessibleInterface(button);
    }
    const QPoint point = list->viewport()->mapFromGlobal(QPoint(x, y));
    if (!list->viewport()->rect().contains(point) || !list->messageModel())
        return nullptr;
    const QModelIndex index = list->indexAt(point);
    return index.isValid() ? messageItem(list->messageModel()->rowMessage(index.row()).id) : nullptr;
}

QAccessibleInterface* MessageListAccessible::focusChild() const
{
    const MessageListView* list = view();
    const QModelIndex current = list->currentIndex();
    if (!list->hasFocus() || !current.isValid() || !list->messageModel())
        return nullptr;
    QAccessibleInterface* item = messageItem(list->messageModel()->rowMessage(current.row()).id);
    QAccessibleInterface* part = item ? item->focusChild() : nullptr;
    return part ? part : item;
}

QAccessibleInterface* MessageListAccessible::messageItem(int messageId) const
{
    if (QAccessibleInterface* known = QAccessible::accessibleInterface(m_items.value(messageId)))
        return known;
    dropLeftItems();
    auto* item = new MessageItemAccessible(view(), messageId);
    m_items.insert(messageId, QAccessible::registerAccessibleInterface(item));
    return item;
}

MessageListView* MessageListAccessible::view() const
{
    return static_cast<MessageListView*>(widget());
}

// The "new messages" button over the list.
QList<QWidget*> MessageListAccessible::buttons() const
{
    QList<QWidget*> shown;
    for (QPushButton* button : view()->findChildren<QPushButton*>(QString(), Qt::FindDirectChildrenOnly)) {
        if (button->isVisible())
            shown.append(button);
    }
    return shown;
}

void MessageListAccessible::dropLeftItems() const
{
    const MessageListModel* model = view()->messageModel();
    if (m_items.size() < 2 * (model ? model->rowCount() : 0) + 64)
        return;
    for (auto it = m_items.begin(); it != m_items.end();) {
        if (model && model->rowOfMessage(it.key()) != -1) {
            ++it;
            continue;
        }
        QAccessible::deleteAccessibleInterface(it.value());
        it = m_items.erase(it);
    }
}
