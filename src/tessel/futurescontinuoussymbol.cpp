#include "futurescontinuoussymbol.h"

#include <regex>

namespace Ventari {
namespace Tessel {

FuturesContinuousSymbol::FuturesContinuousSymbol(const std::string& name, int continuousType)
    : ExchangeSymbol(name, std::string())
    , m_continuousType(continuousType)
{
}

std::string FuturesContinuousSymbol::toString() const
{
    if (name().empty() || m_continuousType == 0)
        return std::string();
    return name() + (m_continuousType == 1 ? "_F" : "_");
}

std::shared_ptr<FuturesContinuousSymbol> FuturesContinuousSymbol::parse(const std::string& text)
{
    static const std::regex expression(R"(^((?:[\w:]|\.)+)(_F)$)");
    std::smatch match;
    if (!std::regex_match(text, match, expression))
        return nullptr;
    const int continuousType = match.str(2).substr(1) == "F" ? 1 : 0;
    return std::make_shared<FuturesContinuousSymbol>(match.str(1), continuousType);
}

} // namespace Tessel
} // namespace Ventari
