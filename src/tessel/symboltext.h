#pragma once

#include <algorithm>
#include <string>

// The characters of the service's symbol notation. The parsers scan texts with these in one pass:
// a regular expression engine that recurses once per character overflows the stack on long texts.
namespace Ventari {
namespace Tessel {

inline bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

// What \w stands for in the notation: ASCII letters, digits and "_".
inline bool isWordCharacter(char c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9') || c == '_';
}

template <typename Predicate>
bool consistsOf(const std::string& text, Predicate predicate)
{
    return std::all_of(text.begin(), text.end(), predicate);
}

} // namespace Tessel
} // namespace Ventari
