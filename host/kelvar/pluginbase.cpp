#include "pluginbase.h"

#include "hostreports.h"
#include "preferences.h"

#include <QtCore/QFile>
#include <QtCore/QResource>

namespace Kelvar {

PluginBase::PluginBase(const QByteArray& pluginId)
    : m_pluginId(pluginId)
{
}

PluginBase::~PluginBase()
{
    PluginBase::termResources();
}

void PluginBase::init()
{
    initResources();
}

void PluginBase::term()
{
    termResources();
}

// A plugin that keeps no context of its own has nothing to take from the host's.
void PluginBase::setContext(const QVariantMap&)
{
}

void PluginBase::resetContext()
{
}

QList<QAction*> PluginBase::pluginContextMenuActions(const QVariantMap&)
{
    return {};
}

bool PluginBase::applyContext(const QVariantMap&)
{
    return false;
}

QList<QObject*> PluginBase::dravonCustomHandlers()
{
    return {};
}

QStringList PluginBase::customBackupCategories()
{
    return {};
}

bool PluginBase::canTerm()
{
    return true;
}

// The base opens no dialogs of its own.
void PluginBase::hidePluginDialogs()
{
}

QString PluginBase::themeBundlePath() const
{
    const bool light = Preferences::instance()->theme() == Preferences::Theme::Light;
    return QStringLiteral(":/%1/themes/%2/resources.qcc")
        .arg(QString::fromUtf8(m_pluginId), light ? QStringLiteral("white") : QStringLiteral("black"));
}

// Themes are optional: a plugin without a bundle for the current theme simply has none.
void PluginBase::initResources()
{
    if (!m_registeredBundle.isEmpty())
        return;
    const QString bundle = themeBundlePath();
    if (!QFile::exists(bundle))
        return;
    if (QResource::registerResource(bundle))
        m_registeredBundle = bundle;
    else
        KELVAR_REPORT("QResource::registerResource(bundle)");
}

void PluginBase::termResources()
{
    if (m_registeredBundle.isEmpty())
        return;
    QResource::unregisterResource(m_registeredBundle);
    m_registeredBundle.clear();
}

} // namespace Kelvar
