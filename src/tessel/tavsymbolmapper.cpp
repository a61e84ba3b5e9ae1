#include "tavsymbolmapper.h"

#include "tessel/symbolconverters.h"
#include "tessel/symbolparser.h"

#include <cctype>
#include <typeinfo>
#include <vector>

namespace Ventari {
namespace Tessel {
namespace {

const char* const symbolMapFileName = "ventarisymbolmap.ctab";

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

// Every part, empty ones included, so that "a|b|" counts as three.
std::vector<std::string> split(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    std::size_t begin = 0;
    for (;;) {
        const std::size_t end = text.find(separator, begin);
        parts.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
        if (end == std::string::npos)
            return parts;
        begin = end + 1;
    }
}

std::string toStdString(const QByteArray& text)
{
    return std::string(text.constData(), static_cast<std::size_t>(text.size()));
}

QByteArray toByteArray(const std::string& text)
{
    return QByteArray(text.data(), static_cast<int>(text.size()));
}

} // namespace

TavSymbolMapper::TavSymbolMapper(QObject* parent)
    : QObject(parent)
{
    m_requester = std::make_shared<Dravon::Requester>(Dravon::EncryptedContentRequest(symbolMapFileName));
    bindResponse(&TavSymbolMapper::onError);
    bindResponse(&TavSymbolMapper::onContent);
    m_requester->start();
}

TavSymbolMapper::~TavSymbolMapper() = default;

QByteArray TavSymbolMapper::ventariSymbolToTavSymbol(const QByteArray& vrSymbol) const
{
    const std::string text = toStdString(vrSymbol);
    const auto listed = m_vrToTavSymbols.find(text);
    if (listed != m_vrToTavSymbols.end())
        return toByteArray(listed->second);

    const SymbolSharedPtr symbol = parseSymbol(text);
    if (!symbol)
        return vrSymbol;
    const TavSymbolSharedPtr tavSymbol = convertVentariSymbol(*symbol);
    if (!tavSymbol)
        return vrSymbol;
    return toByteArray(tavSymbol->toString());
}

QByteArray TavSymbolMapper::tavSymbolToVentariSymbol(const QByteArray& tavSymbol) const
{
    const std::string text = toStdString(tavSymbol);
    const auto listed = m_tavToVrSymbols.find(text);
    if (listed != m_tavToVrSymbols.end())
        return toByteArray(listed->second);

    const ::Tessel::TavSymbol symbol(text, ::Tessel::TavSymbolUnknown, ::Tessel::Date::currentDate());
    const SymbolSharedPtr vrSymbol = convertTavSymbol(symbol);
    if (!vrSymbol)
        return tavSymbol;
    return toByteArray(vrSymbol->toString());
}

template <typename ResponseClass>
void TavSymbolMapper::bindResponse(void (TavSymbolMapper::*handler)(int, const ResponseClass&))
{
    m_requester->bind(ResponseClass::registeredType(),
                      std::make_shared<Dravon::Messaging::Binding<TavSymbolMapper, ResponseClass>>(this, handler));
    if (m_requester->receiverName().isEmpty())
        m_requester->setReceiverName(typeid(*this).name());
}

// Nothing is retried: without the table the rules still translate.
void TavSymbolMapper::onError(int, const Dravon::ErrorResponse&)
{
    m_requester.reset();
}

void TavSymbolMapper::onContent(int, const Dravon::EncryptedContentResponse& response)
{
    addTableContent(toStdString(response.content()));
    m_requester.reset();
}

// One "host | service" pair a line; ";" starts a comment; anything else is skipped.
void TavSymbolMapper::addTableContent(const std::string& content)
{
    for (const std::string& rawLine : split(content, '\n')) {
        std::string line = trimmed(rawLine);
        line = line.substr(0, line.find(';'));
        if (line.empty())
            continue;
        const std::vector<std::string> parts = split(line, '|');
        if (parts.size() != 2)
            continue;
        const std::string tavSymbol = trimmed(parts[0]);
        const std::string vrSymbol = trimmed(parts[1]);
        m_vrToTavSymbols[vrSymbol] = tavSymbol;
        m_tavToVrSymbols[tavSymbol] = vrSymbol;
    }
}

} // namespace Tessel
} // namespace Ventari
