#pragma once

#include <ventaritypes.h>

#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QVector>

class MessageListModel;

// Counts the messages of a list's stream that came in since the list was last on screen, and
// hands on each message newer than any it saw before, once. What a stream holds when it first
// answers is not new; older pages are not either. It reads the stream itself, so messages beyond
// the rows the list keeps count too.
class UnreadCounter : public QObject
{
    Q_OBJECT

public:
    explicit UnreadCounter(MessageListModel* rows, QObject* parent = nullptr);

    // On screen, everything the list shows counts as read.
    void setOnScreen(bool onScreen);
    int count() const { return m_count; }

signals:
    void countChanged(int count);
    // Messages newer than any seen before, newest first.
    void arrived(const QVector<Ventari::Message>& messages);

private slots:
    void onReset();
    void onAnswered();

private:
    int newestId() const;
    void setCount(int count);

    QPointer<MessageListModel> m_rows;
    const void* m_stream = nullptr; // the stream counted, to tell it from the rows merely moving
    bool m_onScreen = false;
    bool m_ready = false; // the stream has answered, so its first messages are known
    int m_seenId = -1;    // the newest id when the list was last on screen
    int m_announcedId = -1;
    int m_count = 0;
};
