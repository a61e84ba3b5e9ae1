#include "ventarimodel.h"

#include "actions/ventarifollowunfollowaction.h"
#include "actions/ventarilikeunlikeaction.h"
#include "actions/ventaristreamaction.h"
#include "common/reports.h"
#include "iauthorization.h"
#include "messagemerge.h"
#include "streams/iventaristream.h"
#include "ventariactionhandler.h"
#include "ventariservices.h"
#include "ventaristreamshandler.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace Ventari {
namespace {

// Refresh weights: a stream with a message a minute or fewer takes plain turns; a busier one more,
// as the square root of its rate, which spreads a budget so that messages wait least in all. The
// rate is read off the newest messages' times, so that it is known from the first page on.
const qreal quietRate = 1.0 / 60;
const qreal heaviestWeight = 4;
const int rateSample = 20;
const qint64 shortestRateSpan = 10; // seconds

int oldestId(const Messages& messages)
{
    int oldest = INT_MAX;
    for (const Message& message : messages)
        oldest = qMin(oldest, message.id);
    return oldest;
}

} // namespace

VentariModel::VentariModel(IVentariStream* stream, const QByteArray& streamValue, int filterIndex)
    : m_streamValue(streamValue)
    , m_stream(stream)
    , m_filterIndex(filterIndex)
    , m_registry(VentariStreamsHandler::generation())
{
    VentariActionHandler* handler = VentariActionHandler::instance();
    // Queued, so that the error reaches the observers attached after construction.
    if (handler && handler->isOutOfRequests())
        QMetaObject::invokeMethod(this, "sendOutOfRequestsError", Qt::QueuedConnection);
    if (handler)
        VR_VERIFY(connect(handler, SIGNAL(outOfRequests(QDateTime)), this, SLOT(onOutOfRequests(QDateTime))));
    m_userId = currentUserId();
    if (IAuthorization* authorization = authorizationState())
        authorization->subscribe("userInfoChanged", this, "onUserInfoChanged");
    // One full load: a second one, or one for a user record that names the same user again, would
    // only spend the budget.
    forceUpdateData();
}

VentariModel::~VentariModel()
{
    for (const QPointer<VentariAbstractAction>& action : qAsConst(m_actions)) {
        if (action)
            action->cancel();
    }
}

int VentariModel::count() const
{
    return m_messages.size();
}

// After the report a default message (id -1): the caller gets an empty row rather than a crash.
Message VentariModel::messageByIndex(int index) const
{
    if (!VR_ASSERT(index >= 0 && index < m_messages.size()))
        return Message();
    return m_messages.at(index);
}

Message VentariModel::messageById(int id)
{
    const int index = messageIndex(id);
    return index == -1 ? Message() : m_messages.at(index);
}

int VentariModel::messageIndex(int id)
{
    VR_ASSERT(!m_messages.isEmpty());
    const int index = messageIndexInternal(id);
    VR_ASSERT(index != -1);
    return index;
}

// A copy sharing the list's storage would make the next merge copy all messages before changing
// one; a view that asks for all of them pays for that copy instead.
QList<Message> VentariModel::messages()
{
    return independentCopy(m_messages);
}

bool VentariModel::containsMessage(int id) const
{
    return messageIndexInternal(id) != -1;
}

void VentariModel::likeMessage(int id)
{
    VR_ASSERT(messageIndex(id) != -1);
    sendLikeUnlike(VentariLikeUnlikeAction::Like, id);
}

void VentariModel::unlikeMessage(int id)
{
    VR_ASSERT(messageIndex(id) != -1);
    sendLikeUnlike(VentariLikeUnlikeAction::Unlike, id);
}

// The load takes the place of the pending refresh: its answer carries the chain on.
void VentariModel::forceUpdateData()
{
    VentariStreamAction* action = createStreamAction(1);
    if (!action)
        return;
    dropChain();
    connectDefaultStreamAction(action);
    VR_VERIFY(connect(action, SIGNAL(following(bool)), this, SLOT(setFollow(bool))));
    m_load = action;
    execute(action);
}

