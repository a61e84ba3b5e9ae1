#include "messagelistmodel.h"

#include "safetext.h"

#include <iventarimodel.h>

#include <algorithm>

namespace {

// Rows kept beyond the reading range, on the side that is trimmed, so that scrolling on a little
// does not have to bring them back at once.
const int readingMargin = 50;
// What the plugin model keeps, in windows of rows; and room for one older page at a time.
const int keptWindows = 5;
const int olderPageRoom = 100;

} // namespace

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
    m_readingNewest = m_readingOldest = -1;
    m_pagingBack = false;
    loadNewest();
    // A model shared with another tab may have answered long ago.
    m_answered = m_source && (!m_rows.empty() || m_source->isFinished());
    endResetModel();
    if (!m_source)
        return;
    keepWhatIsRead();
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
    if (!m_rows.empty())
        emit dataChanged(index(0), index(rowCount() - 1), {LikedRole});
}

int MessageListModel::rowOfMessage(int id) const
{
    const int position = positionOf(id);
    return position < int(m_rows.size()) && m_rows[size_t(position)].message.id == id
               ? int(m_rows.size()) - 1 - position
               : -1;
}

Ventari::Message MessageListModel::messageAt(int row) const
{
    return row >= 0 && row < rowCount() ? rowAt(row).message : Ventari::Message();
}

void MessageListModel::setRowLimit(int limit)
{
    m_limit = qMax(1, limit);
    trim();
    keepWhatIsRead();
}

// The plugin model keeps a few windows of the newest messages, and as many more as the user reads
// below them; while he pages through older ones, all it holds: new messages must not take away
// what is being read.
void MessageListModel::keepWhatIsRead()
{
    if (!m_source)
        return;
    int kept = keptWindows * m_limit;
    if (m_readingOldest != -1)
        kept = qMax(kept, countNewerThan(m_readingOldest) + 1 + m_limit);
    if (m_pagingBack)
        kept = qMax(kept, m_source->count() + olderPageRoom);
    m_source->setMessageLimit(kept);
}

void MessageListModel::loadOlder()
{
    if (!m_source)
        return;
    m_pagingBack = true;
    keepWhatIsRead();
    m_source->loadOldMessages();
}

void MessageListModel::setReadingRange(int newestId, int oldestId)
{
    m_readingNewest = newestId;
    m_readingOldest = oldestId;
    // Back among the newest: the pages he went back for may go again.
    if (m_source && m_source->count() > 0 && newestId == m_source->messageByIndex(m_source->count() - 1).id)
        m_pagingBack = false;
    keepWhatIsRead();
}

int MessageListModel::hiddenOlderCount() const
{
    return m_floor == INT_MIN ? 0 : sourceCountBelow(m_floor);
}

int MessageListModel::hiddenNewerCount() const
{
    return countNewerThan(m_ceiling);
}

int MessageListModel::countNewerThan(int id) const
{
    return !m_source || id == INT_MAX ? 0 : m_source->count() - sourceCountBelow(id + 1);
}

int MessageListModel::showOlder(int count)
{
    if (m_floor == INT_MIN || count <= 0)
        return 0;
    const int below = sourceCountBelow(m_floor);
    const int from = qMax(0, below - count);
    const int added = below - from;
    if (added > 0) {
        beginInsertRows(QModelIndex(), rowCount(), rowCount() + added - 1);
        for (int i = below - 1; i >= from; --i)
            m_rows.push_front({m_source->messageByIndex(i), false});
    }
    m_floor = from == 0 ? INT_MIN : m_rows.front().message.id;
    if (added > 0) {
        endInsertRows();
        trim();
    }
    return added;
}

int MessageListModel::showNewer(int count)
{
    if (m_ceiling == INT_MAX || count <= 0)
        return 0;
    const int total = m_source->count();
    const int above = sourceCountBelow(m_ceiling + 1);
    const int to = qMin(total, above + count);
    const int added = to - above;
    if (added > 0) {
        beginInsertRows(QModelIndex(), 0, added - 1);
        for (int i = above; i < to; ++i)
            m_rows.push_back({m_source->messageByIndex(i), false});
    }
    m_ceiling = to == total ? INT_MAX : m_rows.back().message.id;
    if (added > 0) {
        endInsertRows();
        trim();
    }
    return added;
}

void MessageListModel::showNewest()
{
    if (m_ceiling == INT_MAX)
        return;
    beginResetModel();
    m_readingNewest = m_readingOldest = -1;
    m_pagingBack = false;
    loadNewest();
    endResetModel();
    keepWhatIsRead();
}

bool MessageListModel::isAtEnd() const
{
    return m_source && !m_rows.empty() && m_floor == INT_MIN && m_source->isFinished();
}

bool MessageListModel::isExpanded(int id) const
{
    const int row = rowOfMessage(id);
    return row != -1 && rowAt(row).expanded;
}

void MessageListModel::setExpanded(int id, bool expanded)
{
    const int row = rowOfMessage(id);
    if (row == -1 || rowAt(row).expanded == expanded)
        return;
    rowAt(row).expanded = expanded;
    emit dataChanged(index(row), index(row), {ExpandedRole});
}

int MessageListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

