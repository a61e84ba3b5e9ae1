#include "criticalsection.h"

#include "reports.h"

namespace Common {

CriticalSection::CriticalSection()
    : m_impl(new std::recursive_mutex)
{
}

CriticalSection::CriticalSection(CriticalSection&& other) noexcept
    : m_impl(std::move(other.m_impl))
{
}

CriticalSection::~CriticalSection() = default;

void CriticalSection::enter()
{
    if (VR_ASSERT(m_impl.get() != NULL))
        m_impl->lock();
}

bool CriticalSection::tryEnter()
{
    return VR_ASSERT(m_impl.get() != NULL) && m_impl->try_lock();
}

void CriticalSection::leave()
{
    if (VR_ASSERT(m_impl.get() != NULL))
        m_impl->unlock();
}

} // namespace Common
