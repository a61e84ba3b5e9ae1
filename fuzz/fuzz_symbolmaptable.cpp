// The host's symbol map table as any text: every entry comes out trimmed and free of the table's
// own separators, and the entries written back one pair a line read the same again.
#include "fuzzsupport.h"

#include "tessel/symbolmaptable.h"

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

using namespace Ventari::Tessel;

namespace {

bool isCleanField(const std::string& field)
{
    if (field.find_first_of("\n|;") != std::string::npos)
        return false;
    return field.empty()
        || (!std::isspace(static_cast<unsigned char>(field.front()))
            && !std::isspace(static_cast<unsigned char>(field.back())));
}

bool sameEntries(const std::vector<SymbolMapEntry>& a, const std::vector<SymbolMapEntry>& b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const SymbolMapEntry& x, const SymbolMapEntry& y) {
        return x.tavSymbol == y.tavSymbol && x.vrSymbol == y.vrSymbol;
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEnvironment& environment = FuzzEnvironment::instance();
    const std::string content(reinterpret_cast<const char*>(data), size);

    const std::vector<SymbolMapEntry> entries = readSymbolMapTable(content);
    FUZZ_CHECK(entries.size() <= std::size_t(std::count(content.begin(), content.end(), '\n')) + 1);
    std::string rewritten;
    for (const SymbolMapEntry& entry : entries) {
        FUZZ_CHECK(isCleanField(entry.tavSymbol) && isCleanField(entry.vrSymbol));
        rewritten += entry.tavSymbol + " | " + entry.vrSymbol + "\n";
    }
    FUZZ_CHECK(sameEntries(readSymbolMapTable(rewritten), entries));
    environment.checkNoReports();
    return 0;
}
