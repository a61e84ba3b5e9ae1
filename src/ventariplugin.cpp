#include "ventariplugin.h"

#include "common/reports.h"

#include <QtCore/QFile>

namespace Ventari {

VentariPlugin::VentariPlugin()
    : Kelvar::PluginBase(QByteArrayLiteral("ventari"))
{
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
