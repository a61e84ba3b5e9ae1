#pragma once

#include "common/criticalsection.h"

#include <QtCore/QByteArray>
#include <QtCore/QList>

#include <atomic>

namespace Common {

// Texts as Qt's SIGNAL() and SLOT() macros produce them: a code character, then the signature.
VENTARI_EXPORT bool isSignalMacroString(const QByteArray& text);
VENTARI_EXPORT bool isSlotMacroString(const QByteArray& text);
// Drops the code character of a signal or slot macro string; other texts come back unchanged.
VENTARI_EXPORT QByteArray stripMethodCode(const QByteArray& text);

// A method signature such as "done(Ventari::Message)", split lazily into name and parameter types.
class VENTARI_EXPORT MethodInfo
{
public:
    MethodInfo();
    explicit MethodInfo(const QByteArray& signature);
    // The copy gets a lock of its own.
    MethodInfo(const MethodInfo& other);
    // Not supported: reports and leaves this info as it is.
    MethodInfo& operator=(const MethodInfo& other);
    ~MethodInfo();

    const QByteArray& signature() const { return m_signature; }
    const QByteArray& name() const;
    const QList<QByteArray>& parameters() const;

    void parse(QByteArray& name, QList<QByteArray>& parameters) const;

protected:
    CriticalSection& criticalSection() const { return m_lock; }

private:
    void ensureParsed() const;

    QByteArray m_signature;
    mutable QByteArray m_name;
    mutable QList<QByteArray> m_parameters;
    mutable CriticalSection m_lock;
    mutable std::atomic<bool> m_parsed;
};

// A method together with the decorated signature that Qt's string-based connect expects.
class VENTARI_EXPORT DecoratedMethodInfo : public MethodInfo
{
public:
    DecoratedMethodInfo(const DecoratedMethodInfo& other);
    // Not supported, as for every method info: reports and changes nothing.
    DecoratedMethodInfo& operator=(const DecoratedMethodInfo& other);

    // The code character followed by the signature; empty for an empty signature.
    const QByteArray& decoratedSignature() const;

protected:
    DecoratedMethodInfo(char code, const QByteArray& signature);

private:
    char m_code;
    mutable QByteArray m_decoratedSignature;
    mutable std::atomic<bool> m_decorated;
};

// A signal of a class; an empty one means that no signal was found.
class VENTARI_EXPORT SignalInfo : public DecoratedMethodInfo
{
public:
    SignalInfo();
    explicit SignalInfo(const QByteArray& signature);
};

// A slot of a class; an empty one means that no slot was found.
class VENTARI_EXPORT SlotInfo : public DecoratedMethodInfo
{
public:
    SlotInfo();
    explicit SlotInfo(const QByteArray& signature);

    // The one empty slot shared by every lookup that finds nothing.
    static const SlotInfo& empty();
};

} // namespace Common
