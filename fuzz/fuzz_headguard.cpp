// Request heads through the emulator's head guard, checked against a plain reading of where
// cpp-httplib ends a head (the first line after the request line that is exactly CR LF): the guard
// ends the head there when the head keeps to the limits, refuses it at the first byte that breaks
// one, and never changes its mind. The first three bytes choose small limits, so that inputs of a
// few KB reach every one of them.
#include "fuzzsupport.h"

// The guard alone: the fuzz build leaves the emulator's library out.
#include "../apps/emulator/headguard.cpp"

#include <cstddef>
#include <cstdint>

namespace {

struct Limits
{
    std::size_t fields;
    std::size_t headBytes;
    std::size_t lineBytes;
};

// How the head read from the start of text ends: complete at end (one past its blank line),
// exceeded at end (the byte that breaks a limit first), or still open when text ends.
enum class Outcome { Complete, Exceeded, Open };

struct Reading
{
    Outcome outcome;
    std::size_t end;
};

Reading readHead(const std::uint8_t* text, std::size_t size, const Limits& limits)
{
    std::size_t lines = 0;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::size_t lineLength = i - lineStart + 1;
        if (i + 1 > limits.headBytes || (lines > 0 && lineLength > limits.lineBytes))
            return {Outcome::Exceeded, i};
        if (text[i] != '\n')
            continue;
        if (lines > 0 && lineLength == 2 && text[i - 1] == '\r')
            return {Outcome::Complete, i + 1};
        ++lines;
        lineStart = i + 1;
        if (lines - 1 > limits.fields)
            return {Outcome::Exceeded, i};
    }
    return {Outcome::Open, size};
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const Limits limits{std::size_t(data[0] % 16), std::size_t(data[1]) * 16, std::size_t(data[2]) * 4 + 1};
    data += 3;
    size -= 3;

    Emulator::HeadGuard guard(limits.fields, limits.headBytes, limits.lineBytes);
    const Reading expected = readHead(data, size, limits);
    for (std::size_t i = 0; i < size; ++i) {
        const bool accepted = guard.accept(char(data[i]));
        if (expected.outcome == Outcome::Exceeded && i >= expected.end) {
            FUZZ_CHECK(!accepted && guard.isExceeded() && !guard.isHeadComplete());
        } else {
            FUZZ_CHECK(accepted && !guard.isExceeded());
            FUZZ_CHECK(guard.isHeadComplete() == (expected.outcome == Outcome::Complete && i + 1 >= expected.end));
        }
    }
    return 0;
}
