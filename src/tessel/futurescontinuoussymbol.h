#pragma once

#include "tessel/symbol.h"

namespace Ventari {
namespace Tessel {

// A continuous futures contract such as ES_F (continuous type 1, the front month).
class VENTARI_EXPORT FuturesContinuousSymbol final : public ExchangeSymbol
{
public:
    FuturesContinuousSymbol(const std::string& name, int continuousType);

    int continuousType() const { return m_continuousType; }
    std::string toString() const override;

    // Word characters, colons or dots followed by "_F".
    static std::shared_ptr<FuturesContinuousSymbol> parse(const std::string& text);

private:
    int m_continuousType;
};

} // namespace Tessel
} // namespace Ventari
