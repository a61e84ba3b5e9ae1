#pragma once

#include "ventariglobal.h"

#include <memory>
#include <string>

namespace Ventari {
namespace Tessel {

// An instrument in the service's notation. Held by shared pointers made from the concrete class,
// which delete through that class; hence no virtual destructor.
class VENTARI_EXPORT Symbol
{
public:
    const std::string& name() const { return m_name; }
    virtual std::string toString() const = 0;

protected:
    explicit Symbol(const std::string& name);
    Symbol(const Symbol&) = default;
    Symbol& operator=(const Symbol&) = default;
    ~Symbol() = default;

private:
    std::string m_name;
};

// A service symbol that belongs to an exchange (empty when the service gives none).
class VENTARI_EXPORT ExchangeSymbol : public Symbol
{
public:
    const std::string& exchange() const { return m_exchange; }

protected:
    ExchangeSymbol(const std::string& name, const std::string& exchange);
    ExchangeSymbol(const ExchangeSymbol&) = default;
    ExchangeSymbol& operator=(const ExchangeSymbol&) = default;
    ~ExchangeSymbol() = default;

private:
    std::string m_exchange;
};

using SymbolSharedPtr = std::shared_ptr<Symbol>;

} // namespace Tessel
} // namespace Ventari
