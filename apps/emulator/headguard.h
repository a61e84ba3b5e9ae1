#pragma once

#include <cstddef>

namespace Emulator {

// Watches the head of a request (request line and header lines) byte by byte as it is read, and
// says when it grows past its limits; the body that follows the blank line is not its business.
class HeadGuard
{
public:
    // maxLineBytes bounds each header line, its line end included: the transport reads a longer
    // one as a broken head, which is a head too large all the same. The request line is bounded by
    // maxHeadBytes alone.
    HeadGuard(std::size_t maxHeaderCount, std::size_t maxHeadBytes, std::size_t maxLineBytes);

    // False once the head is over a limit; every later byte of the head is refused as well.
    bool accept(char byte);
    bool isExceeded() const { return m_exceeded; }
    bool isHeadComplete() const { return m_headComplete; }

private:
    std::size_t m_maxHeaderCount;
    std::size_t m_maxHeadBytes;
    std::size_t m_maxLineBytes;
    std::size_t m_headBytes = 0;
    std::size_t m_lines = 0;      // lines ended so far, the request line included
    std::size_t m_lineLength = 0; // bytes of the current line so far, its line end included
    char m_previous = 0;
    bool m_headComplete = false;
    bool m_exceeded = false;
};

} // namespace Emulator
