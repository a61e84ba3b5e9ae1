#include "stocksymbol.h"

#include "tessel/symboltext.h"

#include <vector>

namespace Ventari {
namespace Tessel {

StockSymbol::StockSymbol(const std::string& name, const std::string& exchange)
    : ExchangeSymbol(name, exchange)
{
}

std::string StockSymbol::toString() const
{
    if (name().empty())
        return std::string();
    return exchange().empty() ? name() : name() + '.' + exchange();
}

// Exactly what ^([a-zA-Z]+)(?:[\.\-]([a-zA-Z]+))?(?:[\.\-]([a-zA-Z]+))?$ matches, in one pass.
std::shared_ptr<StockSymbol> StockSymbol::parse(const std::string& text)
{
    std::vector<std::string> runs(1);
    for (const char c : text) {
        if (isAsciiLetter(c))
            runs.back() += c;
        else if ((c == '.' || c == '-') && !runs.back().empty() && runs.size() < 3)
            runs.emplace_back();
        else
            return nullptr;
    }
    if (runs.back().empty())
        return nullptr;

    std::string name = runs.front();
    std::string exchange;
    std::vector<std::string> parts(runs.begin() + 1, runs.end());
    // "CA" is the service's mark for the host exchange TC; any other part belongs to the name.
    if (!parts.empty() && parts.back() == "CA") {
        exchange = parts.back();
        parts.pop_back();
    }
    for (const std::string& part : parts)
        name += '.' + part;
    return std::make_shared<StockSymbol>(name, exchange);
}

} // namespace Tessel
} // namespace Ventari
