#pragma once

#include <QtCore/QPluginLoader>
#include <QtCore/QString>
#include <QtCore/QStringList>

namespace Kelvar {
class IPlugin;
}

// Finds the Ventari plugin, loads it through Qt's plugin loader and runs its init and term.
class PluginHost
{
public:
    PluginHost() = default;
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // Where to look, first match wins: the given path (a file, or a folder holding the library),
    // the installed layout beside the executable, the build tree.
    static QStringList candidates(const QString& requestedPath);

    // Loads the first candidate that exists and calls init. On false, errorText names every path
    // tried and why the last one failed.
    bool load(const QString& requestedPath);
    // Calls term and unloads; safe to call twice.
    void unload();

    QString errorText() const { return m_errorText; }
    bool isLoaded() const { return m_plugin != nullptr; }

private:
    bool loadFile(const QString& fileName);

    QPluginLoader m_loader;
    Kelvar::IPlugin* m_plugin = nullptr;
    QString m_errorText;
};
