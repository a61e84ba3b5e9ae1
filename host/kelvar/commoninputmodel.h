#pragma once

#include "hostglobal.h"

#include <QtCore/QAbstractListModel>
#include <QtCore/QByteArray>
#include <QtCore/QList>

// The history behind a combo control: byte-string entries, the latest at the top.
class HOST_EXPORT CommonInputModel : public QAbstractListModel
{
    Q_OBJECT

public:
    explicit CommonInputModel(QObject* parent = nullptr);

    // The value a control shows while nothing has been entered.
    virtual QByteArray defaultValue() const = 0;
    // Whether an entered value may join the entries.
    virtual bool acceptsValue(const QByteArray& value) const = 0;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    QList<QByteArray> values() const { return m_values; }
    QByteArray value(int row) const { return m_values.value(row); }
    // Replaces every entry in one model reset.
    void setValues(const QList<QByteArray>& values);
    // Puts an accepted value at the top, moving it there when it is already an entry and dropping
    // the oldest entries beyond the maximum; false when the value is not accepted.
    bool addValue(const QByteArray& value);

    int maximumCount() const { return m_maximumCount; }
    void setMaximumCount(int count);

private:
    bool isEntry(const QModelIndex& index) const;
    void dropBeyondMaximum();

    QList<QByteArray> m_values;
    int m_maximumCount = 20;
};
