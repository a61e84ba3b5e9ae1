#pragma once

#include "ventariglobal.h"

#include <kelvar/pluginbase.h>

#include <QtCore/QString>

namespace Ventari {

// The plugin object the host loads; its theme resources live under ":/ventari/".
class VENTARI_EXPORT VentariPlugin : public Kelvar::PluginBase
{
    Q_OBJECT

public:
    VentariPlugin();

    int protocolLevel(int hostLevel) override;

    // The plugin's style sheet from the theme bundle the host registered, read once per process.
    static QString pluginStyleSheet();
};

} // namespace Ventari
