#include "tavsymbol.h"

#include <algorithm>

namespace Tessel {
namespace {

// The forms are scanned in one pass: a regular expression engine that recurses once per character
// overflows the stack on long texts.
bool isAsciiLetter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiAlphanumeric(char c)
{
    return isAsciiLetter(c) || (c >= '0' && c <= '9');
}

template <typename Predicate>
bool isRun(const std::string& text, Predicate predicate)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), predicate);
}

} // namespace

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

// Alphanumeric runs joined by "." or "-", then optionally ":" and an alphanumeric exchange.
bool TavSymbol::readStock(const std::string& text)
{
    const std::size_t colon = text.find(':');
    const std::string root = text.substr(0, colon);
    const std::string exchange = colon == std::string::npos ? std::string() : text.substr(colon + 1);
    if (colon != std::string::npos && !isRun(exchange, isAsciiAlphanumeric))
        return false;
    bool afterSeparator = true;
    for (const char c : root) {
        const bool separator = c == '.' || c == '-';
        if (separator ? afterSeparator : !isAsciiAlphanumeric(c))
            return false;
        afterSeparator = separator;
    }
    if (afterSeparator) // empty, or ending in a separator
        return false;
    m_root = root;
    m_exchange = exchange;
    return true;
}

// Three letters, "/", three letters.
bool TavSymbol::readCurrencyPair(const std::string& text)
{
    const std::string base = text.substr(0, 3);
    const std::string quote = text.size() > 4 ? text.substr(4) : std::string();
    if (text.size() != 7 || text[3] != '/' || !isRun(base, isAsciiLetter) || !isRun(quote, isAsciiLetter))
        return false;
    m_currencyBase = base;
    m_currencyQuote = quote;
    m_termType = TavTermSpot;
    return true;
}

// "@" and a root of word characters, colons or dots.
bool TavSymbol::readFuturesContinuous(const std::string& text)
{
    const std::string root = text.empty() ? std::string() : text.substr(1);
    if (text.empty() || text[0] != '@'
        || !isRun(root, [](char c) { return isAsciiAlphanumeric(c) || c == '_' || c == ':' || c == '.'; }))
        return false;
    m_root = root;
    m_futuresContinuousType = TavFuturesFrontMonth;
    return true;
}

} // namespace Tessel
