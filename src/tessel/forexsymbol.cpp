#include "forexsymbol.h"

#include "common/reports.h"
#include "tessel/symboltext.h"

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

// Exactly what ^([a-zA-Z]{3})([a-zA-Z]{3})$ matches, in one pass.
std::shared_ptr<ForexSymbol> ForexSymbol::parse(const std::string& text)
{
    if (text.size() != 2 * currencyStringLength || !consistsOf(text, isAsciiLetter))
        return nullptr;
    return std::make_shared<ForexSymbol>(
        CurrencyPair(text.substr(0, currencyStringLength), text.substr(currencyStringLength)));
}

} // namespace Tessel
} // namespace Ventari
