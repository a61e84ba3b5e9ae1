#pragma once

#include "ventariglobal.h"

#include <kelvar/pluginbase.h>

#include <QtCore/QString>

namespace Ventari {

// The plugin object the host loads; its theme resources live under ":/ventari/".
class VENTARI_EXPORT VentariPlugin : public Kelvar::PluginBase
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID KELVAR_IPLUGIN_IID)
    Q_INTERFACES(Kelvar::IPlugin)

public:
    VentariPlugin();

    // Registers the service facade, then the symbol mapper, in the host's service locator.
    void init() override;
    // Destroys the symbol mapper, then the facade.
    void term() override;
    int protocolLevel(int hostLevel) override;

    // The plugin's style sheet from the theme bundle the host registered, read once per process.
    static QString pluginStyleSheet();
};

} // namespace Ventari