void VentariModel::loadOldMessages()
{
    if (m_messages.isEmpty())
        return;
    VentariStreamAction* action = createStreamAction(1);
    if (!action)
        return;
    action->setMaxId(m_messages.at(0).id);
    VR_VERIFY(connect(action, SIGNAL(dataObtained(Ventari::Messages)), this, SLOT(onOldMessagesActionData(Ventari::Messages))));
    VR_VERIFY(connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&))));
    VR_VERIFY(connect(action, SIGNAL(streamId(int)), this, SLOT(onStreamId(int))));
    execute(action);
}

bool VentariModel::isFinished() const
{
    return m_finished;
}

void VentariModel::follow(bool follow)
{
    if (m_subjectId == -1 || !m_stream || !servicesRunning())
        return;
    const QByteArray streamId = m_stream->id();
    int kind = 0;
    if (streamId == "symbol")
        kind = VentariFollowUnfollowAction::Symbol;
    else if (streamId == "user")
        kind = VentariFollowUnfollowAction::User;
    else
        return;
    auto* action = new VentariFollowUnfollowAction(kind, !follow, m_subjectId);
    VR_VERIFY(connect(action, SIGNAL(success()), this, SLOT(onFollowUnfollowSuccess())));
    VR_VERIFY(connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onFollowUnfollowActionError(const ResponseError&))));
    execute(action);
}

bool VentariModel::isFollow() const
{
    return m_follow;
}

void VentariModel::setOnScreen(bool onScreen)
{
    if (onScreen == m_onScreen)
        return;
    m_onScreen = onScreen;
    if (m_refresh)
        m_refresh->setRefreshTurn(refreshTurn(m_refresh->refreshTurn().retry));
}

bool VentariModel::isOnScreen() const
{
    return m_onScreen;
}

void VentariModel::setMessageLimit(int limit)
{
    m_messageLimit = qMax(0, limit);
    keepWithinLimit();
}

// An answered load carries the one chain on only when nothing else does.
void VentariModel::onData(const Messages& messages)
{
    auto* action = qobject_cast<VentariStreamAction*>(sender());
    forgetSender();
    leaveChain(action);
    m_failures = 0;
    mergeChainPage(action, messages);
    keepWithinLimit();
    if (!isChainPending())
        requestRefreshData();
}

// Only an outage is retried, with growing delays, and said once; anything else ends the chain.
void VentariModel::onError(const ResponseError& failure)
{
    auto* action = qobject_cast<VentariStreamAction*>(sender());
    forgetSender();
    const bool chain = leaveChain(action);
    if (!failure.isTransient()) {
        emit error(tr("Stream not found."));
        return;
    }
    if (m_failures++ == 0)
        emit error(tr("Cannot reach the Ventari service."));
    if (chain && !isChainPending())
        requestRefreshData(m_failures);
}

// Older pages start no refresh of their own: the chain goes on as it is.
void VentariModel::onOldMessagesActionData(const Messages& messages)
{
    auto* action = qobject_cast<VentariStreamAction*>(sender());
    if (messages.isEmpty())
        m_finished = true;
    mergeMessages(messages, action ? action->maxId() : -1);
    forgetSender();
}

void VentariModel::onOutOfRequests(const QDateTime&)
{
    sendOutOfRequestsError();
}

void VentariModel::onLikeUnlikeActionDone(const Message& message)
{
    mergeMessages(Messages{message});
    forgetSender();
}

void VentariModel::onLikeUnlikeActionError(const ResponseError& error)
{
    postNotification(QStringLiteral("Like/Unlike Error"), error.errorText, 1);
    forgetSender();
}

void VentariModel::onUserInfoChanged()
{
    const int oldUser = m_userId;
    m_userId = currentUserId();
    if (m_userId == oldUser)
        return;

    QList<int> changed;
    for (const Message& message : qAsConst(m_messages)) {
        if (message.likes.contains(oldUser) != message.likes.contains(m_userId))
            changed.append(message.id);
    }
    if (!changed.isEmpty())
        emit messagesChanged(changed);
    forceUpdateData();
    if (m_follow) {
        m_follow = false;
        emit followStateChanged(false);
    }
}

