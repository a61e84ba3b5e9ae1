#include "commoninputmodel.h"

CommonInputModel::CommonInputModel(QObject* parent)
    : QAbstractListModel(parent)
{
}

int CommonInputModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_values.size();
}

QVariant CommonInputModel::data(const QModelIndex& index, int role) const
{
    if (!isEntry(index))
        return QVariant();
    if (role == Qt::DisplayRole || role == Qt::EditRole)
        return QString::fromUtf8(m_values.at(index.row()));
    return QVariant();
}

bool CommonInputModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (role != Qt::EditRole || !isEntry(index))
        return false;
    const QByteArray entry = value.toString().toUtf8();
    if (!acceptsValue(entry))
        return false;
    // An edit that would repeat another entry is refused rather than merged.
    const int existing = m_values.indexOf(entry);
    if (existing != -1 && existing != index.row())
        return false;
    m_values[index.row()] = entry;
    emit dataChanged(index, index, {Qt::DisplayRole, Qt::EditRole});
    return true;
}

Qt::ItemFlags CommonInputModel::flags(const QModelIndex& index) const
{
    return QAbstractListModel::flags(index) | (index.isValid() ? Qt::ItemIsEditable : Qt::NoItemFlags);
}

bool CommonInputModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_values.size())
        return false;
    beginRemoveRows(QModelIndex(), row, row + count - 1);
    m_values.erase(m_values.begin() + row, m_values.begin() + row + count);
    endRemoveRows();
    return true;
}

void CommonInputModel::setValues(const QList<QByteArray>& values)
{
    beginResetModel();
    m_values = values;
    endResetModel();
}

bool CommonInputModel::addValue(const QByteArray& value)
{
    if (!acceptsValue(value))
        return false;
    const int existing = m_values.indexOf(value);
    if (existing == 0)
        return true;
    if (existing > 0) {
        beginMoveRows(QModelIndex(), existing, existing, QModelIndex(), 0);
        m_values.move(existing, 0);
        endMoveRows();
        return true;
    }
    beginInsertRows(QModelIndex(), 0, 0);
    m_values.prepend(value);
    endInsertRows();
    dropBeyondMaximum();
    return true;
}

void CommonInputModel::setMaximumCount(int count)
{
    m_maximumCount = qMax(1, count);
    dropBeyondMaximum();
}

// Views ask for rows that do not exist (a combo box with no current entry); they get nothing.
bool CommonInputModel::isEntry(const QModelIndex& index) const
{
    return index.isValid() && index.model() == this && index.row() < m_values.size();
}

void CommonInputModel::dropBeyondMaximum()
{
    if (m_values.size() > m_maximumCount)
        removeRows(m_maximumCount, m_values.size() - m_maximumCount);
}
