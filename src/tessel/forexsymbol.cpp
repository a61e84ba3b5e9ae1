#include "forexsymbol.h"

#include "common/reports.h"

#include <regex>

namespace Ventari {
namespace Tessel {

ForexSymbol::ForexSymbol(const CurrencyPair& currencyPair)
    : ExchangeSymbol(currencyPair.first + currencyPair.second, "FX")
    , m_currencyPair(currencyPair)
{
    VR_ASSERT(currencyPair.first.length() == currencyStringLength);
    VR_ASSERT(currencyPair.second.length() == currencyStringLength);
}

std::string ForexSymbol::toString() const
{
    return m_currencyPair.first + m_currencyPair.second;
}

std::shared_ptr<ForexSymbol> ForexSymbol::parse(const std::string& text)
{
    static const std::regex expression(R"(^([a-zA-Z]{3})([a-zA-Z]{3})$)");
    std::smatch match;
    if (!std::regex_match(text, match, expression))
        return nullptr;
    return std::make_shared<ForexSymbol>(CurrencyPair(match.str(1), match.str(2)));
}

} // namespace Tessel
} // namespace Ventari
