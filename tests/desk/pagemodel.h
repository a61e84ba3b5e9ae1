#pragma once

#include <iventarimodel.h>
#include <messagemerge.h>

#include <QtCore/QObject>
#include <QtCore/QStringList>

// A plugin model without a service: pages handed to it are merged as the real model merges
// them and announced with the same signals, in the same order.
class PageModel : public QObject, public Common::AbstractNotifier, public Ventari::IVentariModel
{
    Q_OBJECT

public:
    // "10 20+7 30": messages 10, 20 (liked by user 7) and 30, in any order.
    static Ventari::Messages page(const QString& notation)
    {
        Ventari::Messages messages;
        for (const QString& token : notation.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList parts = token.split(QLatin1Char('+'));
            Ventari::Message message;
            message.id = parts.first().toInt();
            message.body = QStringLiteral("Message %1 about $AAPL").arg(message.id);
            message.createdAt = QDateTime::currentDateTimeUtc();
            message.user.id = 1;
            message.user.username = QStringLiteral("alice");
            message.user.name = QStringLiteral("Alice Archer");
            for (int i = 1; i < parts.size(); ++i)
                message.likes.insert(parts.at(i).toInt());
            messages.append(message);
        }
        return messages;
    }

    void deliver(const QString& notation) { deliver(page(notation)); }
    void deliver(const Ventari::Messages& incoming)
    {
        const Ventari::MessageChanges changes = Ventari::mergePage(m_messages, incoming);
        if (!changes.removed.isEmpty())
            emit messagesRemoved(changes.removed);
        if (!changes.added.isEmpty())
            emit messagesAdded(changes.added);
        if (!changes.changed.isEmpty())
            emit messagesChanged(changes.changed);
        if (m_messages.isEmpty()) {
            m_finished = true;
            emit noData();
        } else if (changes.isEmpty()) {
            emit messagesNoChanged();
        }
    }
    // An older page as the answer to loadOldMessages: an empty one ends the stream.
    void deliverOlder(const QString& notation)
    {
        if (page(notation).isEmpty())
            m_finished = true;
        deliver(notation);
    }
    void fail(const QString& text) { emit error(text); }

    int olderRequests = 0;
    QList<int> likeRequests;

    int count() const override { return m_messages.size(); }
    Ventari::Message messageByIndex(int index) const override { return m_messages.value(index); }
    Ventari::Message messageById(int id) override { return messageByIndex(messageIndex(id)); }
    int messageIndex(int id) override
    {
        for (int i = 0; i < m_messages.size(); ++i) {
            if (m_messages.at(i).id == id)
                return i;
        }
        return -1;
    }
    QList<Ventari::Message> messages() override { return m_messages; }
    bool containsMessage(int id) const override { return const_cast<PageModel*>(this)->messageIndex(id) != -1; }
    void likeMessage(int id) override { likeRequests.append(id); }
    void unlikeMessage(int id) override { likeRequests.append(-id); }
    void forceUpdateData() override {}
    void loadOldMessages() override { ++olderRequests; }
    bool isFinished() const override { return m_finished; }
    void follow(bool) override {}
    bool isFollow() const override { return false; }

signals:
    void messagesAdded(const QList<int>& ids) override;
    void messagesRemoved(const QList<int>& ids) override;
    void messagesChanged(const QList<int>& ids) override;
    void noData() override;
    void error(const QString& text) override;
    void messagesNoChanged() override;
    void followStateChanged(bool follow) override;

private:
    Ventari::Messages m_messages;
    bool m_finished = false;
};
