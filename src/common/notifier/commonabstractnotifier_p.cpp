#include "commonabstractnotifier_p.h"

#include "metaobjectinfo.h"
#include "notifierteardown.h"
#include "observerdestroyhelper.h"

#include <QtCore/QMetaObject>

namespace Common {
namespace {

const QByteArray s_attachedPrefix("attached_");
const QByteArray s_detachedPrefix("detached_");
const QByteArray s_linkPointerType("const Link*");
const LinkSet s_emptyLinkSet;
const Link s_emptyLink;

// attached_ and detached_ slots take "const Link*"; registered for queued invocations too.
const int s_linkPointerMetaType = qRegisterMetaType<const Link*>("const Link*");

} // namespace

AbstractNotifierPrivate::LinkOrError::LinkOrError(const Link& link)
    : m_link(link)
    , m_result(resultOk)
{
    VR_ASSERT(link.isValid());
}

AbstractNotifierPrivate::LinkOrError::LinkOrError(int r)
    : m_link(s_emptyLink)
    , m_result(r)
{
    VR_ASSERT(r != resultOk);
}

AbstractNotifierPrivate::AbstractNotifierPrivate(AbstractNotifier* owner)
    : m_connectionType(Qt::AutoConnection)
    , m_owner(owner)
    , m_metaInfo(nullptr)
    , m_metaInfoReady(false)
{
    Q_UNUSED(s_linkPointerMetaType)
}

AbstractNotifierPrivate::~AbstractNotifierPrivate()
{
    detachObservers();
}

void AbstractNotifierPrivate::detachObservers()
{
    // The helpers stay with their observers and must not call back into a dead notifier.
    for (const auto& entry : m_destroyHelpers)
        entry.second->clearNotifier();
    m_destroyHelpers.clear();
    m_links.clear();
    m_linksByObserver.clear();
    m_linksBySignal.clear();
}

const MetaObjectInfo& AbstractNotifierPrivate::metaInfo()
{
    if (!m_metaInfoReady) {
        CriticalSectionLocker locker(m_lock);
        if (!m_metaInfoReady) {
            m_metaInfo = &metaInfoOf(m_owner->qobject());
            m_metaInfoReady = true;
        }
    }
    return *m_metaInfo;
}

const MetaObjectInfo& AbstractNotifierPrivate::metaInfoOf(const QObject* object)
{
    // A null object has no signals and no slots, so requests naming it resolve to "not found".
    return MetaObjectInfo::instance(object ? object->metaObject() : nullptr);
}

Link AbstractNotifierPrivate::makeLink(QObject* observer, const QByteArray& decoratedMethod, const SignalInfo& signal)
{
    Link link;
    link.delegate.observer = observer;
    link.delegate.method = QMetaObject::normalizedSignature(decoratedMethod.constData());
    link.signalName = signal.name();
    link.signalSignature = QMetaObject::normalizedSignature(signal.decoratedSignature().constData());
    return link;
}

const LinkSet& AbstractNotifierPrivate::emptyLinkSet()
{
    return s_emptyLinkSet;
}

AbstractNotifierPrivate::LinkOrError AbstractNotifierPrivate::resolveNamed(const QByteArray& signal, QObject* observer,
                                                                           const QByteArray& slot)
{
    const SignalInfo signalInfo = metaInfo().findSignal(signal);
    if (signalInfo.signature().isEmpty())
        return LinkOrError(resultSignalNotFound);
    const SlotInfo slotInfo = metaInfoOf(observer).findSlot(slot);
    if (slotInfo.signature().isEmpty())
        return LinkOrError(resultSlotNotFound);
    return LinkOrError(makeLink(observer, slotInfo.decoratedSignature(), signalInfo));
}

AbstractNotifierPrivate::LinkOrError AbstractNotifierPrivate::resolveBySlotConvention(QObject* observer,
                                                                                      const QByteArray& signal)
{
    const SignalInfo signalInfo = metaInfo().findSignal(signal);
    if (signalInfo.signature().isEmpty())
        return LinkOrError(resultSignalNotFound);
    const SlotInfo& slotInfo = metaInfoOf(observer).findSlotForSignal(signalInfo);
    if (slotInfo.signature().isEmpty())
        return LinkOrError(resultSlotNotFound);
    return LinkOrError(makeLink(observer, slotInfo.decoratedSignature(), signalInfo));
}

AbstractNotifierPrivate::LinkOrError AbstractNotifierPrivate::resolveForward(const QByteArray& signal, QObject* target,
                                                                             const QByteArray& targetSignal)
{
    const SignalInfo signalInfo = metaInfo().findSignal(signal);
    if (signalInfo.signature().isEmpty())
        return LinkOrError(resultSignalNotFound);
    const SignalInfo targetInfo = metaInfoOf(target).findSignal(targetSignal);
    if (targetInfo.signature().isEmpty())
        return LinkOrError(resultSignalNotFound);
    return LinkOrError(makeLink(target, targetInfo.decoratedSignature(), signalInfo));
}

AbstractNotifierPrivate::LinkOrError AbstractNotifierPrivate::resolveForward(QObject* target, const QByteArray& signal)
{
    const SignalInfo signalInfo = metaInfo().findSignal(signal);
    if (signalInfo.signature().isEmpty() || !target)
        return LinkOrError(resultSignalNotFound);
    return LinkOrError(makeLink(target, signalInfo.decoratedSignature(), signalInfo));
}

AbstractNotifierPrivate::LinkOrError AbstractNotifierPrivate::resolveObserverLink(QObject* observer,
                                                                                  const QByteArray& signal)
{
    const LinkOrError bySlotConvention = resolveBySlotConvention(observer, signal);
    if (bySlotConvention.isOk())
        return bySlotConvention;

    const SignalInfo signalInfo = metaInfo().findSignal(signal);
    if (!signalInfo.signature().isEmpty()) {
        const QByteArray signature = QMetaObject::normalizedSignature(signalInfo.decoratedSignature().constData());
        for (const Link& link : linksOf(observer)) {
            if (link.signalSignature == signature)
                return LinkOrError(link);
        }
    }
    return LinkOrError(resultNotSubscribed);
}

int AbstractNotifierPrivate::connectLink(const Link& link)
{
    if (isRegistered(link))
        return resultAlreadySubscribed;
    if (!QObject::connect(m_owner->qobject(), link.signalSignature.constData(), link.delegate.observer,
                          link.delegate.method.constData(), m_connectionType))
        return resultConnectFailed;
    registerLink(link);
    return resultOk;
}

int AbstractNotifierPrivate::disconnectLink(const Link& link)
{
    if (!isRegistered(link))
        return resultNotSubscribed;
    if (!QObject::disconnect(m_owner->qobject(), link.signalSignature.constData(), link.delegate.observer,
                             link.delegate.method.constData()))
        return resultConnectFailed;
    removeLink(link);
    return resultOk;
}

int AbstractNotifierPrivate::subscriptionState(const LinkOrError& request) const
{
    if (!request.isOk())
        return request.result();
    return isRegistered(request.link()) ? resultAlreadySubscribed
                                        : resultNotSubscribed;
}

void AbstractNotifierPrivate::forgetDestroyHelper(const QObject* observer)
{
    m_destroyHelpers.erase(observer);
}

void AbstractNotifierPrivate::observerDestroyed(QObject* observer)
{
    // Qt has already dropped the observer's connections; only the registry is left to clean.
    const LinkSet links = linksOf(observer);
    for (const Link& link : links) {
        if (isRegistered(link)) // a detached_ slot may have removed it meanwhile
            removeLink(link);
    }
}

void AbstractNotifierPrivate::callAttachDetachSlots(QObject* object, const QByteArray& prefix, const Link* link)
{
    if (!object)
        return;
    const QByteArray expectedName = prefix + MethodInfo(stripMethodCode(link->signalSignature)).name();
    for (const SlotInfo& slot : metaInfoOf(object).slotInfos()) {
        if (slot.name() != expectedName)
            continue;
        if (slot.parameters().size() != 1) {
            VR_ASSERT_FROM(object, false && "slot name matches the signal, while the argument count does not");
            continue;
        }
        if (slot.parameters().first() != s_linkPointerType) {
            VR_ASSERT_FROM(object, false && "slot name matches the signal, while the argument type is incorrect");
            continue;
        }
        VR_VERIFY_FROM(object, QMetaObject::invokeMethod(object, slot.name(), Q_ARG(const Link*, link)));
    }
}

void AbstractNotifierPrivate::registerLink(const Link& link)
{
    QObject* observer = link.delegate.observer;
    m_links.insert(link);
    m_linksByObserver.insert(observer, link);
    m_linksBySignal.insert(link.signalName, link);
    if (m_destroyHelpers.count(observer) == 0) {
        if (!m_teardown) {
            m_teardown.reset(new NotifierTeardown(this));
            VR_VERIFY(m_teardown->watch(m_owner->qobject()));
        }
        m_destroyHelpers[observer] = new ObserverDestroyHelper(observer, this);
    }
    callAttachDetachSlots(m_owner->qobject(), s_attachedPrefix, &link);
    m_owner->onLinkAttached(&link);
}

void AbstractNotifierPrivate::removeLink(Link link)
{
    const QObject* observer = link.delegate.observer;
    m_links.erase(link);
    m_linksByObserver.erase(observer, link);
    m_linksBySignal.erase(link.signalName, link);
    if (!m_linksByObserver.contains(observer)) {
        // Gone already when the observer itself is being destroyed.
        const auto helper = m_destroyHelpers.find(observer);
        if (helper != m_destroyHelpers.end())
            delete helper->second; // erases its own entry
    }
    callAttachDetachSlots(m_owner->qobject(), s_detachedPrefix, &link);
    m_owner->onLinkDetached(&link);
}

} // namespace Common
