#include "commonabstractnotifier.h"

#include "commonabstractnotifier_p.h"
#include "metaobjectinfo.h"

#include "common/reports.h"

#include <QtCore/QMetaObject>
#include <QtCore/QObject>

#include <algorithm>
#include <cxxabi.h>
#include <initializer_list>

namespace Common {
namespace {

const char* resultText(int result)
{
    switch (result) {
    case resultSignalNotFound:
        return "false && \"Appropriate signal could not be found\"";
    case resultSlotNotFound:
        return "false && \"Appropriate slot could not be found\"";
    case resultAlreadySubscribed:
        return "false && \"Such signal/slot pair is already subscribed\"";
    case resultNotSubscribed:
        return "false && \"Such signal/slot pair is not subscribed\"";
    case resultConnectFailed:
        return "false && \"Failed to subscribe/unsubscribe signal/slot\"";
    }
    return nullptr;
}

// Each operation reports only the codes that mean misuse for it; the others pass silently.
void reportResult(const SourceLocation& where, const QObject* notifier, int result, std::initializer_list<int> reported)
{
    if (std::find(reported.begin(), reported.end(), result) != reported.end())
        Reports::assertionFailed(where, notifier, resultText(result));
}

QByteArray classNameOf(const QObject* object)
{
    return object ? QByteArray(object->metaObject()->className()) : QByteArray();
}

} // namespace

void* IObject::castTo(const std::type_info& type)
{
    // The run-time cast that dynamic_cast<T*>(this) compiles to, with T known only at run time.
    const auto* target = dynamic_cast<const abi::__class_type_info*>(&type);
    if (!target)
        return nullptr;
    const auto* source = static_cast<const abi::__class_type_info*>(&typeid(IObject));
    return abi::__dynamic_cast(this, source, target, -1);
}

IObject::~IObject() = default;

bool Link::isValid() const
{
    return delegate.observer && !delegate.method.isEmpty() && !signalName.isEmpty() && !signalSignature.isEmpty();
}

bool Link::operator==(const Link& other) const
{
    return delegate.observer == other.delegate.observer && delegate.method == other.delegate.method
        && signalName == other.signalName && signalSignature == other.signalSignature;
}

bool Link::operator<(const Link& other) const
{
    if (const int byName = qstrcmp(signalName, other.signalName))
        return byName < 0;
    if (const int bySignature = qstrcmp(signalSignature, other.signalSignature))
        return bySignature < 0;
    if (delegate.observer != other.delegate.observer)
        return std::less<const QObject*>()(delegate.observer, other.delegate.observer);
    return qstrcmp(delegate.method, other.delegate.method) < 0;
}

AbstractNotifier::AbstractNotifier()
    : m_d(new AbstractNotifierPrivate(this))
{
}

AbstractNotifier::~AbstractNotifier() = default;

void AbstractNotifier::subscribe(QObject* observer)
{
    const MetaObjectInfo& observerInfo = AbstractNotifierPrivate::metaInfoOf(observer);
    bool matched = false;
    for (const SignalInfo& signal : m_d->metaInfo().signalInfos()) {
        const SlotInfo& slot = observerInfo.findSlotForSignal(signal);
        if (slot.signature().isEmpty())
            continue;
        const Link link = AbstractNotifierPrivate::makeLink(observer, slot.decoratedSignature(), signal);
        VR_ASSERT_FROM(qobject(), link.isValid());
        matched = true;
        if (!m_d->isRegistered(link))
            subscribe(link);
    }
    if (!matched) {
        VR_LOG(0, 3) << '"'
                     << QStringLiteral("No signals/slots were connected during subscribe() call. "
                                       "Event source: '%1', observer: '%2'.")
                            .arg(QString::fromLatin1(classNameOf(qobject())),
                                 QString::fromLatin1(classNameOf(observer)))
                     << '"';
    }
}

void AbstractNotifier::subscribe(QObject* observer, const QByteArray& signal)
{
    const int result = m_d->connectRequest(m_d->resolveBySlotConvention(observer, signal));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound, resultSlotNotFound, resultConnectFailed});
}

void AbstractNotifier::subscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot)
{
    const int result = m_d->connectRequest(m_d->resolveNamed(signal, observer, slot));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound, resultSlotNotFound, resultConnectFailed});
}

void AbstractNotifier::unsubscribe(QObject* observer)
{
    const LinkSet links = m_d->linksOf(observer);
    for (const Link& link : links)
        unsubscribe(link);
}

void AbstractNotifier::unsubscribe(QObject* observer, const QByteArray& signal)
{
    const int result = m_d->disconnectRequest(m_d->resolveObserverLink(observer, signal));
    reportResult(VR_HERE, qobject(), result, {resultNotSubscribed, resultConnectFailed});
}

void AbstractNotifier::unsubscribe(const QByteArray& signal, QObject* observer, const QByteArray& slot)
{
    const int result = m_d->disconnectRequest(m_d->resolveNamed(signal, observer, slot));
    reportResult(VR_HERE, qobject(), result,
                 {resultSignalNotFound, resultSlotNotFound, resultNotSubscribed, resultConnectFailed});
}

bool AbstractNotifier::isSubscribed(QObject* observer, const QByteArray& signal)
{
    const int result = m_d->subscriptionState(m_d->resolveBySlotConvention(observer, signal));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound});
    return result == resultAlreadySubscribed;
}

bool AbstractNotifier::isSubscribed(const QByteArray& signal, QObject* observer, const QByteArray& slot)
{
    const int result = m_d->subscriptionState(m_d->resolveNamed(signal, observer, slot));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound, resultSlotNotFound});
    return result == resultAlreadySubscribed;
}

bool AbstractNotifier::isSubscribed(QObject* observer)
{
    return !m_d->linksOf(observer).empty();
}

void AbstractNotifier::forward(const QByteArray& signal, QObject* target, const QByteArray& targetSignal)
{
    const int result = m_d->connectRequest(m_d->resolveForward(signal, target, targetSignal));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound, resultConnectFailed});
}

void AbstractNotifier::forward(QObject* target, const QByteArray& signal)
{
    const int result = m_d->connectRequest(m_d->resolveForward(target, signal));
    reportResult(VR_HERE, qobject(), result, {resultSignalNotFound, resultConnectFailed});
}

int AbstractNotifier::subscribe(const Link& link)
{
    const int result = m_d->connectLink(link);
    reportResult(VR_HERE, qobject(), result, {resultAlreadySubscribed, resultConnectFailed});
    return result;
}

int AbstractNotifier::unsubscribe(const Link& link)
{
    const int result = m_d->disconnectLink(link);
    reportResult(VR_HERE, qobject(), result, {resultNotSubscribed, resultConnectFailed});
    return result;
}

QObject* AbstractNotifier::qobject()
{
    QObject* result = dynamic_cast<QObject*>(this);
    if (!VR_ASSERT(result != NULL))
        VR_LOG(0, 3) << "object must be inherited from QObject";
    return result;
}

void AbstractNotifier::onLinkAttached(const Link*)
{
}

void AbstractNotifier::onLinkDetached(const Link*)
{
}

} // namespace Common
