#include "pluginhost.h"

#include <kelvar/iplugin.h>
#include <ventaritypes.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QDir>
#include <QtCore/QFileInfo>

#include <dlfcn.h>

namespace {

const QString libraryName = QStringLiteral(VENTARI_PLUGIN_FILE_NAME);

// The library file this program is linked with. The plugin must be that very file: a second copy
// would bring a second stream registry and facade that the desk never sees.
QString linkedLibrary()
{
    Dl_info info;
    if (dladdr(reinterpret_cast<void*>(&Ventari::registerMetaTypes), &info) && info.dli_fname)
        return QFileInfo(QString::fromLocal8Bit(info.dli_fname)).canonicalFilePath();
    return QString();
}

// Absolute, since the plugin loader looks for a relative name in Qt's library paths, not here.
QString inFolder(const QString& path)
{
    const QFileInfo info(path);
    return info.isDir() ? QDir(info.absoluteFilePath()).filePath(libraryName) : info.absoluteFilePath();
}

} // namespace

PluginHost::~PluginHost()
{
    unload();
}

QStringList PluginHost::candidates(const QString& requestedPath)
{
    if (!requestedPath.isEmpty())
        return {inFolder(requestedPath)};
    const QDir executableDir(QCoreApplication::applicationDirPath());
    return {QDir::cleanPath(executableDir.filePath(QStringLiteral(VENTARI_BIN_TO_PLUGIN_DIR "/") + libraryName)),
            QStringLiteral(VENTARI_PLUGIN_BUILD_PATH)};
}

bool PluginHost::load(const QString& requestedPath)
{
    const QStringList paths = candidates(requestedPath);
    QString reason;
    for (const QString& path : paths) {
        if (!QFileInfo(path).isFile()) {
            reason = QStringLiteral("no such file");
            continue;
        }
        const QString linked = linkedLibrary();
        if (!linked.isEmpty() && QFileInfo(path).canonicalFilePath() != linked) {
            reason = QStringLiteral("another copy of the library than the one ventari-desk is linked with (%1)")
                         .arg(linked);
            continue;
        }
        if (loadFile(path))
            return true;
        reason = m_errorText;
    }
    m_errorText = QStringLiteral("The Ventari plugin could not be loaded (%1).\nPaths tried:\n  %2")
                      .arg(reason, paths.join(QStringLiteral("\n  ")));
    return false;
}

bool PluginHost::loadFile(const QString& fileName)
{
    m_loader.setFileName(fileName);
    QObject* instance = m_loader.instance();
    if (!instance) {
        m_errorText = m_loader.errorString();
        return false;
    }
    m_plugin = qobject_cast<Kelvar::IPlugin*>(instance);
    if (!m_plugin) {
        m_errorText = QStringLiteral("%1 is a Qt plugin, but not one that implements %2")
                          .arg(fileName, QStringLiteral(KELVAR_IPLUGIN_IID));
        m_loader.unload();
        return false;
    }
    m_plugin->init();
    return true;
}

void PluginHost::unload()
{
    if (!m_plugin)
        return;
    m_plugin->term();
    m_plugin = nullptr;
    // The desk is linked with the library, so unloading only drops the plugin instance.
    m_loader.unload();
}
