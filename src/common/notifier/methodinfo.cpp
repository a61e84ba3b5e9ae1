#include "methodinfo.h"

#include "common/reports.h"

namespace Common {
namespace {

const char signalCode = '2';
const char slotCode = '1';

bool isMacroString(const QByteArray& text, char code)
{
    const int open = text.indexOf('(');
    return text.startsWith(code) && open >= 0 && open < text.lastIndexOf(')');
}

const SlotInfo s_emptySlotInfo;

} // namespace

bool isSignalMacroString(const QByteArray& text)
{
    return isMacroString(text, signalCode);
}

bool isSlotMacroString(const QByteArray& text)
{
    return isMacroString(text, slotCode);
}

QByteArray stripMethodCode(const QByteArray& text)
{
    return isSignalMacroString(text) || isSlotMacroString(text) ? text.mid(1) : text;
}

MethodInfo::MethodInfo()
    : m_parsed(false)
{
}

MethodInfo::MethodInfo(const QByteArray& signature)
    : m_signature(signature)
    , m_parsed(false)
{
}

MethodInfo::MethodInfo(const MethodInfo& other)
    : m_signature(other.m_signature)
    , m_parsed(false)
{
    CriticalSectionLocker locker(other.m_lock);
    m_name = other.m_name;
    m_parameters = other.m_parameters;
    m_parsed = other.m_parsed.load();
}

MethodInfo& MethodInfo::operator=(const MethodInfo&)
{
    VR_ASSERT(false && "Is not supposed to be called.");
    return *this;
}

MethodInfo::~MethodInfo() = default;

const QByteArray& MethodInfo::name() const
{
    ensureParsed();
    return m_name;
}

const QList<QByteArray>& MethodInfo::parameters() const
{
    ensureParsed();
    return m_parameters;
}

void MethodInfo::parse(QByteArray& name, QList<QByteArray>& parameters) const
{
    const int endOfName = m_signature.indexOf('(');
    VR_ASSERT(endOfName > 0);
    name = endOfName > 0 ? m_signature.left(endOfName) : QByteArray();

    const int startOfParameterList = endOfName + 1;
    const int endOfParameterList = m_signature.indexOf(')', startOfParameterList);
    parameters.clear();
    if (!VR_ASSERT(endOfParameterList >= startOfParameterList))
        return;
    if (endOfParameterList > startOfParameterList)
        parameters = m_signature.mid(startOfParameterList, endOfParameterList - startOfParameterList).split(',');
}

void MethodInfo::ensureParsed() const
{
    if (m_parsed)
        return;
    CriticalSectionLocker locker(m_lock);
    if (m_parsed)
        return;
    parse(m_name, m_parameters);
    m_parsed = true;
}

DecoratedMethodInfo::DecoratedMethodInfo(char code, const QByteArray& signature)
    : MethodInfo(signature)
    , m_code(code)
    , m_decorated(false)
{
}

DecoratedMethodInfo::DecoratedMethodInfo(const DecoratedMethodInfo& other)
    : MethodInfo(other)
    , m_code(other.m_code)
    , m_decorated(false)
{
    CriticalSectionLocker locker(other.criticalSection());
    m_decoratedSignature = other.m_decoratedSignature;
    m_decorated = other.m_decorated.load();
}

DecoratedMethodInfo& DecoratedMethodInfo::operator=(const DecoratedMethodInfo& other)
{
    MethodInfo::operator=(other);
    return *this;
}

const QByteArray& DecoratedMethodInfo::decoratedSignature() const
{
    if (!m_decorated) {
        CriticalSectionLocker locker(criticalSection());
        if (!m_decorated) {
            if (!signature().isEmpty())
                m_decoratedSignature = m_code + signature();
            m_decorated = true;
        }
    }
    return m_decoratedSignature;
}

SignalInfo::SignalInfo()
    : DecoratedMethodInfo(signalCode, QByteArray())
{
}

SignalInfo::SignalInfo(const QByteArray& signature)
    : DecoratedMethodInfo(signalCode, signature)
{
}

SlotInfo::SlotInfo()
    : DecoratedMethodInfo(slotCode, QByteArray())
{
}

SlotInfo::SlotInfo(const QByteArray& signature)
    : DecoratedMethodInfo(slotCode, signature)
{
}

const SlotInfo& SlotInfo::empty()
{
    return s_emptySlotInfo;
}

} // namespace Common
