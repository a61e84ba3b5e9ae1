#include <kelvar/iplugin.h>

#include <QtCore/QDirIterator>
#include <QtCore/QFileInfo>
#include <QtCore/QPluginLoader>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <dlfcn.h>
#include <link.h>

// The installed tree: laid out by cmake --install into a fresh prefix, and run from there. Linked
// to nothing of the project, so that whatever the plugin needs it finds by its own run path.
class tst_PluginInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void layout_data();
    void layout();
    void everyProgramAndLibraryFindsItsLibraries();
    void installedProgramRuns();
    void installedPluginLoadsWithItsHostLibrary();

private:
    QString installed(const QString& relative) const { return m_prefix.filePath(relative); }
    // Every ELF file of the installed tree, relative to the prefix.
    QStringList elfFiles() const;

    QTemporaryDir m_prefix;
};

void tst_PluginInstall::initTestCase()
{
    QVERIFY(m_prefix.isValid());
    QProcess install;
    install.start(QStringLiteral(CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(VENTARI_BUILD_DIR), QStringLiteral("--prefix"), m_prefix.path()});
    QVERIFY(install.waitForFinished(60000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0, install.readAllStandardError().constData());
}

void tst_PluginInstall::layout_data()
{
    QTest::addColumn<QString>("path");

    QTest::newRow("emulator") << QStringLiteral(VENTARI_BIN_INSTALL_DIR "/ventari-emulator");
    QTest::newRow("host stand-in") << QStringLiteral("lib/libventarihost.so");
    QTest::newRow("plugin") << QStringLiteral(VENTARI_PLUGIN_INSTALL_DIR "/" VENTARI_PLUGIN_FILE_NAME);
}

void tst_PluginInstall::layout()
{
    QFETCH(QString, path);

    const QFileInfo file(installed(path));
    QVERIFY2(file.isFile(), qPrintable(path));
    QVERIFY(elfFiles().contains(path));
}

void tst_PluginInstall::everyProgramAndLibraryFindsItsLibraries()
{
    const QStringList files = elfFiles();
    QVERIFY(files.size() >= 3);
    for (const QString& file : files) {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {installed(file)});
        QVERIFY(ldd.waitForFinished(30000));
        const QString output = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(ldd.exitCode() == 0, qPrintable(file + QLatin1Char('\n') + output));
        QVERIFY2(!output.contains(QLatin1String("not found")), qPrintable(file + QLatin1Char('\n') + output));
        // The project's own libraries come from the installed tree, never from the build tree.
        for (const QString& line : output.split(QLatin1Char('\n'))) {
            const QString trimmed = line.trimmed();
            if (!trimmed.startsWith(QLatin1String("libventari")))
                continue;
            const QString resolved = QFileInfo(trimmed.section(QLatin1Char(' '), 2, 2)).canonicalFilePath();
            QVERIFY2(resolved.startsWith(QFileInfo(m_prefix.path()).canonicalFilePath() + QLatin1Char('/')),
                     qPrintable(file + QStringLiteral(": ") + trimmed));
        }
    }
}

void tst_PluginInstall::installedProgramRuns()
{
    QProcess emulator;
    emulator.start(installed(QStringLiteral(VENTARI_BIN_INSTALL_DIR "/ventari-emulator")), {QStringLiteral("--help")});
    QVERIFY(emulator.waitForFinished(30000));
    QCOMPARE(emulator.exitStatus(), QProcess::NormalExit);
    QCOMPARE(emulator.exitCode(), 0);
    QVERIFY(emulator.readAllStandardOutput().startsWith("Usage: "));
}

void tst_PluginInstall::installedPluginLoadsWithItsHostLibrary()
{
    // Found as an installed program finds it: from its own folder.
    QPluginLoader loader(installed(QStringLiteral(VENTARI_BIN_INSTALL_DIR "/" VENTARI_BIN_TO_PLUGIN_DIR "/" VENTARI_PLUGIN_FILE_NAME)));
    QObject* instance = loader.instance();
    QVERIFY2(instance, qPrintable(loader.errorString()));
    QCOMPARE(QString::fromLatin1(instance->metaObject()->className()), QStringLiteral("Ventari::VentariPlugin"));
    QVERIFY(qobject_cast<Kelvar::IPlugin*>(instance));

    void* host = dlopen("libventarihost.so", RTLD_NOW | RTLD_NOLOAD);
    QVERIFY(host);
    link_map* map = nullptr;
    QCOMPARE(dlinfo(host, RTLD_DI_LINKMAP, &map), 0);
    QCOMPARE(QFileInfo(QString::fromLocal8Bit(map->l_name)).canonicalFilePath(),
             QFileInfo(installed(QStringLiteral("lib/libventarihost.so"))).canonicalFilePath());
    dlclose(host);
}

QStringList tst_PluginInstall::elfFiles() const
{
    QStringList files;
    QDirIterator it(m_prefix.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        if (file.open(QIODevice::ReadOnly) && file.read(4) == "\x7f" "ELF")
            files.append(QDir(m_prefix.path()).relativeFilePath(file.fileName()));
    }
    return files;
}

QTEST_MAIN(tst_PluginInstall)
#include "tst_plugininstall.moc"
