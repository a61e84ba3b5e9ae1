#include "symbolconverters.h"

#include "common/reports.h"
#include "tessel/forexsymbol.h"
#include "tessel/futurescontinuoussymbol.h"
#include "tessel/stocksymbol.h"

#include <cstddef>

namespace Ventari {
namespace Tessel {
namespace {

// The service marks the host's Toronto exchange "TC" as "CA".
const char* const ventariTorontoExchange = "CA";
const char* const tavTorontoExchange = "TC";

} // namespace

// The table's key is the concrete class, so each entry may cast down to it.
const std::map<std::type_index, VrSymbolConverter> s_vrSymbolConverters = {
    {typeid(ForexSymbol),
     [](const Symbol& vrSymbol) { return vrForexSymbolConverter(static_cast<const ForexSymbol&>(vrSymbol)); }},
    {typeid(FuturesContinuousSymbol),
     [](const Symbol& vrSymbol) {
         return vrFuturesContinuousSymbolConverter(static_cast<const FuturesContinuousSymbol&>(vrSymbol));
     }},
    {typeid(StockSymbol),
     [](const Symbol& vrSymbol) { return vrStockSymbolConverter(static_cast<const StockSymbol&>(vrSymbol)); }},
};

const std::map<int, TavSymbolConverter> s_tavSymbolConverters = {
    {::Tessel::TavSymbolCurrencyPair, &tavForexSymbolConverter},
    {::Tessel::TavSymbolFuturesContinuous, &tavFuturesContinuousSymbolConverter},
    {::Tessel::TavSymbolStock, &tavStockSymbolConverter},
};

TavSymbolSharedPtr convertVentariSymbol(const Symbol& vrSymbol)
{
    const std::type_index vrSymbolType(typeid(vrSymbol));
    if (!VR_ASSERT(s_vrSymbolConverters.count(vrSymbolType) > 0))
        return nullptr;
    return s_vrSymbolConverters.at(vrSymbolType)(vrSymbol);
}

SymbolSharedPtr convertTavSymbol(const ::Tessel::TavSymbol& tavSymbol)
{
    const auto converter = s_tavSymbolConverters.find(tavSymbol.type());
    if (converter == s_tavSymbolConverters.end())
        return nullptr;
    return converter->second(&tavSymbol);
}

TavSymbolSharedPtr vrForexSymbolConverter(const ForexSymbol& vrSymbol)
{
    auto tavSymbol = std::make_shared<::Tessel::TavSymbol>(::Tessel::TavSymbolCurrencyPair);
    tavSymbol->setTermType(::Tessel::TavTermSpot);
    tavSymbol->setCurrencyBase(vrSymbol.currencyPair().first);
    tavSymbol->setCurrencyQuote(vrSymbol.currencyPair().second);
    return tavSymbol;
}

TavSymbolSharedPtr vrFuturesContinuousSymbolConverter(const FuturesContinuousSymbol& vrSymbol)
{
    auto tavSymbol = std::make_shared<::Tessel::TavSymbol>(::Tessel::TavSymbolFuturesContinuous);
    tavSymbol->setRoot(vrSymbol.name());
    if (vrSymbol.continuousType() == 1)
        tavSymbol->setFuturesContinuousType(::Tessel::TavFuturesFrontMonth);
    return tavSymbol;
}

TavSymbolSharedPtr vrStockSymbolConverter(const StockSymbol& vrSymbol)
{
    auto tavSymbol = std::make_shared<::Tessel::TavSymbol>(::Tessel::TavSymbolStock);
    tavSymbol->setRoot(vrSymbol.name());
    if (vrSymbol.exchange() == ventariTorontoExchange)
        tavSymbol->setExchange(tavTorontoExchange);
    else if (!vrSymbol.exchange().empty())
        tavSymbol->setExchange(vrSymbol.exchange());
    return tavSymbol;
}

SymbolSharedPtr tavForexSymbolConverter(const ::Tessel::TavSymbol* tavSymbol)
{
    if (!VR_ASSERT(tavSymbol != NULL))
        return nullptr;
    if (tavSymbol->currencyBase().empty() || tavSymbol->currencyQuote().empty())
        return nullptr;
    return std::make_shared<ForexSymbol>(
        ForexSymbol::CurrencyPair(tavSymbol->currencyBase(), tavSymbol->currencyQuote()));
}

SymbolSharedPtr tavFuturesContinuousSymbolConverter(const ::Tessel::TavSymbol* tavSymbol)
{
    if (!VR_ASSERT(tavSymbol != NULL))
        return nullptr;
    const int continuousType = tavSymbol->futuresContinuousType() == ::Tessel::TavFuturesFrontMonth ? 1 : 0;
    return std::make_shared<FuturesContinuousSymbol>(tavSymbol->root(), continuousType);
}

SymbolSharedPtr tavStockSymbolConverter(const ::Tessel::TavSymbol* tavSymbol)
{
    if (!VR_ASSERT(tavSymbol != NULL))
        return nullptr;
    const std::string exchange = tavSymbol->exchange() == tavTorontoExchange ? std::string(ventariTorontoExchange)
                                                                             : tavSymbol->exchange();
    return std::make_shared<StockSymbol>(tavSymbol->root(), exchange);
}

} // namespace Tessel
} // namespace Ventari
