#pragma once

#include <QtCore/QList>
#include <QtCore/QStringList>
#include <QtCore/QVariantMap>
#include <QtCore/QtPlugin>

class QAction;
class QObject;

namespace Kelvar {

// What the host calls on every plugin it loads, in this virtual order.
class IPlugin
{
public:
    virtual ~IPlugin() = default;
    virtual void init() = 0;
    virtual void term() = 0;
    // The level of the host's plugin protocol that the plugin speaks, given the host's own.
    virtual int protocolLevel(int hostLevel) = 0;
    virtual void setContext(const QVariantMap& context) = 0;
    virtual void resetContext() = 0;
    virtual QList<QAction*> pluginContextMenuActions(const QVariantMap& context) = 0;
    virtual bool applyContext(const QVariantMap& context) = 0;
    virtual QList<QObject*> dravonCustomHandlers() = 0;
    virtual QStringList customBackupCategories() = 0;
    virtual bool canTerm() = 0;
    virtual void hidePluginDialogs() = 0;
};

} // namespace Kelvar

#define KELVAR_IPLUGIN_IID "com.kelvar.Desk.IPlugin/1.0"
Q_DECLARE_INTERFACE(Kelvar::IPlugin, KELVAR_IPLUGIN_IID)
