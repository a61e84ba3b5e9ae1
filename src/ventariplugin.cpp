#include "ventariplugin.h"

#include "common/reports.h"
#include "iventariservice.h"
#include "tessel/itavsymbolmapper.h"
#include "tessel/tavsymbolmapper.h"
#include "ventariservice.h"

#include <kelvar/servicelocator.h>

#include <QtCore/QFile>

namespace Ventari {

VentariPlugin::VentariPlugin()
    : Kelvar::PluginBase(QByteArrayLiteral("ventari"))
{
}

// A second init while the plugin runs is refused before anything is made: the handlers a second
// facade made would take the running ones' places, and take them along when it went.
void VentariPlugin::init()
{
    Kelvar::ServiceLocator* locator = Kelvar::ServiceLocator::instance();
    if (!VR_ASSERT(!locator->hasService<IVentariService>()))
        return;
    Kelvar::PluginBase::init();
    locator->addService<IVentariService>(new VentariService);
    locator->addService<Tessel::ITavSymbolMapper>(new Tessel::TavSymbolMapper);
}

void VentariPlugin::term()
{
    Kelvar::ServiceLocator* locator = Kelvar::ServiceLocator::instance();
    locator->destroyService<Tessel::ITavSymbolMapper>();
    locator->destroyService<IVentariService>();
    Kelvar::PluginBase::term();
}

int VentariPlugin::protocolLevel(int)
{
    return 2;
}

// A missing file leaves the cache null, so a bundle registered later is still found.
QString VentariPlugin::pluginStyleSheet()
{
    static QString s_styleSheet;
    if (s_styleSheet.isNull()) {
        QFile cssFile(QStringLiteral(":/ventari/ventari.css"));
        VR_ASSERT(cssFile.exists());
        if (cssFile.open(QIODevice::ReadOnly | QIODevice::Text))
            s_styleSheet = QString::fromUtf8(cssFile.readAll()).trimmed();
    }
    return s_styleSheet;
}

} // namespace Ventari