int VentariModel::currentUserId() const
{
    IAuthorization* authorization = authorizationState();
    const StoredUserInfo user = authorization ? authorization->userInfo() : StoredUserInfo();
    return user.isEmpty ? -1 : user.info.id;
}

void VentariModel::onFollowUnfollowSuccess()
{
    if (auto* action = qobject_cast<VentariFollowUnfollowAction*>(sender()))
        setFollow(!action->isUnfollow());
    forgetSender();
}

void VentariModel::onFollowUnfollowActionError(const ResponseError&)
{
    postNotification(QStringLiteral("Ventari Error"),
                     QStringLiteral("Failed to send follow/unfollow command to the Ventari server"), 1);
    // A view that flipped its toggle flips it back.
    emit followStateChanged(m_follow);
    forgetSender();
}

void VentariModel::onStreamId(int id)
{
    m_subjectId = id;
}

void VentariModel::setFollow(bool value)
{
    if (value == m_follow)
        return;
    m_follow = value;
    emit followStateChanged(value);
}

void VentariModel::sendOutOfRequestsError()
{
    emit error(tr("Ventari Requests Limit Exceeded"));
}

int VentariModel::messageIndexInternal(int id) const
{
    int low = 0;
    int high = m_messages.size() - 1;
    while (low <= high) {
        const int mid = (low + high) / 2;
        const int probed = m_messages.at(mid).id;
        if (id < probed)
            high = mid - 1;
        else if (id > probed)
            low = mid + 1;
        else
            return mid;
    }
    return -1;
}

void VentariModel::mergeMessages(const Messages& incoming, int below)
{
    const MessageChanges changes = mergePage(m_messages, incoming, below);
    if (!changes.removed.isEmpty())
        emit messagesRemoved(changes.removed);
    if (!changes.added.isEmpty())
        emit messagesAdded(changes.added);
    if (!changes.changed.isEmpty())
        emit messagesChanged(changes.changed);
    if (m_messages.isEmpty()) {
        m_finished = true;
        emit noData();
    } else if (changes.isEmpty()) {
        emit messagesNoChanged();
    }
}

// A page of the newest messages that does not reach the stored ones leaves a gap below it; a gap
// page (loaded below the gap's top) narrows it, and closes it once it meets the stored messages.
void VentariModel::mergeChainPage(const VentariStreamAction* action, const Messages& page)
{
    const int below = action ? action->maxId() : -1;
    const int oldestOfPage = oldestId(page);
    if (below == -1) {
        const int newest = m_messages.isEmpty() ? -1 : m_messages.last().id;
        mergeMessages(page);
        if (newest != -1 && !page.isEmpty() && oldestOfPage > newest)
            m_gaps.insert(std::lower_bound(m_gaps.begin(), m_gaps.end(), oldestOfPage), oldestOfPage);
        return;
    }
    const int next = firstAtOrAbove(m_messages, below);
    const int bottom = next > 0 ? m_messages.at(next - 1).id : -1;
    mergeMessages(page, below);
    const int gap = m_gaps.indexOf(below);
    if (gap == -1)
        return;
    if (page.isEmpty() || oldestOfPage <= bottom)
        m_gaps.removeAt(gap);
    else
        m_gaps[gap] = oldestOfPage;
}

// Whether the action was the chain's load or refresh; answered, it no longer is.
bool VentariModel::leaveChain(const VentariStreamAction* action)
{
    if (!action)
        return false;
    if (action == m_load) {
        m_load = nullptr;
        return true;
    }
    if (action == m_refresh) {
        m_refresh = nullptr;
        return true;
    }
    return false;
}

bool VentariModel::isChainPending() const
{
    return m_load || (m_refresh && !m_refresh->isCancelled());
}

// The pool sends it when the model's turn comes, so the pool paces the refreshing of every model.
// With a gap open the oldest gap is filled first, page by page.
void VentariModel::requestRefreshData(int retry)
{
    VentariStreamAction* action = createStreamAction(2);
    if (!action)
        return;
    if (!m_gaps.isEmpty())
        action->setMaxId(m_gaps.first());
    connectDefaultStreamAction(action);
    action->setRefreshTurn(refreshTurn(retry));
    m_refresh = action;
    execute(action);
}

