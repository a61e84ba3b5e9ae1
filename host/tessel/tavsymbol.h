#pragma once

#include "hostglobal.h"

#include <QtCore/QDate>

#include <string>

// The host's symbol library: instruments in the host's own notation.
namespace Tessel {

// A calendar day that symbol texts are read on.
class HOST_EXPORT Date
{
public:
    Date() = default;
    explicit Date(const QDate& date) : m_date(date) {}

    static Date currentDate();

    bool isValid() const { return m_date.isValid(); }
    QDate toQDate() const { return m_date; }
    bool operator==(const Date& other) const { return m_date == other.m_date; }

private:
    QDate m_date;
};

enum TavSymbolType {
    TavSymbolUnknown = 0,
    TavSymbolCurrencyPair = 2,
    TavSymbolFuturesContinuous = 4,
    TavSymbolStock = 14
};

enum TavTermType { TavTermNone = 0, TavTermSpot = 1 };
enum TavFuturesContinuousType { TavFuturesNotContinuous = 0, TavFuturesFrontMonth = 1 };

// One host instrument. Host notation: stock "ROOT" or "ROOT:EXCH" ("BRK.B", "RY:TC"), spot currency
// pair "EUR/USD", front-month continuous futures "@ES" ("@CL:NYM"). A symbol missing a part of its form
// prints as the empty text. Type 0 takes its type from the form of the text (staying 0 when none fits);
// a given type reads only its own form. The date is kept: no form here depends on it.
class HOST_EXPORT TavSymbol
{
public:
    explicit TavSymbol(TavSymbolType type = TavSymbolUnknown);
    TavSymbol(const std::string& text, TavSymbolType type, const Date& date);

    TavSymbolType type() const { return m_type; }
    Date date() const { return m_date; }
    std::string toString() const;

    std::string root() const { return m_root; }
    std::string exchange() const { return m_exchange; }
    std::string currencyBase() const { return m_currencyBase; }
    std::string currencyQuote() const { return m_currencyQuote; }
    int termType() const { return m_termType; }
    int futuresContinuousType() const { return m_futuresContinuousType; }

    void setRoot(const std::string& root) { m_root = root; }
    void setExchange(const std::string& exchange) { m_exchange = exchange; }
    void setCurrencyBase(const std::string& currency) { m_currencyBase = currency; }
    void setCurrencyQuote(const std::string& currency) { m_currencyQuote = currency; }
    void setTermType(int termType) { m_termType = termType; }
    void setFuturesContinuousType(int type) { m_futuresContinuousType = type; }

private:
    bool readStock(const std::string& text);
    bool readCurrencyPair(const std::string& text);
    bool readFuturesContinuous(const std::string& text);

    TavSymbolType m_type;
    Date m_date;
    std::string m_root;
    std::string m_exchange;
    std::string m_currencyBase;
    std::string m_currencyQuote;
    int m_termType = TavTermNone;
    int m_futuresContinuousType = TavFuturesNotContinuous;
};

} // namespace Tessel
