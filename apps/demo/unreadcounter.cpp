#include "unreadcounter.h"

#include "messagelistmodel.h"

#include <iventarimodel.h>

UnreadCounter::UnreadCounter(MessageListModel* rows, QObject* parent)
    : QObject(parent)
    , m_rows(rows)
{
    connect(rows, &QAbstractItemModel::modelReset, this, &UnreadCounter::onReset);
    connect(rows, &MessageListModel::answered, this, &UnreadCounter::onAnswered);
    onReset();
}

void UnreadCounter::setOnScreen(bool onScreen)
{
    m_onScreen = onScreen;
    if (!onScreen)
        return;
    m_seenId = qMax(m_seenId, newestId());
    setCount(0);
}

// Another stream, or the same one afresh: what it holds once it has answered is where counting
// starts.
void UnreadCounter::onReset()
{
    const void* stream = m_rows->source().data();
    if (stream == m_stream && stream)
        return;
    m_stream = stream;
    m_ready = m_rows->hasAnswered();
    m_seenId = m_announcedId = newestId();
    setCount(0);
}

// Once per answer of the stream, however many rows it changed; removals too.
void UnreadCounter::onAnswered()
{
    const int newest = newestId();
    if (!m_ready) {
        m_ready = true;
        m_seenId = m_announcedId = newest;
        return;
    }
    if (newest > m_announcedId) {
        const QSharedPointer<Ventari::IVentariModel> stream = m_rows->source();
        QVector<Ventari::Message> fresh;
        for (int index = stream->count() - 1; index >= 0; --index) {
            Ventari::Message message = stream->messageByIndex(index);
            if (message.id <= m_announcedId)
                break;
            fresh.append(std::move(message));
        }
        m_announcedId = newest;
        emit arrived(fresh);
    }
    if (m_onScreen)
        m_seenId = qMax(m_seenId, newest);
    setCount(m_onScreen ? 0 : m_rows->countNewerThan(m_seenId));
}

int UnreadCounter::newestId() const
{
    const QSharedPointer<Ventari::IVentariModel> stream = m_rows->source();
    return stream && stream->count() > 0 ? stream->messageByIndex(stream->count() - 1).id : -1;
}

void UnreadCounter::setCount(int count)
{
    if (count == m_count)
        return;
    m_count = count;
    emit countChanged(count);
}
