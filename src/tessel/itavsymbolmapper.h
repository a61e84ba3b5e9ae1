#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QtPlugin>

namespace Ventari {
namespace Tessel {

// Translates instrument symbols between the host's notation and the service's.
class ITavSymbolMapper
{
public:
    virtual QByteArray ventariSymbolToTavSymbol(const QByteArray& vrSymbol) const = 0;
    virtual QByteArray tavSymbolToVentariSymbol(const QByteArray& tavSymbol) const = 0;
    virtual ~ITavSymbolMapper() {}
};

} // namespace Tessel
} // namespace Ventari

Q_DECLARE_INTERFACE(Ventari::Tessel::ITavSymbolMapper, "ITavSymbolMapper")
