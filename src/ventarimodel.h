#pragma once

#include "iventarimodel.h"
#include "ventariglobal.h"
#include "ventaritypes.h"

#include "actions/ventariabstractaction.h"
#include "common/notifier/commonabstractnotifier.h"

#include <QtCore/QByteArray>
#include <QtCore/QDateTime>
#include <QtCore/QList>
#include <QtCore/QObject>
#include <QtCore/QPointer>
#include <QtCore/QString>

namespace Ventari {

class IVentariStream;
class VentariAbstractAction;
class VentariStreamAction;

// The messages of one stream through one filter, ascending by id, kept current through the action
// handler: loads, one chain of refreshes that fills gaps and outlives outages, older pages, likes
// and follows.
class VENTARI_EXPORT VentariModel : public QObject, public Common::AbstractNotifier, public IVentariModel
{
    Q_OBJECT

public:
    VentariModel(IVentariStream* stream, const QByteArray& streamValue, int filterIndex);
    // Cancels the pending actions, so that those still queued are dropped unsent.
    ~VentariModel() override;

    int count() const override;
    Message messageByIndex(int index) const override;
    Message messageById(int id) override;
    int messageIndex(int id) override;
    QList<Message> messages() override;
    bool containsMessage(int id) const override;
    void likeMessage(int id) override;
    void unlikeMessage(int id) override;
    void forceUpdateData() override;
    void loadOldMessages() override;
    bool isFinished() const override;
    void follow(bool follow) override;
    bool isFollow() const override;
    void setOnScreen(bool onScreen) override;
    bool isOnScreen() const override;
    void setMessageLimit(int limit) override;

signals:
    void messagesAdded(const QList<int>& ids) override;
    void messagesRemoved(const QList<int>& ids) override;
    void messagesChanged(const QList<int>& ids) override;
    void noData() override;
    void error(const QString& text) override;
    void messagesNoChanged() override;
    void followStateChanged(bool follow) override;

private slots:
    void onData(const Ventari::Messages& messages);
    void onError(const ResponseError& error);
    void onOldMessagesActionData(const Ventari::Messages& messages);
    void onOutOfRequests(const QDateTime& resetTime);
    void onLikeUnlikeActionDone(const Ventari::Message& message);
    void onLikeUnlikeActionError(const ResponseError& error);
    // Called by the authorization state's notifier, by signature.
    void onUserInfoChanged();
    void onFollowUnfollowSuccess();
    void onFollowUnfollowActionError(const ResponseError& error);
    void onStreamId(int id);
    void setFollow(bool value);
    void sendOutOfRequestsError();

private:
    int messageIndexInternal(int id) const;
    void mergeMessages(const Messages& incoming, int below = -1);
    void mergeChainPage(const VentariStreamAction* action, const Messages& page);
    bool leaveChain(const VentariStreamAction* action);
    bool isChainPending() const;
    void requestRefreshData(int retry = 0);
    void dropChain();
    void keepWithinLimit();
    RefreshTurn refreshTurn(int retry) const;
    qreal activity() const;
    int currentUserId() const;
    VentariStreamAction* createStreamAction(int priority);
    bool servicesRunning() const;
    void connectDefaultStreamAction(VentariStreamAction* action);
    void sendLikeUnlike(int operation, int id);
    void execute(VentariAbstractAction* action);
    void forgetSender();

    QByteArray m_streamValue;
    IVentariStream* m_stream;
    Messages m_messages;
    QList<QPointer<VentariAbstractAction>> m_actions;
    int m_filterIndex;
    int m_userId = -1;
    bool m_finished = false;
    bool m_follow = false;
    int m_subjectId = -1;
    // The one chain of periodic loads: a full load, or else a refresh, a gap page or a retry.
    QPointer<VentariStreamAction> m_load;
    QPointer<VentariStreamAction> m_refresh;
    // Tops of the ranges between stored messages that the service may still hold messages for,
    // oldest first: a refresh whose page did not reach the stored messages leaves one.
    QList<int> m_gaps;
    int m_failures = 0; // loads of the chain failed in a row for an outage
    bool m_onScreen = false;
    int m_messageLimit = 0;
    quint64 m_registry; // the stream registry's generation the stream came from
};

} // namespace Ventari
