#pragma once

#include "tessel/symbol.h"

#include <tessel/tavsymbol.h>

#include <map>
#include <typeindex>

namespace Ventari {
namespace Tessel {

class ForexSymbol;
class FuturesContinuousSymbol;
class StockSymbol;

using TavSymbolSharedPtr = std::shared_ptr<::Tessel::TavSymbol>;

// Service symbol -> host symbol, keyed by the service symbol's concrete class.
using VrSymbolConverter = TavSymbolSharedPtr (*)(const Symbol& vrSymbol);
// Host symbol -> service symbol, keyed by the host symbol type; null when the symbol does not convert.
using TavSymbolConverter = SymbolSharedPtr (*)(const ::Tessel::TavSymbol* tavSymbol);

VENTARI_EXPORT extern const std::map<std::type_index, VrSymbolConverter> s_vrSymbolConverters;
VENTARI_EXPORT extern const std::map<int, TavSymbolConverter> s_tavSymbolConverters;

// The host symbol for a service symbol by its class's converter; null (reported) when the class has none.
VENTARI_EXPORT TavSymbolSharedPtr convertVentariSymbol(const Symbol& vrSymbol);
// The service symbol for a host symbol by its type's converter; null when there is none or it declines.
VENTARI_EXPORT SymbolSharedPtr convertTavSymbol(const ::Tessel::TavSymbol& tavSymbol);

VENTARI_EXPORT TavSymbolSharedPtr vrForexSymbolConverter(const ForexSymbol& vrSymbol);
VENTARI_EXPORT TavSymbolSharedPtr vrFuturesContinuousSymbolConverter(const FuturesContinuousSymbol& vrSymbol);
VENTARI_EXPORT TavSymbolSharedPtr vrStockSymbolConverter(const StockSymbol& vrSymbol);

VENTARI_EXPORT SymbolSharedPtr tavForexSymbolConverter(const ::Tessel::TavSymbol* tavSymbol);
VENTARI_EXPORT SymbolSharedPtr tavFuturesContinuousSymbolConverter(const ::Tessel::TavSymbol* tavSymbol);
VENTARI_EXPORT SymbolSharedPtr tavStockSymbolConverter(const ::Tessel::TavSymbol* tavSymbol);

} // namespace Tessel
} // namespace Ventari
