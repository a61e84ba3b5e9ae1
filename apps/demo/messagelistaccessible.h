#pragma once

#include "messagelayout.h"

#include <QtCore/QHash>
#include <QtWidgets/QAccessibleWidget>

class MessageListView;

// What a screen reader finds in a message list, which is painted by hand: the list, an item per
// message that reads its author, time and text and then its likes, and inside each item a link or
// button for everything that can be done with the message. Items and their parts are made when
// first asked for and follow their message, not its row.
class MessageListAccessible : public QAccessibleWidget
{
public:
    explicit MessageListAccessible(MessageListView* view);
    ~MessageListAccessible() override;

    // Lets the factory hand these out for every message list; once is enough.
    static void install();
    // Tells a screen reader which part of a row's message the keys act on now; None: the message.
    static void notifyMarked(MessageListView* view, int row, const MessageHit& part);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

    // The item of the message with this id.
    QAccessibleInterface* messageItem(int messageId) const;

private:
    MessageListView* view() const;
    QList<QWidget*> buttons() const;
    // Items of messages that have left the list go once there are many of them.
    void dropLeftItems() const;

    mutable QHash<int, QAccessible::Id> m_items;
};
