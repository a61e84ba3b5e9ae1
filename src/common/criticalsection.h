#pragma once

#include "ventariglobal.h"

#include <memory>
#include <mutex>

namespace Common {

// A re-entrant lock for short, lazy one-time builds shared between threads.
class VENTARI_EXPORT CriticalSection
{
public:
    CriticalSection();
    // Only a section nobody holds may be moved; the moved-from one reports every use.
    CriticalSection(CriticalSection&& other) noexcept;
    ~CriticalSection();

    void enter();
    bool tryEnter();
    void leave();

private:
    Q_DISABLE_COPY(CriticalSection)

    std::unique_ptr<std::recursive_mutex> m_impl;
};

// Holds a critical section for the lifetime of a scope.
class VENTARI_EXPORT CriticalSectionLocker
{
public:
    explicit CriticalSectionLocker(CriticalSection& section)
        : m_section(section)
    {
        m_section.enter();
    }
    ~CriticalSectionLocker() { m_section.leave(); }

private:
    Q_DISABLE_COPY(CriticalSectionLocker)

    CriticalSection& m_section;
};

} // namespace Common
