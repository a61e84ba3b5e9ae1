#include "headguard.h"

namespace Emulator {

HeadGuard::HeadGuard(std::size_t maxHeaderCount, std::size_t maxHeadBytes, std::size_t maxLineBytes)
    : m_maxHeaderCount(maxHeaderCount)
    , m_maxHeadBytes(maxHeadBytes)
    , m_maxLineBytes(maxLineBytes)
{
}

bool HeadGuard::accept(char byte)
{
    if (m_headComplete)
        return true;
    ++m_lineLength;
    if (m_exceeded || ++m_headBytes > m_maxHeadBytes || (m_lines > 0 && m_lineLength > m_maxLineBytes)) {
        m_exceeded = true;
        return false;
    }
    const char previous = m_previous;
    m_previous = byte;
    if (byte != '\n')
        return true;
    // The transport ends the head only at a line that is exactly "\r\n"; every other line, even
    // one it skips as malformed, keeps it reading headers, so here it counts as a field.
    if (m_lines > 0 && m_lineLength == 2 && previous == '\r') {
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
