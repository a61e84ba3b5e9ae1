#include "futurescontinuoussymbol.h"

#include "tessel/symboltext.h"

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

// Exactly what ^((?:[\w:]|\.)+)(_F)$ matches, in one pass; the suffix is "_F", so the type is 1.
std::shared_ptr<FuturesContinuousSymbol> FuturesContinuousSymbol::parse(const std::string& text)
{
    static const std::string suffix = "_F";
    if (text.size() <= suffix.size() || text.compare(text.size() - suffix.size(), suffix.size(), suffix) != 0)
        return nullptr;
    const std::string name = text.substr(0, text.size() - suffix.size());
    if (!consistsOf(name, [](char c) { return isWordCharacter(c) || c == ':' || c == '.'; }))
        return nullptr;
    return std::make_shared<FuturesContinuousSymbol>(name, 1);
}

} // namespace Tessel
} // namespace Ventari
