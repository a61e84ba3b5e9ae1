#include "messagelistmodel.h"

#include "safetext.h"

#include <iventarimodel.h>

#include <algorithm>

MessageListModel::MessageListModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

MessageListModel::~MessageListModel()
{
    if (m_source)
        m_source->unsubscribe(this);
}

void MessageListModel::setSource(const QSharedPointer<Ventari::IVentariModel>& source)
{
    if (source == m_source)
        return;
    if (m_source)
        m_source->unsubscribe(this);
    beginResetModel();
    m_source = source;
    m_rows.clear();
    m_answered = false;
    if (m_source) {
        const QList<Ventari::Message> messages = m_source->messages();
        m_rows.reserve(messages.size());
        std::copy(messages.crbegin(), messages.crend(), std::back_inserter(m_rows));
        // A model shared with another tab may have answered long ago.
        m_answered = !m_rows.isEmpty() || m_source->isFinished();
    }
    endResetModel();
    if (!m_source)
        return;
    m_source->subscribe("messagesAdded", this, "onMessagesAdded");
    m_source->subscribe("messagesRemoved", this, "onMessagesRemoved");
    m_source->subscribe("messagesChanged", this, "onMessagesChanged");
    m_source->subscribe("noData", this, "onNoData");
    m_source->subscribe("error", this, "onError");
    m_source->subscribe("messagesNoChanged", this, "onMessagesNoChanged");
    m_source->subscribe("followStateChanged", this, "onFollowStateChanged");
}

void MessageListModel::setCurrentUserId(int id)
{
    if (id == m_userId)
        return;
    m_userId = id;
    if (!m_rows.isEmpty())
        emit dataChanged(index(0), index(m_rows.size() - 1), {LikedRole});
}

int MessageListModel::rowOfMessage(int id) const
{
    const int row = insertionRow(id);
    return row < m_rows.size() && m_rows.at(row).id == id ? row : -1;
}

Ventari::Message MessageListModel::messageAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : Ventari::Message();
}

int MessageListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows.size();
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return QVariant();
    const Ventari::Message& message = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return SafeText::plain(message.body);
    case MessageRole:
        return QVariant::fromValue(message);
    case MessageIdRole:
        return message.id;
    case LikedRole:
        return m_userId != -1 && message.likes.contains(m_userId);
    default:
        return QVariant();
    }
}

void MessageListModel::onMessagesAdded(const QList<int>& ids)
{
    QVector<Ventari::Message> incoming;
    for (int id : ids) {
        if (m_source->containsMessage(id) && rowOfMessage(id) == -1)
            incoming.append(m_source->messageById(id));
    }
    std::sort(incoming.begin(), incoming.end(),
              [](const Ventari::Message& a, const Ventari::Message& b) { return a.id > b.id; });
    // Messages that land between the same two rows go in together, as one block of rows.
    for (int first = 0; first < incoming.size();) {
        const int row = insertionRow(incoming.at(first).id);
        int last = first;
        while (last + 1 < incoming.size() && insertionRow(incoming.at(last + 1).id) == row)
            ++last;
        beginInsertRows(QModelIndex(), row, row + last - first);
        for (int i = first; i <= last; ++i)
            m_rows.insert(row + i - first, incoming.at(i));
        endInsertRows();
        first = last + 1;
    }
    markAnswered();
}

void MessageListModel::onMessagesRemoved(const QList<int>& ids)
{
    QVector<int> rows;
    int firstKept = m_rows.size();
    int lastKept = -1;
    for (int id : ids) {
        const int row = rowOfMessage(id);
        if (row == -1)
            continue;
        // A merge reports the messages above a gap it fills as removed and added again; their
        // rows stay, so that the view keeps what is read in place.
        if (m_source->containsMessage(id)) {
            m_rows[row] = m_source->messageById(id);
            firstKept = qMin(firstKept, row);
            lastKept = qMax(lastKept, row);
        } else {
            rows.append(row);
        }
    }
    if (lastKept != -1)
        emit dataChanged(index(firstKept), index(lastKept));
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    // From the bottom up, a block of neighbouring rows at a time, so earlier rows keep their numbers.
    for (int first = 0; first < rows.size();) {
        int last = first;
        while (last + 1 < rows.size() && rows.at(last + 1) == rows.at(last) - 1)
            ++last;
        beginRemoveRows(QModelIndex(), rows.at(last), rows.at(first));
        m_rows.erase(m_rows.begin() + rows.at(last), m_rows.begin() + rows.at(first) + 1);
        endRemoveRows();
        first = last + 1;
    }
    markAnswered();
}

void MessageListModel::onMessagesChanged(const QList<int>& ids)
{
    for (int id : ids) {
        const int row = rowOfMessage(id);
        if (row == -1 || !m_source->containsMessage(id))
            continue;
        m_rows[row] = m_source->messageById(id);
        emit dataChanged(index(row), index(row));
    }
    markAnswered();
}

// Rows follow the removals, so there are none left by now.
void MessageListModel::onNoData()
{
    markAnswered();
}

void MessageListModel::onError(const QString& text)
{
    emit errorOccurred(text);
}

void MessageListModel::onMessagesNoChanged()
{
    markAnswered();
}

void MessageListModel::onFollowStateChanged(bool follow)
{
    emit followStateChanged(follow);
}

int MessageListModel::insertionRow(int id) const
{
    const auto position = std::lower_bound(m_rows.cbegin(), m_rows.cend(), id,
                                           [](const Ventari::Message& row, int value) { return row.id > value; });
    return int(position - m_rows.cbegin());
}

void MessageListModel::markAnswered()
{
    m_answered = true;
    emit answered();
}
