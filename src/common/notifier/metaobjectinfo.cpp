#include "metaobjectinfo.h"

#include "common/reports.h"

#include <QtCore/QMetaMethod>
#include <QtCore/QMetaObject>
#include <QtCore/QObject>

#include <algorithm>
#include <map>

namespace Common {
namespace {

const QByteArray s_slotPrefix("slot_");

using Registry = std::map<const QMetaObject*, MetaObjectInfo>;

// Exists from library load, so the registry itself can be made on first use.
CriticalSection s_registryLock;

} // namespace

MetaObjectInfo::MetaObjectInfo()
    : MetaObjectInfo(static_cast<const QMetaObject*>(nullptr))
{
}

MetaObjectInfo::MetaObjectInfo(const QMetaObject* metaObject)
    : m_metaObject(metaObject)
    , m_signalInfosBuilt(false)
    , m_slotInfosBuilt(false)
{
}

MetaObjectInfo::MetaObjectInfo(const QObject* object)
    : MetaObjectInfo(object ? object->metaObject() : nullptr)
{
}

MetaObjectInfo::MetaObjectInfo(const MetaObjectInfo& other)
    : m_metaObject(other.m_metaObject)
    , m_signalInfosBuilt(false)
    , m_slotInfosBuilt(false)
{
    CriticalSectionLocker locker(other.m_lock);
    m_signalInfos = other.m_signalInfos;
    m_signalInfosBuilt = other.m_signalInfosBuilt.load();
    m_slotInfos = other.m_slotInfos;
    m_slotInfosBuilt = other.m_slotInfosBuilt.load();
}

MetaObjectInfo& MetaObjectInfo::operator=(const MetaObjectInfo& other)
{
    VR_ASSERT(m_metaObject == NULL && "Only initial assignment is allowed.");
    if (this == &other)
        return *this;

    const MetaObjectInfo copy(other);
    CriticalSectionLocker locker(m_lock);
    m_metaObject = copy.m_metaObject;
    m_signalInfos = copy.m_signalInfos;
    m_signalInfosBuilt = copy.m_signalInfosBuilt.load();
    m_slotInfos = copy.m_slotInfos;
    m_slotInfosBuilt = copy.m_slotInfosBuilt.load();
    return *this;
}

MetaObjectInfo::~MetaObjectInfo() = default;

const MetaObjectInfo& MetaObjectInfo::instance(const QMetaObject* metaObject)
{
    CriticalSectionLocker locker(s_registryLock);
    // Never destroyed: callers keep references for the life of the process.
    static Registry* registry = new Registry;
    return registry->try_emplace(metaObject, metaObject).first->second;
}

const QList<SignalInfo>& MetaObjectInfo::signalInfos() const
{
    build(m_signalInfos, m_signalInfosBuilt, QMetaMethod::Signal);
    return m_signalInfos;
}

const QList<SlotInfo>& MetaObjectInfo::slotInfos() const
{
    build(m_slotInfos, m_slotInfosBuilt, QMetaMethod::Slot);
    return m_slotInfos;
}

SignalInfo MetaObjectInfo::findSignal(const QByteArray& text) const
{
    if (isSignalMacroString(text))
        return SignalInfo(stripMethodCode(text));
    for (const SignalInfo& info : signalInfos()) {
        if (info.name() == text)
            return info;
    }
    return SignalInfo();
}

SlotInfo MetaObjectInfo::findSlot(const QByteArray& text) const
{
    if (isSlotMacroString(text))
        return SlotInfo(stripMethodCode(text));
    for (const SlotInfo& info : slotInfos()) {
        if (info.name() == text)
            return info;
    }
    return SlotInfo();
}

const SlotInfo& MetaObjectInfo::findSlotForSignal(const SignalInfo& signal) const
{
    if (signal.signature().isEmpty())
        return SlotInfo::empty();
    const MethodInfo expected(s_slotPrefix + signal.signature());
    const QList<QByteArray>& signalParameters = signal.parameters();
    for (const SlotInfo& slot : slotInfos()) {
        if (slot.name() != expected.name())
            continue;
        const QList<QByteArray>& slotParameters = slot.parameters();
        if (slotParameters.size() <= signalParameters.size()
            && std::equal(slotParameters.cbegin(), slotParameters.cend(), signalParameters.cbegin()))
            return slot;
    }
    return SlotInfo::empty();
}

template <typename Info>
void MetaObjectInfo::build(QList<Info>& infos, std::atomic<bool>& built, int methodType) const
{
    if (built)
        return;
    CriticalSectionLocker locker(m_lock);
    if (built)
        return;
    if (m_metaObject) {
        for (int i = 0; i < m_metaObject->methodCount(); ++i) {
            const QMetaMethod method = m_metaObject->method(i);
            if (method.methodType() == methodType)
                infos.append(Info(stripMethodCode(method.methodSignature())));
        }
    }
    built = true;
}

} // namespace Common
