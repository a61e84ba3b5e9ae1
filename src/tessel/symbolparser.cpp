#include "symbolparser.h"

#include "tessel/forexsymbol.h"
#include "tessel/futurescontinuoussymbol.h"
#include "tessel/stocksymbol.h"

#include <vector>

namespace Ventari {
namespace Tessel {
namespace {

using SymbolParser = SymbolSharedPtr (*)(const std::string& text);

// Six letters read as a currency pair before they could read as a stock.
const std::vector<SymbolParser> s_symbolParsers = {
    [](const std::string& text) -> SymbolSharedPtr { return ForexSymbol::parse(text); },
    [](const std::string& text) -> SymbolSharedPtr { return FuturesContinuousSymbol::parse(text); },
    [](const std::string& text) -> SymbolSharedPtr { return StockSymbol::parse(text); },
};

} // namespace

SymbolSharedPtr parseSymbol(const std::string& text)
{
    for (const SymbolParser parser : s_symbolParsers) {
        if (SymbolSharedPtr symbol = parser(text))
            return symbol;
    }
    return nullptr;
}

} // namespace Tessel
} // namespace Ventari
