#pragma once

#include "tessel/symbol.h"

namespace Ventari {
namespace Tessel {

// A stock such as AAPL, BRK.B or RY.CA (exchange "CA").
class VENTARI_EXPORT StockSymbol final : public ExchangeSymbol
{
public:
    StockSymbol(const std::string& name, const std::string& exchange);

    std::string toString() const override;

    // One to three letter runs joined by "." or "-"; a last run "CA" becomes the exchange.
    static std::shared_ptr<StockSymbol> parse(const std::string& text);
};

} // namespace Tessel
} // namespace Ventari
