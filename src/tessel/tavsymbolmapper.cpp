#include "tavsymbolmapper.h"

#include "tessel/symbolconverters.h"
#include "tessel/symbolmaptable.h"
#include "tessel/symbolparser.h"

#include <typeinfo>

namespace Ventari {
namespace Tessel {
namespace {

const char* const symbolMapFileName = "ventarisymbolmap.ctab";

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

// Later lines override earlier ones for the same key in each table.
void TavSymbolMapper::addTableContent(const std::string& content)
{
    for (const SymbolMapEntry& entry : readSymbolMapTable(content)) {
        m_vrToTavSymbols[entry.vrSymbol] = entry.tavSymbol;
        m_tavToVrSymbols[entry.tavSymbol] = entry.vrSymbol;
    }
}

} // namespace Tessel
} // namespace Ventari
