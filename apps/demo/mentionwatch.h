#pragma once

#include <ventaritypes.h>

#include <QtCore/QObject>
#include <QtCore/QVector>

class MessageListModel;
class UnreadCounter;

namespace Ventari {
class IVentariService;
}

// Keeps the signed-in user's Mentions stream open while the desk runs, so that a new mention is
// told whether or not a tab shows them; a Mentions tab shares the same stream, so it costs no
// requests of its own then.
class MentionWatch : public QObject
{
    Q_OBJECT

public:
    explicit MentionWatch(Ventari::IVentariService* service, QObject* parent = nullptr);
    ~MentionWatch() override;

signals:
    // Mentions newer than any seen before, newest first; not those there when the watch began.
    void arrived(const QVector<Ventari::Message>& messages);

private slots:
    // Called by the authorization state's notifier, by name.
    void onAuthorizationChanged();

private:
    Ventari::IVentariService* m_service;
    MessageListModel* m_rows;
    UnreadCounter* m_counter;
};
