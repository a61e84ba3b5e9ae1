#include "symbolmaptable.h"

#include <cctype>

namespace Ventari {
namespace Tessel {
namespace {

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// Every part, empty ones included, so that "a|b|" counts as three.
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

} // namespace

std::vector<SymbolMapEntry> readSymbolMapTable(const std::string& content)
{
    std::vector<SymbolMapEntry> entries;
    for (const std::string& rawLine : split(content, '\n')) {
        std::string line = trimmed(rawLine);
        line = line.substr(0, line.find(';'));
        if (line.empty())
            continue;
        const std::vector<std::string> parts = split(line, '|');
        if (parts.size() != 2)
            continue;
        entries.push_back({trimmed(parts[0]), trimmed(parts[1])});
    }
    return entries;
}

} // namespace Tessel
} // namespace Ventari
