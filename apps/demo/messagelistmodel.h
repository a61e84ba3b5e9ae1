#pragma once

#include <ventaritypes.h>

#include <QtCore/QAbstractListModel>
#include <QtCore/QList>
#include <QtCore/QSharedPointer>
#include <QtCore/QVector>

namespace Ventari {
class IVentariModel;
}

// The messages of one plugin model as list rows, newest first, kept in step with the model's
// lists of added, removed and changed ids. Rows hold copies, so the view never reads a message
// the model has already dropped.
class MessageListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role { MessageRole = Qt::UserRole + 1, MessageIdRole, LikedRole };

    explicit MessageListModel(QObject* parent = nullptr);
    ~MessageListModel() override;

    // Follows this model from now on (null: none); rows start from what it already holds.
    void setSource(const QSharedPointer<Ventari::IVentariModel>& source);
    QSharedPointer<Ventari::IVentariModel> source() const { return m_source; }
    // Whose likes count as the user's own.
    void setCurrentUserId(int id);
    int currentUserId() const { return m_userId; }
    // Whether the model has answered at least once since it was set.
    bool hasAnswered() const { return m_answered; }

    int rowOfMessage(int id) const;
    Ventari::Message messageAt(int row) const;

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
    // The row where a message with this id belongs: rows are in descending id order.
    int insertionRow(int id) const;
    void markAnswered();

    QSharedPointer<Ventari::IVentariModel> m_source;
    QVector<Ventari::Message> m_rows;
    int m_userId = -1;
    bool m_answered = false;
};
