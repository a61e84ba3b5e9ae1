#include "stocksymbol.h"

#include <regex>
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

std::shared_ptr<StockSymbol> StockSymbol::parse(const std::string& text)
{
    static const std::regex expression(R"(^([a-zA-Z]+)(?:[\.\-]([a-zA-Z]+))?(?:[\.\-]([a-zA-Z]+))?$)");
    std::smatch match;
    if (!std::regex_match(text, match, expression))
        return nullptr;

    std::string name = match.str(1);
    std::string exchange;
    std::vector<std::string> parts;
    for (int group = 2; group <= 3; ++group) {
        if (match[group].matched)
            parts.push_back(match.str(group));
    }
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
