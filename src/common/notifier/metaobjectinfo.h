#pragma once

#include "common/criticalsection.h"
#include "methodinfo.h"

#include <QtCore/QList>

#include <atomic>

QT_BEGIN_NAMESPACE
class QObject;
struct QMetaObject;
QT_END_NAMESPACE

namespace Common {

// The signals and slots of one class, read once from its meta-object, with the notifier's lookups.
class VENTARI_EXPORT MetaObjectInfo
{
public:
    MetaObjectInfo();
    explicit MetaObjectInfo(const QMetaObject* metaObject);
    explicit MetaObjectInfo(const QObject* object);
    // The copy gets a lock of its own.
    MetaObjectInfo(const MetaObjectInfo& other);
    // Only an empty info may be assigned to; anything else is reported (and assigned anyway).
    MetaObjectInfo& operator=(const MetaObjectInfo& other);
    ~MetaObjectInfo();

    // The process-wide info of a class; the reference stays valid until the process ends.
    static const MetaObjectInfo& instance(const QMetaObject* metaObject);

    const QMetaObject* metaObject() const { return m_metaObject; }
    const QList<SignalInfo>& signalInfos() const;
    const QList<SlotInfo>& slotInfos() const;

    // By plain name (first in method order) or by SIGNAL()/SLOT() string (taken as it is).
    SignalInfo findSignal(const QByteArray& text) const;
    SlotInfo findSlot(const QByteArray& text) const;
    // The first "slot_<signal name>" slot whose parameters are a prefix of the signal's.
    const SlotInfo& findSlotForSignal(const SignalInfo& signal) const;

private:
    template <typename Info>
    void build(QList<Info>& infos, std::atomic<bool>& built, int methodType) const;

    const QMetaObject* m_metaObject;
    mutable QList<SignalInfo> m_signalInfos;
    mutable std::atomic<bool> m_signalInfosBuilt;
    mutable QList<SlotInfo> m_slotInfos;
    mutable std::atomic<bool> m_slotInfosBuilt;
    mutable CriticalSection m_lock;
};

} // namespace Common
