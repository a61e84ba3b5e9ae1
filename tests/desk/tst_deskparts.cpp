#include <deskoptions.h>
#include <pluginhost.h>
#include <messagetext.h>
#include <messagetime.h>
#include <remotesettingsfile.h>
#include <tabstore.h>

#include "testsupport.h"

#include <QtCore/QTemporaryFile>
#include <QtGui/QTextBlock>
#include <QtGui/QTextDocument>
#include <QtTest/QtTest>

Q_DECLARE_METATYPE(MessageText::Target)

// The desk's small parts that are easy to get wrong: its options, the settings it reads, the
// message text it marks up and the times it shows.
class tst_DeskParts : public QObject
{
    Q_OBJECT

private slots:
    void options_data();
    void options();
    void remoteSettingsFromAFile();
    void remoteSettingsFileRefusals_data();
    void remoteSettingsFileRefusals();
    void bodyAnchors_data();
    void bodyAnchors();
    void unknownLinksGoNowhere();
    void relativeTimes_data();
    void relativeTimes();
    void tabsSurviveARestart();
    void tabsAreWrittenWithTheEventLoop();
    void pluginSearch();
    void aSecondCopyOfThePluginIsRefused();
};

void tst_DeskParts::options_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("expected"); // the options read, or a piece of the error text

    QTest::newRow("defaults") << QStringList{} << "embedded, generate 4, dark, quit 0, sign-in , settings ";
    QTest::newRow("another service") << QStringList{"--service", "http://127.0.0.1:8080"}
                                     << "http://127.0.0.1:8080/, generate 4, dark, quit 0, sign-in , settings ";
    QTest::newRow("settings file alone") << QStringList{"--remote-settings", "/tmp/x"}
                                         << ", generate 4, dark, quit 0, sign-in , settings /tmp/x";
    QTest::newRow("light, signed in, quit") << QStringList{"--theme", "light", "--sign-in", "alice", "--quit-after", "2.5"}
                                            << "embedded, generate 4, light, quit 2.5, sign-in alice, settings ";
    QTest::newRow("no generator") << QStringList{"--generate", "0"} << "embedded, generate 0, dark, quit 0, sign-in , settings ";
    QTest::newRow("service without scheme") << QStringList{"--service", "127.0.0.1:8080"} << "error: http or https";
    QTest::newRow("ftp service") << QStringList{"--service", "ftp://host/"} << "error: http or https";
    QTest::newRow("sign-in elsewhere") << QStringList{"--service", "http://localhost:1/", "--sign-in", "bob"}
                                       << "error: embedded service only";
    QTest::newRow("odd theme") << QStringList{"--theme", "blue"} << "error: dark or light";
    QTest::newRow("fractional generator") << QStringList{"--generate", "1.5"} << "error: whole seconds";
    QTest::newRow("negative quit") << QStringList{"--quit-after", "-1"} << "error: --quit-after";
    QTest::newRow("unknown option") << QStringList{"--colour"} << "error: Unknown option";
    QTest::newRow("stray argument") << QStringList{"AAPL"} << "error: Unexpected argument";
    QTest::newRow("empty host user") << QStringList{"--user", " "} << "error: --user";
}

void tst_DeskParts::options()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, expected);

    DeskOptions options;
    QString errorText;
    QString helpText;
    const bool ok = DeskOptions::parse(QStringList{"ventari-desk"} + arguments, &options, &errorText, &helpText);
    QVERIFY(helpText.isEmpty());
    if (!ok) {
        QVERIFY2(expected.startsWith(QLatin1String("error: ")) && errorText.contains(expected.mid(7)), qPrintable(errorText));
        return;
    }
    QVERIFY(!options.hostUser.isEmpty());
    const QString read = QStringLiteral("%1, generate %2, %3, quit %4, sign-in %5, settings %6")
                             .arg(options.usesEmbeddedService() ? QStringLiteral("embedded") : options.serviceUrl.toString())
                             .arg(options.generatorSeconds)
                             .arg(options.theme == DeskOptions::Theme::Dark ? QStringLiteral("dark") : QStringLiteral("light"))
                             .arg(options.quitAfterSeconds)
                             .arg(options.signInUser, options.remoteSettingsFile);
    QCOMPARE(read, expected);
}

