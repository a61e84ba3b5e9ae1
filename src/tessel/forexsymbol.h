#pragma once

#include "tessel/symbol.h"

#include <cstddef>
#include <utility>

namespace Ventari {
namespace Tessel {

// A currency pair such as EURUSD: base and quote currency, on the exchange "FX".
class VENTARI_EXPORT ForexSymbol final : public ExchangeSymbol
{
public:
    using CurrencyPair = std::pair<std::string, std::string>;

    static constexpr std::size_t currencyStringLength = 3;

    // Currencies of another length are reported and still kept.
    explicit ForexSymbol(const CurrencyPair& currencyPair);

    const CurrencyPair& currencyPair() const { return m_currencyPair; }
    std::string toString() const override;

    // Any six ASCII letters, read as two currencies of three.
    static std::shared_ptr<ForexSymbol> parse(const std::string& text);

private:
    CurrencyPair m_currencyPair;
};

} // namespace Tessel
} // namespace Ventari
