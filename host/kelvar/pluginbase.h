#pragma once

#include "hostglobal.h"
#include "iplugin.h"

#include <QtCore/QByteArray>
#include <QtCore/QObject>

namespace Kelvar {

// The host's base of every plugin: its id, and the theme resources registered under that id.
class HOST_EXPORT PluginBase : public QObject, public IPlugin
{
    Q_OBJECT
    Q_INTERFACES(Kelvar::IPlugin)

public:
    explicit PluginBase(const QByteArray& pluginId);
    ~PluginBase() override;

    QByteArray pluginId() const { return m_pluginId; }

    // init registers the bundle of the host's current theme; term unregisters it.
    void init() override;
    void term() override;
    void setContext(const QVariantMap& context) override;
    void resetContext() override;
    QList<QAction*> pluginContextMenuActions(const QVariantMap& context) override;
    bool applyContext(const QVariantMap& context) override;
    QList<QObject*> dravonCustomHandlers() override;
    QStringList customBackupCategories() override;
    bool canTerm() override;
    void hidePluginDialogs() override;

    // ":/<plugin id>/themes/<black|white>/resources.qcc" for the host's current theme.
    QString themeBundlePath() const;

protected:
    virtual void initResources();
    virtual void termResources();

private:
    QByteArray m_pluginId;
    QString m_registeredBundle;
};

} // namespace Kelvar
