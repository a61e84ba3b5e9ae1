#pragma once

#include "ventariglobal.h"

#include <string>
#include <vector>

namespace Ventari {
namespace Tessel {

// One line of the host's symbol map table: a host symbol and the service symbol it stands for.
struct SymbolMapEntry
{
    std::string tavSymbol;
    std::string vrSymbol;
};

// The entries of the symbol map table's plain text, in line order: one "host | service" pair a
// line, ";" starts a comment, anything else is skipped without a report.
VENTARI_EXPORT std::vector<SymbolMapEntry> readSymbolMapTable(const std::string& content);

} // namespace Tessel
} // namespace Ventari