// The oldest go first; a gap they leave no message under is no gap any more. Older pages are the
// user's own wish and are not trimmed when they arrive.
void VentariModel::keepWithinLimit()
{
    if (m_messageLimit == 0 || m_messages.size() <= m_messageLimit)
        return;
    const int surplus = m_messages.size() - m_messageLimit;
    QList<int> removed;
    removed.reserve(surplus);
    for (int i = 0; i < surplus; ++i)
        removed.append(m_messages.at(i).id);
    m_messages.erase(m_messages.begin(), m_messages.begin() + surplus);
    const int oldest = m_messages.first().id;
    m_gaps.erase(m_gaps.begin(), std::upper_bound(m_gaps.begin(), m_gaps.end(), oldest));
    m_finished = false;
    emit messagesRemoved(removed);
}

// A refresh still queued is dropped; one already out is answered, and merged, as any other load.
void VentariModel::dropChain()
{
    if (m_refresh)
        m_refresh->cancel();
    m_refresh = nullptr;
}

RefreshTurn VentariModel::refreshTurn(int retry) const
{
    RefreshTurn turn;
    turn.owner = const_cast<VentariModel*>(this);
    turn.weight = qBound<qreal>(1, std::sqrt(activity() / quietRate), heaviestWeight);
    turn.onScreen = m_onScreen;
    turn.retry = retry;
    return turn;
}

// Messages a second lately: the newest few over the time since the oldest of them was posted.
qreal VentariModel::activity() const
{
    const int sample = qMin(rateSample, m_messages.size());
    if (sample == 0)
        return 0;
    const QDateTime since = m_messages.at(m_messages.size() - sample).createdAt;
    const qint64 span = since.isValid() ? since.secsTo(QDateTime::currentDateTimeUtc()) : -1;
    return span < 0 ? 0 : sample / qreal(qMax(shortestRateSpan, span));
}

VentariStreamAction* VentariModel::createStreamAction(int priority)
{
    if (!servicesRunning())
        return nullptr;
    return new VentariStreamAction(m_stream, m_streamValue, m_filterIndex, priority);
}

// The streams go with the registry when the plugin ends; a model that a host still holds then
// must not read its stream, also once the plugin has started again with streams of its own.
bool VentariModel::servicesRunning() const
{
    return VentariActionHandler::instance() != nullptr && VR_ASSERT(m_registry == VentariStreamsHandler::generation());
}

void VentariModel::connectDefaultStreamAction(VentariStreamAction* action)
{
    VR_VERIFY(connect(action, SIGNAL(dataObtained(Ventari::Messages)), this, SLOT(onData(Ventari::Messages))));
    VR_VERIFY(connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&))));
    VR_VERIFY(connect(action, SIGNAL(streamId(int)), this, SLOT(onStreamId(int))));
}

// The stored message keeps its likes until the service's answer is merged.
void VentariModel::sendLikeUnlike(int operation, int id)
{
    auto* action = new VentariLikeUnlikeAction(operation, id);
    VR_VERIFY(connect(action, SIGNAL(done(Ventari::Message)), this, SLOT(onLikeUnlikeActionDone(Ventari::Message))));
    VR_VERIFY(connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onLikeUnlikeActionError(const ResponseError&))));
    execute(action);
}

void VentariModel::execute(VentariAbstractAction* action)
{
    VentariActionHandler* handler = VentariActionHandler::instance();
    if (!handler) {
        delete action;
        return;
    }
    // Actions deleted without an answer (dropped by the pool, or gone with the handler) leave nulls.
    m_actions.removeAll(QPointer<VentariAbstractAction>());
    m_actions.append(action);
    handler->executeAction(action);
}

void VentariModel::forgetSender()
{
    if (auto* action = qobject_cast<VentariAbstractAction*>(sender()))
        m_actions.removeAll(QPointer<VentariAbstractAction>(action));
}

} // namespace Ventari
