#include <corvane/corvanesink.h>
#include <kelvar/iplugin.h>

#include <QtCore/QFile>
#include <QtCore/QJsonObject>
#include <QtCore/QLibrary>
#include <QtCore/QPluginLoader>
#include <QtCore/QPointer>
#include <QtTest/QtTest>

#include <climits>
#include <dlfcn.h>

// The library as a host meets it: found through QPluginLoader and never linked, so that unloading
// it really takes it out of the process.
class tst_PluginLibrary : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();

    void metadataNamesTheHostInterface();
    void loadingRegistersTheResources_data();
    void loadingRegistersTheResources();
    void oneInstanceWhileItLives();
    void interfaceCasting_data();
    void interfaceCasting();
    void protocolLevelIsTwo();
    void unloadingUnregistersTheResources();

private:
    using InstanceFunction = QObject* (*)();

    // Resolved through a library handle of its own, which is given back at once.
    InstanceFunction exportedInstanceFunction();
    bool isMapped() const;

    QPluginLoader m_loader;
    Corvane::RecordingSink m_recorder;
    Corvane::ScopedSink m_recording{&m_recorder};
};

void tst_PluginLibrary::initTestCase()
{
    QVERIFY(QFile::exists(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH)));
    QVERIFY(!isMapped());
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/loader.html")));
    m_loader.setFileName(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
    // Qt would otherwise pin the library for good at the first load.
    m_loader.setLoadHints(QLibrary::LoadHints());
}

// Loading, casting and unloading report nothing to the host.
void tst_PluginLibrary::cleanup()
{
    QVERIFY2(m_recorder.reports().isEmpty(), qPrintable(m_recorder.reportTexts().join(QLatin1Char('\n'))));
}

void tst_PluginLibrary::metadataNamesTheHostInterface()
{
    const QJsonObject metaData = m_loader.metaData();
    QCOMPARE(metaData.value(QStringLiteral("IID")).toString(), QStringLiteral(KELVAR_IPLUGIN_IID));
    QCOMPARE(metaData.value(QStringLiteral("className")).toString(), QStringLiteral("VentariPlugin"));
    // Reading the metadata does not load the library.
    QVERIFY(!m_loader.isLoaded());
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/loader.html")));
}

void tst_PluginLibrary::loadingRegistersTheResources_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QByteArray>("start"); // the file's first bytes

    QTest::newRow("loader page") << QStringLiteral(":/ventari/loader.html") << QByteArray();
    QTest::newRow("loader animation") << QStringLiteral(":/ventari/loader.gif") << QByteArray("GIF8");
    QTest::newRow("dark theme bundle") << QStringLiteral(":/ventari/themes/black/resources.qcc") << QByteArray("qres");
    QTest::newRow("light theme bundle") << QStringLiteral(":/ventari/themes/white/resources.qcc") << QByteArray("qres");
}

void tst_PluginLibrary::loadingRegistersTheResources()
{
    QFETCH(QString, path);
    QFETCH(QByteArray, start);

    QVERIFY2(m_loader.load(), qPrintable(m_loader.errorString()));
    QVERIFY(isMapped());
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    const QByteArray content = file.readAll();
    QVERIFY(!content.isEmpty());
    QVERIFY(content.startsWith(start));
}

void tst_PluginLibrary::oneInstanceWhileItLives()
{
    QObject* first = m_loader.instance();
    QVERIFY(first);
    QCOMPARE(m_loader.instance(), first);
    const InstanceFunction instance = exportedInstanceFunction();
    QVERIFY(instance);
    QCOMPARE(instance(), first);
    QCOMPARE(instance(), first);

    // The export holds its object guarded: once it is gone, the next call makes one anew, and
    // that one is kept in turn.
    QPointer<QObject> destroyed(first);
    delete first;
    QVERIFY(!destroyed);
    QObject* second = instance();
    QVERIFY(second);
    QCOMPARE(QString::fromLatin1(second->metaObject()->className()), QStringLiteral("Ventari::VentariPlugin"));
    QCOMPARE(instance(), second);
    QCOMPARE(m_loader.instance(), second);
}

void tst_PluginLibrary::interfaceCasting_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QString>("answer"); // "plugin", "interface", "none"

    QTest::newRow("own class name") << QByteArray("Ventari::VentariPlugin") << QStringLiteral("plugin");
    QTest::newRow("host interface id") << QByteArray(KELVAR_IPLUGIN_IID) << QStringLiteral("interface");
    QTest::newRow("interface id of another version") << QByteArray("com.kelvar.Desk.IPlugin/2.0") << QStringLiteral("none");
    QTest::newRow("unqualified class name") << QByteArray("VentariPlugin") << QStringLiteral("none");
}

void tst_PluginLibrary::interfaceCasting()
{
    QFETCH(QByteArray, name);
    QFETCH(QString, answer);

    QObject* plugin = m_loader.instance();
    QVERIFY(plugin);
    auto* hostInterface = qobject_cast<Kelvar::IPlugin*>(plugin);
    QVERIFY(hostInterface);
    QVERIFY(static_cast<void*>(hostInterface) != static_cast<void*>(plugin));

    void* cast = plugin->qt_metacast(name.constData());
    if (answer == QLatin1String("plugin"))
        QCOMPARE(cast, static_cast<void*>(plugin));
    else if (answer == QLatin1String("interface"))
        QCOMPARE(cast, static_cast<void*>(hostInterface));
    else
        QCOMPARE(cast, static_cast<void*>(nullptr));
}

// The plugin speaks protocol level 2 whatever level the host names.
void tst_PluginLibrary::protocolLevelIsTwo()
{
    auto* plugin = qobject_cast<Kelvar::IPlugin*>(m_loader.instance());
    QVERIFY(plugin);
    for (int hostLevel : {0, 1, 2, 3, -1, INT_MAX, INT_MIN})
        QCOMPARE(plugin->protocolLevel(hostLevel), 2);
}

void tst_PluginLibrary::unloadingUnregistersTheResources()
{
    QPointer<QObject> plugin(m_loader.instance());
    QVERIFY(plugin);
    QVERIFY(QFile::exists(QStringLiteral(":/ventari/loader.html")));

    QVERIFY2(m_loader.unload(), qPrintable(m_loader.errorString()));
    QVERIFY(!plugin);
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/loader.html")));
    QVERIFY(!isMapped());
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/loader.gif")));
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/themes/black/resources.qcc")));
    QVERIFY(!QFile::exists(QStringLiteral(":/ventari/themes/white/resources.qcc")));
}

tst_PluginLibrary::InstanceFunction tst_PluginLibrary::exportedInstanceFunction()
{
    // From the dynamic linker, as a host resolves it: a QLibrary of the same file would share the
    // loader's own handle under Qt 6, and unloading it would take the library away.
    void* handle = dlopen(VENTARI_PLUGIN_BUILD_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return nullptr;
    const auto function = reinterpret_cast<InstanceFunction>(dlsym(handle, "qt_plugin_instance"));
    // The loader keeps the library in; this handle adds nothing that would outlast the test.
    dlclose(handle);
    return function;
}

// Whether the dynamic linker still has the library in the process.
bool tst_PluginLibrary::isMapped() const
{
    void* handle = dlopen(VENTARI_PLUGIN_BUILD_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (!handle)
        return false;
    dlclose(handle);
    return true;
}

QTEST_MAIN(tst_PluginLibrary)
#include "tst_pluginlibrary.moc"
