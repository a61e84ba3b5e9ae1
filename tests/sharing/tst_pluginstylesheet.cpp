#include "sharingfixture.h"

#include "ventariplugin.h"

#include <kelvar/preferences.h>

#include <QtCore/QFile>
#include <QtTest/QtTest>

using Kelvar::Preferences;
using Ventari::VentariPlugin;

namespace {

const QString styleSheetPath = QStringLiteral(":/ventari/ventari.css");

QString themeSource(const QString& theme)
{
    return QStringLiteral(VENTARI_SOURCE_DIR "/src/resources/ventari/themes/%1/ventari.css").arg(theme);
}

} // namespace

// The plugin object and its theme style sheet, registered by the host's plugin base.
class tst_PluginStyleSheet : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void themeBundles_data();
    void themeBundles();
    void styleSheetIsReadOnce();
};

void tst_PluginStyleSheet::cleanup()
{
    Preferences::instance()->setTheme(Preferences::Theme::Dark);
}

void tst_PluginStyleSheet::themeBundles_data()
{
    QTest::addColumn<bool>("light");
    QTest::addColumn<QString>("folder");
    QTest::addColumn<QStringList>("colours");

    QTest::newRow("dark by default") << false << QStringLiteral("black")
                                     << QStringList{"#5B5B5B", "#EAEAEA", "#171717", "#294A64"};
    QTest::newRow("light") << true << QStringLiteral("white")
                           << QStringList{"#9D9D9D", "#191919", "#FFFFFF", "#B0D6FF"};
}

// Each bundle is a binary resource file holding the theme's sheet as it is in the repository.
void tst_PluginStyleSheet::themeBundles()
{
    QFETCH(bool, light);
    QFETCH(QString, folder);
    QFETCH(QStringList, colours);

    const QString bundle = QStringLiteral(":/ventari/themes/%1/resources.qcc").arg(folder);
    QVERIFY(contentOf(bundle).startsWith("qres"));
    QVERIFY(!QFile::exists(styleSheetPath));

    ReportRecorder recorder;
    if (light)
        Preferences::instance()->setTheme(Preferences::Theme::Light);
    VentariPlugin plugin;
    QCOMPARE(plugin.themeBundlePath(), bundle);
    plugin.init();
    const QByteArray sheet = contentOf(styleSheetPath);
    QCOMPARE(sheet, contentOf(themeSource(folder)));
    QVERIFY(sheet.startsWith("\n\n"));
    for (const QString& colour : colours)
        QVERIFY2(sheet.contains(colour.toLatin1()), qPrintable(colour));
    QVERIFY(sheet.contains("Ventari--ShareDialog QLabel#count[negative = \"true\"]"));
    QVERIFY(sheet.contains("url(:/kelvar/images/treeview/remove_row_hover.png)"));
    // The images the sheet names are the host's.
    QVERIFY(QFile::exists(QStringLiteral(":/kelvar/images/treeview/remove_row.png")));
    QVERIFY(QFile::exists(QStringLiteral(":/kelvar/images/treeview/remove_row_hover.png")));

    plugin.term();
    QVERIFY(!QFile::exists(styleSheetPath));
    QVERIFY_NO_REPORTS(recorder);
}

void tst_PluginStyleSheet::styleSheetIsReadOnce()
{
    ReportRecorder recorder;
    VentariPlugin plugin;
    plugin.init();
    const QString sheet = VentariPlugin::pluginStyleSheet();
    QCOMPARE(sheet, QString::fromUtf8(contentOf(themeSource(QStringLiteral("black")))).trimmed());
    QVERIFY(sheet.startsWith(QStringLiteral("Ventari--ShareDialog")));
    QVERIFY(sheet.endsWith(QLatin1Char('}')));

    // Neither a later theme nor a missing file changes the sheet in use.
    plugin.term();
    Preferences::instance()->setTheme(Preferences::Theme::Light);
    QCOMPARE(VentariPlugin::pluginStyleSheet(), sheet);
    plugin.init();
    QCOMPARE(VentariPlugin::pluginStyleSheet(), sheet);
    plugin.term();
    QVERIFY_NO_REPORTS(recorder);
}

QTEST_MAIN(tst_PluginStyleSheet)
#include "tst_pluginstylesheet.moc"
