#pragma once

#include "ventariglobal.h"
#include "tessel/itavsymbolmapper.h"

#include <dravon/requester.h>

#include <QtCore/QObject>

#include <map>
#include <string>

namespace Ventari {
namespace Tessel {

// The symbol mapper: the host's symbol map table first, the conversion rules for what it does not list.
// The table arrives from the host's data library some time after construction; until then, and for
// good when it cannot be had, translation goes by rule alone.
class VENTARI_EXPORT TavSymbolMapper : public QObject, public ITavSymbolMapper
{
    Q_OBJECT
    Q_INTERFACES(Ventari::Tessel::ITavSymbolMapper)

public:
    explicit TavSymbolMapper(QObject* parent = nullptr);
    ~TavSymbolMapper() override;

    QByteArray ventariSymbolToTavSymbol(const QByteArray& vrSymbol) const override;
    QByteArray tavSymbolToVentariSymbol(const QByteArray& tavSymbol) const override;

    // Whether the table request is still unanswered.
    bool isWaitingForTable() const { return m_requester != nullptr; }

private:
    template <typename ResponseClass>
    void bindResponse(void (TavSymbolMapper::*handler)(int, const ResponseClass&));
    void onError(int requestId, const Dravon::ErrorResponse& response);
    void onContent(int requestId, const Dravon::EncryptedContentResponse& response);
    void addTableContent(const std::string& content);

    Dravon::RequesterSharedPtr m_requester;
    std::map<std::string, std::string> m_vrToTavSymbols;
    std::map<std::string, std::string> m_tavToVrSymbols;
};

} // namespace Tessel
} // namespace Ventari
