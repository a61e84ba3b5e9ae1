#include "sharingfixture.h"

#include "ventariplugin.h"

#include <QtCore/QFile>
#include <QtTest/QtTest>

using Ventari::VentariPlugin;

// The style sheet before any host registered a theme bundle: a process of its own, since the
// sheet, once read, is kept for the life of the process.
class tst_PluginStyleSheetWithoutBundle : public QObject
{
    Q_OBJECT

private slots:
    void reportedAndEmpty();
};

void tst_PluginStyleSheetWithoutBundle::reportedAndEmpty()
{
    ReportRecorder recorder;
    QVERIFY(VentariPlugin::pluginStyleSheet().isEmpty());
    QCOMPARE(reportsOf(recorder), QStringList{"ventariplugin Ventari::VentariPlugin::pluginStyleSheet: cssFile.exists()"});

    // Nothing was kept, so a bundle registered afterwards is found.
    recorder.clear();
    VentariPlugin plugin;
    plugin.init();
    QVERIFY(VentariPlugin::pluginStyleSheet().startsWith(QStringLiteral("Ventari--ShareDialog")));
    plugin.term();
    QVERIFY_NO_REPORTS(recorder);
}

QTEST_MAIN(tst_PluginStyleSheetWithoutBundle)
#include "tst_pluginstylesheetwithoutbundle.moc"
