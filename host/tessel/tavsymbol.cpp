#include "tavsymbol.h"

#include <regex>

namespace Tessel {

Date Date::currentDate()
{
    return Date(QDate::currentDate());
}

TavSymbol::TavSymbol(TavSymbolType type)
    : m_type(type)
{
}

TavSymbol::TavSymbol(const std::string& text, TavSymbolType type, const Date& date)
    : m_type(type)
    , m_date(date)
{
    switch (type) {
    case TavSymbolStock:
        readStock(text);
        break;
    case TavSymbolCurrencyPair:
        readCurrencyPair(text);
        break;
    case TavSymbolFuturesContinuous:
        readFuturesContinuous(text);
        break;
    case TavSymbolUnknown:
        // The forms are disjoint ("@" and "/" belong to one form each), so the order does not matter.
        if (readFuturesContinuous(text))
            m_type = TavSymbolFuturesContinuous;
        else if (readCurrencyPair(text))
            m_type = TavSymbolCurrencyPair;
        else if (readStock(text))
            m_type = TavSymbolStock;
        break;
    }
}

std::string TavSymbol::toString() const
{
    switch (m_type) {
    case TavSymbolStock:
        if (m_root.empty())
            return std::string();
        return m_exchange.empty() ? m_root : m_root + ':' + m_exchange;
    case TavSymbolCurrencyPair:
        if (m_currencyBase.empty() || m_currencyQuote.empty() || m_termType != TavTermSpot)
            return std::string();
        return m_currencyBase + '/' + m_currencyQuote;
    case TavSymbolFuturesContinuous:
        if (m_root.empty() || m_futuresContinuousType != TavFuturesFrontMonth)
            return std::string();
        return '@' + m_root;
    case TavSymbolUnknown:
        break;
    }
    return std::string();
}

bool TavSymbol::readStock(const std::string& text)
{
    static const std::regex form("^([a-zA-Z0-9]+(?:[.\\-][a-zA-Z0-9]+)*)(?::([a-zA-Z0-9]+))?$");
    std::smatch match;
    if (!std::regex_match(text, match, form))
        return false;
    m_root = match.str(1);
    m_exchange = match.str(2);
    return true;
}

bool TavSymbol::readCurrencyPair(const std::string& text)
{
    static const std::regex form("^([a-zA-Z]{3})/([a-zA-Z]{3})$");
    std::smatch match;
    if (!std::regex_match(text, match, form))
        return false;
    m_currencyBase = match.str(1);
    m_currencyQuote = match.str(2);
    m_termType = TavTermSpot;
    return true;
}

bool TavSymbol::readFuturesContinuous(const std::string& text)
{
    static const std::regex form("^@([\\w:.]+)$");
    std::smatch match;
    if (!std::regex_match(text, match, form))
        return false;
    m_root = match.str(1);
    m_futuresContinuousType = TavFuturesFrontMonth;
    return true;
}

} // namespace Tessel