void tst_DeskParts::remoteSettingsFromAFile()
{
    QTemporaryFile file;
    QVERIFY(file.open());
    // The whole output of ventari-emulator --print-settings, first line and all.
    file.write("Ventari service emulator listening on http://127.0.0.1:4242/\n"
               "RemoteSettings/Ventari/streamApiUrl=http://127.0.0.1:4242/api/2/\n"
               "RemoteSettings/Ventari/OrvaneId=orvane-desktop\n"
               "RemoteSettings/Ventari/authorizationUrl=http://127.0.0.1:4242/oauth/authorize?client_id=%1&x=y\n");
    file.close();

    RemoteSettingsFile::Values values = RemoteSettingsFile::forService(QUrl("http://localhost:7000/"));
    QCOMPARE(values.value("likeUrl"), QStringLiteral("http://localhost:7000/api/2/messages/like.json"));
    QString errorText;
    QVERIFY(RemoteSettingsFile::read(file.fileName(), &values, &errorText));
    QCOMPARE(values.value("streamApiUrl"), QStringLiteral("http://127.0.0.1:4242/api/2/"));
    QCOMPARE(values.value("authorizationUrl"),
             QStringLiteral("http://127.0.0.1:4242/oauth/authorize?client_id=%1&x=y"));
    QCOMPARE(values.value("likeUrl"), QStringLiteral("http://localhost:7000/api/2/messages/like.json"));
    QVERIFY(RemoteSettingsFile::missingKeys(values).isEmpty());
    QCOMPARE(RemoteSettingsFile::missingKeys({}).size(), 10);

    TemporarySettings settings;
    RemoteSettingsFile::store(values, settings.store());
    QCOMPARE(settings.reopen()->value("RemoteSettings/Ventari/streamApiUrl").toString(),
             QStringLiteral("http://127.0.0.1:4242/api/2/"));
}

void tst_DeskParts::remoteSettingsFileRefusals_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("error");
    QTest::newRow("nothing of ours") << QByteArray("listening\nOther/Key=1\n") << "holds no lines";
    QTest::newRow("key without value sign") << QByteArray("RemoteSettings/Ventari/streamApiUrl\n") << "holds no lines";
    QTest::newRow("missing file") << QByteArray() << "Cannot read";
}

void tst_DeskParts::remoteSettingsFileRefusals()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, error);
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("settings.txt"));
    if (!content.isEmpty()) {
        QFile file(name);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    RemoteSettingsFile::Values values;
    values.insert("kept", QStringLiteral("yes"));
    QString errorText;
    QVERIFY(!RemoteSettingsFile::read(name, &values, &errorText));
    QVERIFY2(errorText.contains(error), qPrintable(errorText));
    QCOMPARE(values.size(), 1);
}

void tst_DeskParts::bodyAnchors_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<QStringList>("anchors");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("cashtags") << "$AAPL and $BRK.B, $RY.CA." << QStringList{"symbol:AAPL", "symbol:BRK.B", "symbol:RY.CA"}
                              << QStringList{"$AAPL", "$BRK.B", "$RY.CA"};
    QTest::newRow("futures and a price") << "$ES_F above $5000" << QStringList{"symbol:ES_F"} << QStringList{"$ES_F"};
    QTest::newRow("mentions, not mail") << "cc @bob_b and mail a@b.com" << QStringList{"user:bob_b"}
                                        << QStringList{"@bob_b"};
    QTest::newRow("link with trailing stop") << "Read https://research.example.com/notes/4711."
                                             << QStringList{"https://research.example.com/notes/4711"}
                                             << QStringList{"research.example.com/notes/4711"};
    QTest::newRow("a $ inside a link stays in it") << "see http://x.example.org/$AAPL-outlook now"
                                                   << QStringList{"http://x.example.org/$AAPL-outlook"}
                                                   << QStringList{"x.example.org/$AAPL-outlook"};
    QTest::newRow("Japanese and emoji") << "$TSLA 株価が上昇中 🚀" << QStringList{"symbol:TSLA"} << QStringList{"$TSLA"};
    QTest::newRow("markup stays text") << "<b>not bold</b> & \"quoted\"\nsecond line" << QStringList{} << QStringList{};
}

void tst_DeskParts::bodyAnchors()
{
    QFETCH(QString, body);
    QFETCH(QStringList, anchors);
    QFETCH(QStringList, shown);

    const QString html = MessageText::toHtml(body, {"#111111", "#222222", "#333333"});
    QTextDocument document;
    document.setHtml(html);
    QStringList found;
    QStringList texts;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor()) {
                found << format.anchorHref();
                texts << it.fragment().text();
            }
        }
    }
    QCOMPARE(found, anchors);
    QCOMPARE(texts, shown);
    if (!body.contains(QStringLiteral("://"))) // links are shown without their scheme
        QCOMPARE(document.toPlainText(), body);

    for (const QString& anchor : anchors) {
        QString value;
        const MessageText::Target target = MessageText::targetOf(anchor, &value);
        QVERIFY(target != MessageText::Target::None);
        QVERIFY(anchor.endsWith(value));
    }
}

void tst_DeskParts::unknownLinksGoNowhere()
{
    QString value;
    QCOMPARE(MessageText::targetOf(QStringLiteral("javascript:alert(1)"), &value), MessageText::Target::None);
    QVERIFY(value.isEmpty());
}

