#include "symbol.h"

namespace Ventari {
namespace Tessel {

Symbol::Symbol(const std::string& name)
    : m_name(name)
{
}

ExchangeSymbol::ExchangeSymbol(const std::string& name, const std::string& exchange)
    : Symbol(name)
    , m_exchange(exchange)
{
}

} // namespace Tessel
} // namespace Ventari
