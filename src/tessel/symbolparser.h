#pragma once

#include "tessel/symbol.h"

namespace Ventari {
namespace Tessel {

// The first symbol that the forex, continuous-futures and stock parsers, in this order, make of the
// whole text; null when none accepts it.
VENTARI_EXPORT SymbolSharedPtr parseSymbol(const std::string& text);

} // namespace Tessel
} // namespace Ventari
