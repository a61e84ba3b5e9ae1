#pragma once

#include <ventaritypes.h>

#include <QtCore/QAbstractListModel>
#include <QtCore/QList>
#include <QtCore/QSharedPointer>

#include <climits>
#include <deque>

namespace Ventari {
class IVentariModel;
}

// The messages of one plugin model as list rows, newest first, kept in step with the model's
// lists of added, removed and changed ids. Rows hold copies, so the view never reads a message
// the model has already dropped. The plugin model keeps a few windows' worth of its newest
// messages (more once the user has paged further back); the rows are a window of at most
// rowLimit() of them, moved by the view as the user scrolls, so that what a tab holds and what an
// update costs stay the same over a day.
class MessageListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { MessageRole = Qt::UserRole + 1, MessageIdRole, LikedRole, ExpandedRole };

    explicit MessageListModel(QObject* parent = nullptr);
    ~MessageListModel() override;

    // Follows this model from now on (null: none); rows start from the newest it already holds.
    void setSource(const QSharedPointer<Ventari::IVentariModel>& source);
    QSharedPointer<Ventari::IVentariModel> source() const { return m_source; }
    // Whose likes count as the user's own.
    void setCurrentUserId(int id);
    int currentUserId() const { return m_userId; }
    // Whether the model has answered at least once since it was set.
    bool hasAnswered() const { return m_answered; }

    int rowOfMessage(int id) const;
    Ventari::Message messageAt(int row) const;
    // The message of a row without a copy, for painting and sizing; row must be one of the rows.
    const Ventari::Message& rowMessage(int row) const { return rowAt(row).message; }

    // The window. Beyond the limit, rows go from the end away from what is read (setReadingRange).
    void setRowLimit(int limit);
    int rowLimit() const { return m_limit; }
    // The newest and oldest message the user has in view; -1: none, keep the newest rows.
    void setReadingRange(int newestId, int oldestId);
    // Messages of the plugin model below the last row, and above the first one.
    int hiddenOlderCount() const;
    int hiddenNewerCount() const;
    // Messages of the plugin model newer than id, rows or not.
    int countNewerThan(int id) const;
    // Show up to count more of the plugin model's messages below the last row or above the first
    // one; return how many came.
    int showOlder(int count);
    int showNewer(int count);
    // Asks the plugin model for the page older than all it holds, and lets it keep that page.
    void loadOlder();
    // The rows start again from the newest message.
    void showNewest();
    // The last row is the oldest message there is: the plugin model has none older to load.
    bool isAtEnd() const;

    // A long message shown whole rather than its first lines.
    bool isExpanded(int id) const;
    void setExpanded(int id, bool expanded);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

signals:
    // The model's first and later answers: messages arrived, or there are none, or none changed.
    void answered();
    void errorOccurred(const QString& text);
    void followStateChanged(bool follow);

private slots:
    // Called by the plugin model's notifier, by name.
    void onMessagesAdded(const QList<int>& ids);
    void onMessagesRemoved(const QList<int>& ids);
    void onMessagesChanged(const QList<int>& ids);
    void onNoData();
    void onError(const QString& text);
    void onMessagesNoChanged();
    void onFollowStateChanged(bool follow);

private:
    void keepWhatIsRead();
    struct Row
    {
        Ventari::Message message;
        bool expanded = false;
    };

    // Rows are held oldest first, so that new messages are appended; row r is m_rows[size - 1 - r].
    const Row& rowAt(int row) const { return m_rows[m_rows.size() - 1 - size_t(row)]; }
    Row& rowAt(int row) { return m_rows[m_rows.size() - 1 - size_t(row)]; }
    // Where in m_rows a message with this id is or belongs.
    int positionOf(int id) const;
    // How many of the plugin model's messages have an id below this one.
    int sourceCountBelow(int id) const;
    void loadNewest();
    // Drops rows beyond the limit, away from the reading range.
    void trim();
    void keepRows(int first, int last);
    void markAnswered();

    QSharedPointer<Ventari::IVentariModel> m_source;
    std::deque<Row> m_rows;
    // The rows are the plugin model's messages with ids from m_floor to m_ceiling; the limits
    // stand open while the rows reach the oldest or the newest message.
    int m_floor = INT_MIN;
    int m_ceiling = INT_MAX;
    int m_limit = 2000;
    bool m_pagingBack = false; // the user asked for older pages and has not come back to the newest
    int m_readingNewest = -1;
    int m_readingOldest = -1;
    int m_userId = -1;
    bool m_answered = false;
};
