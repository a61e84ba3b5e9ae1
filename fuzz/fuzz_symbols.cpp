// Symbol texts of up to 64 KB through the service's symbol parsers, the converters both ways, the
// host's own symbol reader and the mapper's rules. A parsed symbol prints as a text that parses to
// the same symbol, the host's notation of it leads back to it, and nothing is ever reported.
#include "fuzzsupport.h"

#include "tessel/symbolconverters.h"
#include "tessel/symbolparser.h"
#include "tessel/tavsymbolmapper.h"

#include <dravon/requester.h>
#include <tessel/tavsymbol.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QTemporaryDir>

#include <typeinfo>

using namespace Ventari::Tessel;

namespace {

// A mapper whose table request failed, so that it translates by rule alone.
const TavSymbolMapper& ruleMapper()
{
    static QTemporaryDir emptyDataDirectory;
    static TavSymbolMapper* mapper = [] {
        Dravon::setDataDirectory(emptyDataDirectory.path());
        auto* m = new TavSymbolMapper;
        while (m->isWaitingForTable())
            QCoreApplication::processEvents();
        return m;
    }();
    return *mapper;
}

QByteArray bytesOf(const std::string& text)
{
    return QByteArray(text.data(), int(text.size()));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzEnvironment& environment = FuzzEnvironment::instance();
    const TavSymbolMapper& mapper = ruleMapper();
    const std::string text(reinterpret_cast<const char*>(data), size);

    if (const SymbolSharedPtr symbol = parseSymbol(text)) {
        const std::string printed = symbol->toString();
        const SymbolSharedPtr again = parseSymbol(printed);
        FUZZ_CHECK(again && again->toString() == printed);
        const Symbol& first = *symbol;
        const Symbol& second = *again;
        FUZZ_CHECK(typeid(first) == typeid(second));

        const TavSymbolSharedPtr tavSymbol = convertVentariSymbol(*symbol);
        FUZZ_CHECK(tavSymbol && !tavSymbol->toString().empty());
        FUZZ_CHECK(mapper.ventariSymbolToTavSymbol(bytesOf(text)) == bytesOf(tavSymbol->toString()));
        FUZZ_CHECK(mapper.tavSymbolToVentariSymbol(bytesOf(tavSymbol->toString())) == bytesOf(printed));
    } else {
        FUZZ_CHECK(mapper.ventariSymbolToTavSymbol(bytesOf(text)) == bytesOf(text));
    }

    // The same text in the host's notation.
    const ::Tessel::TavSymbol tavSymbol(text, ::Tessel::TavSymbolUnknown, ::Tessel::Date::currentDate());
    const SymbolSharedPtr vrSymbol = convertTavSymbol(tavSymbol);
    const QByteArray translated = mapper.tavSymbolToVentariSymbol(bytesOf(text));
    FUZZ_CHECK(translated == (vrSymbol ? bytesOf(vrSymbol->toString()) : bytesOf(text)));
    environment.checkNoReports();
    return 0;
}
