#include "headguard.h"

namespace Emulator {

HeadGuard::HeadGuard(std::size_t maxHeaderCount, std::size_t maxHeadBytes)
    : m_maxHeaderCount(maxHeaderCount)
    , m_maxHeadBytes(maxHeadBytes)
{
}

bool HeadGuard::accept(char byte)
{
    if (m_headComplete)
        return true;
    if (m_exceeded || ++m_headBytes > m_maxHeadBytes) {
        m_exceeded = true;
        return false;
    }
    if (byte == '\r')
        return true;
    if (byte != '\n') {
        ++m_lineLength;
        return true;
    }
    // An empty line after the request line ends the head.
    if (m_lineLength == 0 && m_lines > 0) {
        m_headComplete = true;
        return true;
    }
    ++m_lines;
    m_lineLength = 0;
    if (m_lines - 1 > m_maxHeaderCount) {
        m_exceeded = true;
        return false;
    }
    return true;
}

} // namespace Emulator