void tst_DeskParts::relativeTimes_data()
{
    QTest::addColumn<QDateTime>("written"); // as the records carry it: UTC digits without a zone
    QTest::addColumn<QString>("expected");

    // Now is Wednesday 2024-03-13 12:00 UTC, 13:00 in Berlin.
    QTest::newRow("seconds") << QDateTime(QDate(2024, 3, 13), QTime(11, 59, 30)) << "now";
    QTest::newRow("minutes") << QDateTime(QDate(2024, 3, 13), QTime(11, 55, 59)) << "4 min";
    QTest::newRow("hours") << QDateTime(QDate(2024, 3, 13), QTime(9, 0, 0)) << "3 h";
    QTest::newRow("this week, Berlin time") << QDateTime(QDate(2024, 3, 11), QTime(8, 5, 0)) << "Mon 09:05";
    QTest::newRow("this year") << QDateTime(QDate(2024, 1, 2), QTime(8, 0, 0)) << "2 Jan";
    QTest::newRow("years ago") << QDateTime(QDate(2021, 7, 4), QTime(8, 0, 0)) << "4 Jul 2021";
    QTest::newRow("ahead of the clock") << QDateTime(QDate(2024, 3, 13), QTime(12, 0, 20)) << "now";
}

void tst_DeskParts::relativeTimes()
{
    QFETCH(QDateTime, written);
    QFETCH(QString, expected);
    const MessageTime time(QTimeZone("Europe/Berlin"));
    const QDateTime now(QDate(2024, 3, 13), QTime(12, 0), Qt::UTC);
    QCOMPARE(time.relative(written, now), expected);
    QCOMPARE(time.exact(QDateTime(QDate(2024, 3, 13), QTime(11, 0))), QStringLiteral("Wed 13 Mar 2024, 12:00:00 CET"));
    QCOMPARE(time.clock(QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC)), QStringLiteral("14:00"));
}

void tst_DeskParts::tabsSurviveARestart()
{
    TemporarySettings settings;
    TabStore first(settings.store());
    QCOMPARE(first.tabs(), TabStore::firstRunTabs());
    QCOMPARE(first.tabs().size(), 3);

    first.save({{"user", QStringLiteral("bob\tby"), 2}, {"trending", QString(), 0}}, 1);
    TabStore second(settings.reopen());
    QCOMPARE(second.tabs(), (QList<TabState>{{"user", QStringLiteral("bobby"), 2}, {"trending", QString(), 0}}));
    QCOMPARE(second.currentIndex(), 1);

    settings.store()->setValue("VentariDesk/tabs", QStringList{"broken", "symbol\tMSFT\tx", "mentions\t\t0"});
    QCOMPARE(TabStore(settings.store()).tabs(), (QList<TabState>{{"mentions", QString(), 0}}));
}

// Tabs are saved on every switch; the disk is written once the event loop comes round.
void tst_DeskParts::tabsAreWrittenWithTheEventLoop()
{
    TemporarySettings settings;
    QFile file(settings.fileName());
    auto written = [&file] {
        if (!file.open(QIODevice::ReadOnly))
            return false;
        const bool found = file.readAll().contains("currentTab=4");
        file.close();
        return found;
    };
    TabStore(settings.store()).save({{"trending", QString(), 0}}, 4);
    QVERIFY(!written());
    QTRY_VERIFY(written());
}

void tst_DeskParts::pluginSearch()
{
    const QString name = QFileInfo(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH)).fileName();
    QTemporaryDir folder;
    QCOMPARE(PluginHost::candidates(folder.path()), QStringList{QDir(folder.path()).filePath(name)});
    QCOMPARE(PluginHost::candidates(QStringLiteral("/x/libother.so")), QStringList{"/x/libother.so"});
    // A relative path is taken from the working folder.
    const QString working = QDir::currentPath();
    QVERIFY(QDir::setCurrent(folder.path()));
    const QStringList relative = PluginHost::candidates(QStringLiteral("sub/libother.so"));
    const QStringList here = PluginHost::candidates(QStringLiteral("."));
    QVERIFY(QDir::setCurrent(working));
    QCOMPARE(relative, QStringList{folder.path() + "/sub/libother.so"});
    QCOMPARE(here, QStringList{QDir(folder.path()).filePath(name)});

    const QStringList defaults = PluginHost::candidates(QString());
    QCOMPARE(defaults.size(), 2);
    QVERIFY2(defaults.first().endsWith(QStringLiteral(VENTARI_PLUGIN_INSTALL_DIR "/") + name), qPrintable(defaults.first()));
    QCOMPARE(defaults.last(), QStringLiteral(VENTARI_PLUGIN_BUILD_PATH));
}

void tst_DeskParts::aSecondCopyOfThePluginIsRefused()
{
    QTemporaryDir folder;
    const QString copy = QDir(folder.path()).filePath(QFileInfo(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH)).fileName());
    QVERIFY(QFile::copy(QStringLiteral(VENTARI_PLUGIN_BUILD_PATH), copy));
    PluginHost host;
    QVERIFY(!host.load(folder.path()));
    QVERIFY(!host.isLoaded());
    QVERIFY2(host.errorText().contains(QStringLiteral("another copy")), qPrintable(host.errorText()));
    QVERIFY2(host.errorText().contains(copy), qPrintable(host.errorText()));
}

QTEST_MAIN(tst_DeskParts)
#include "tst_deskparts.moc"