QVariant MessageListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const Row& row = rowAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return SafeText::plain(row.message.body);
    case MessageRole:
        return QVariant::fromValue(row.message);
    case MessageIdRole:
        return row.message.id;
    case LikedRole:
        return m_userId != -1 && row.message.likes.contains(m_userId);
    case ExpandedRole:
        return row.expanded;
    default:
        return QVariant();
    }
}

// Messages outside the window stay hidden: older ones until the user scrolls down to them, newer
// ones until he scrolls up or asks for the newest.
void MessageListModel::onMessagesAdded(const QList<int>& ids)
{
    // Before the plugin model makes room for them: what the user reads stays.
    keepWhatIsRead();
    QVector<Ventari::Message> incoming;
    for (int id : ids) {
        if (id >= m_floor && id <= m_ceiling && m_source->containsMessage(id) && rowOfMessage(id) == -1)
            incoming.append(m_source->messageById(id));
    }
    std::sort(incoming.begin(), incoming.end(),
              [](const Ventari::Message& a, const Ventari::Message& b) { return a.id < b.id; });
    // Messages that land between the same two rows go in together, as one block of rows.
    for (int first = 0; first < incoming.size();) {
        const int position = positionOf(incoming.at(first).id);
        int last = first;
        while (last + 1 < incoming.size() && positionOf(incoming.at(last + 1).id) == position)
            ++last;
        const int rows = rowCount();
        beginInsertRows(QModelIndex(), rows - position, rows - position + last - first);
        std::vector<Row> block;
        for (int i = first; i <= last; ++i)
            block.push_back({incoming.at(i), false});
        m_rows.insert(m_rows.begin() + position, block.begin(), block.end());
        endInsertRows();
        first = last + 1;
    }
    trim();
    markAnswered();
}

void MessageListModel::onMessagesRemoved(const QList<int>& ids)
{
    QVector<int> rows;
    int firstKept = rowCount();
    int lastKept = -1;
    for (int id : ids) {
        const int row = rowOfMessage(id);
        if (row == -1)
            continue;
        // A merge reports the messages above a gap it fills as removed and added again; their
        // rows stay, so that the view keeps what is read in place.
        if (m_source->containsMessage(id)) {
            rowAt(row).message = m_source->messageById(id);
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
        const int size = rowCount();
        beginRemoveRows(QModelIndex(), rows.at(last), rows.at(first));
        m_rows.erase(m_rows.begin() + (size - 1 - rows.at(first)), m_rows.begin() + (size - rows.at(last)));
        endRemoveRows();
        first = last + 1;
    }
    // A window emptied by deletions would hide the messages around it.
    if (m_rows.empty() && (m_floor != INT_MIN || m_ceiling != INT_MAX)) {
        beginResetModel();
        loadNewest();
        endResetModel();
    }
    markAnswered();
}

void MessageListModel::onMessagesChanged(const QList<int>& ids)
{
    for (int id : ids) {
        const int row = rowOfMessage(id);
        if (row == -1 || !m_source->containsMessage(id))
            continue;
        rowAt(row).message = m_source->messageById(id);
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

int MessageListModel::positionOf(int id) const
{
    const auto position = std::lower_bound(m_rows.cbegin(), m_rows.cend(), id,
                                           [](const Row& row, int value) { return row.message.id < value; });
    return int(position - m_rows.cbegin());
}

// The plugin model answers by index, ascending by id.
int MessageListModel::sourceCountBelow(int id) const
{
    int low = 0;
    int high = m_source ? m_source->count() : 0;
    while (low < high) {
        const int middle = low + (high - low) / 2;
        if (m_source->messageByIndex(middle).id < id)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

// Only the newest messages are copied: a model a day old holds tens of thousands.
void MessageListModel::loadNewest()
{
    m_rows.clear();
    m_floor = INT_MIN;
    m_ceiling = INT_MAX;
    if (!m_source)
        return;
    const int count = m_source->count();
    const int from = qMax(0, count - m_limit);
    for (int i = from; i < count; ++i)
        m_rows.push_back({m_source->messageByIndex(i), false});
    if (from > 0)
        m_floor = m_rows.front().message.id;
}

// The newest rows stay unless the user reads further down; then the rows around what he reads.
void MessageListModel::trim()
{
    const int rows = rowCount();
    if (rows <= m_limit)
        return;
    const int newest = m_readingNewest == -1 ? -1 : rowOfMessage(m_readingNewest);
    const int oldest = m_readingOldest == -1 ? -1 : rowOfMessage(m_readingOldest);
    const int readTo = qMax(newest, oldest);
    const int first = readTo == -1 ? 0 : qBound(0, readTo + readingMargin - m_limit + 1, rows - m_limit);
    keepRows(first, first + m_limit - 1);
}

void MessageListModel::keepRows(int first, int last)
{
    const int rows = rowCount();
    if (last < rows - 1) {
        beginRemoveRows(QModelIndex(), last + 1, rows - 1);
        m_rows.erase(m_rows.begin(), m_rows.begin() + (rows - 1 - last));
        m_floor = m_rows.front().message.id;
        endRemoveRows();
    }
    if (first > 0) {
        beginRemoveRows(QModelIndex(), 0, first - 1);
        m_rows.erase(m_rows.end() - first, m_rows.end());
        m_ceiling = m_rows.back().message.id;
        endRemoveRows();
    }
}

void MessageListModel::markAnswered()
{
    m_answered = true;
    emit answered();
}
