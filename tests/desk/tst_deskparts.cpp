#include <addresspolicy.h>
#include <deskoptions.h>
#include <imagecache.h>
#include <pluginhost.h>
#include <messagetext.h>
#include <messagetime.h>
#include <remotesettingsfile.h>
#include <safetext.h>
#include <tabstore.h>

#include "hostilefiles.h"
#include "testhost.h"
#include "testsupport.h"

#include <emulator/service.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QTemporaryFile>
#include <QtGui/QTextBlock>
#include <QtGui/QTextDocument>
#include <QtGui/QTextLayout>
#include <QtTest/QtTest>

Q_DECLARE_METATYPE(MessageText::Target)
Q_DECLARE_METATYPE(AddressPolicy::Use)

namespace {

const QSize thumbnail(120, 80);

// Whether the characters of a sentence outside its inset piece appear on screen in the order they
// are written, the piece between them.
bool keepsItsOrder(const QString& before, const QString& piece, const QString& after)
{
    const QString sentence = before + piece + after;
    QTextLayout layout(sentence, QFont());
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(100000);
    layout.endLayout();
    qreal last = -1;
    for (int i = 0; i < before.size(); ++i) {
        if (line.cursorToX(i) <= last)
            return false;
        last = line.cursorToX(i);
    }
    for (int i = before.size(); i <= before.size() + piece.size(); ++i)
        last = qMax(last, line.cursorToX(i));
    for (int i = before.size() + piece.size() + 1; i < sentence.size(); ++i) {
        if (line.cursorToX(i) <= last)
            return false;
        last = line.cursorToX(i);
    }
    return true;
}

// The address of a chart the shared emulator serves with these bytes.
QUrl servedChart(const QByteArray& bytes)
{
    Emulator::Service& service = sharedEmulator();
    Emulator::MessageDraft draft;
    draft.userId = service.store().users().front().id;
    draft.body = "A chart";
    draft.chartJpeg = bytes.toStdString();
    const Emulator::Message message = service.store().post(draft, service.clock().now());
    return QUrl(QString::fromStdString(service.baseUrl() + message.chart->thumb));
}

} // namespace

// The desk's small parts that are easy to get wrong: its options, the settings it reads, the
// message text it marks up, the times it shows, and what it makes of hostile addresses, pictures
// and text.
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
    void addressPolicy_data();
    void addressPolicy();
    void redirects_data();
    void redirects();
    void addressesAsShown_data();
    void addressesAsShown();
    void pictures_data();
    void pictures();
    void aNamedPipeDoesNotHoldTheDesk();
    void safeText_data();
    void safeText();
    void insetTextKeepsTheDesksWordsInOrder_data();
    void insetTextKeepsTheDesksWordsInOrder();
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
    QTest::addColumn<QString>("text"); // the whole body as shown

    QTest::newRow("cashtags") << "$AAPL and $BRK.B, $RY.CA." << QStringList{"symbol:AAPL", "symbol:BRK.B", "symbol:RY.CA"}
                              << QStringList{"$AAPL", "$BRK.B", "$RY.CA"} << "$AAPL and $BRK.B, $RY.CA.";
    QTest::newRow("futures and a price") << "$ES_F above $5000" << QStringList{"symbol:ES_F"} << QStringList{"$ES_F"}
                                         << "$ES_F above $5000";
    QTest::newRow("mentions, not mail") << "cc @bob_b and mail a@b.com" << QStringList{"user:bob_b"}
                                        << QStringList{"@bob_b"} << "cc @bob_b and mail a@b.com";
    QTest::newRow("link with trailing stop") << "Read https://research.example.com/notes/4711."
                                             << QStringList{"https://research.example.com/notes/4711"}
                                             << QStringList{"research.example.com/notes/4711"}
                                             << "Read research.example.com/notes/4711.";
    QTest::newRow("a $ inside a link stays in it") << "see http://x.example.org/$AAPL-outlook now"
                                                   << QStringList{"http://x.example.org/$AAPL-outlook"}
                                                   << QStringList{"x.example.org/$AAPL-outlook"}
                                                   << "see x.example.org/$AAPL-outlook now";
    QTest::newRow("Japanese and emoji") << "$TSLA 株価が上昇中 🚀" << QStringList{"symbol:TSLA"} << QStringList{"$TSLA"}
                                        << "$TSLA 株価が上昇中 🚀";
    QTest::newRow("markup stays text") << "<b>not bold</b> & \"quoted\"\nsecond line" << QStringList{} << QStringList{}
                                       << "<b>not bold</b> & \"quoted\"\nsecond line";

    // What is linked is what the reader sees.
    QTest::newRow("zero-width space inside a cashtag") << QString::fromUtf8("$AA\u200BPL gap filled")
                                                       << QStringList{"symbol:AAPL"} << QStringList{"$AAPL"}
                                                       << "$AAPL gap filled";
    QTest::newRow("zero-width space inside a mention") << QString::fromUtf8("thanks @ali\u200Bce")
                                                       << QStringList{"user:alice"} << QStringList{"@alice"}
                                                       << "thanks @alice";
    QTest::newRow("soft hyphen and word joiner") << QString::fromUtf8("$MS\u00ADF\u2060T") << QStringList{"symbol:MSFT"}
                                                 << QStringList{"$MSFT"} << "$MSFT";
    QTest::newRow("variation selector and tag") << QString::fromUtf8("$AA\uFE0FP\U000E0041L") << QStringList{"symbol:AAPL"}
                                                << QStringList{"$AAPL"} << "$AAPL";
    QTest::newRow("an invisible character makes no cashtag of a word")
        << QString::fromUtf8("buy\u200B$AAPL") << QStringList{} << QStringList{} << QString::fromUtf8("buy\u200B$AAPL");
    QTest::newRow("look-alike letter in a cashtag") << QString::fromUtf8("$A\u0410PL soon") << QStringList{}
                                                    << QStringList{} << QString::fromUtf8("$A\u0410PL soon");
    QTest::newRow("look-alike letter in a mention") << QString::fromUtf8("@ali\u0441e said") << QStringList{}
                                                    << QStringList{} << QString::fromUtf8("@ali\u0441e said");
    QTest::newRow("joiners outside tokens stay") << QString::fromUtf8("👩\u200D💻 $NVDA") << QStringList{"symbol:NVDA"}
                                                 << QStringList{"$NVDA"} << QString::fromUtf8("👩\u200D💻 $NVDA");
    QTest::newRow("zero-width space in a link's host")
        << QString::fromUtf8("https://bank.example.com\u200B.evil.test/login")
        << QStringList{"https://bank.example.com.evil.test/login"} << QStringList{"bank.example.com.evil.test/login"}
        << "bank.example.com.evil.test/login";
    QTest::newRow("right-to-left override") << QString::fromUtf8("$AAPL \u202Etfel og") << QStringList{"symbol:AAPL"}
                                            << QStringList{"$AAPL"} << "$AAPL tfel og";
    QTest::newRow("isolates and marks") << QString::fromUtf8("\u2067$TSLA\u2069 \u200Fup \u061C\u202Adone\u202C")
                                        << QStringList{"symbol:TSLA"} << QStringList{"$TSLA"} << "$TSLA up done";
}

void tst_DeskParts::bodyAnchors()
{
    QFETCH(QString, body);
    QFETCH(QStringList, anchors);
    QFETCH(QStringList, shown);
    QFETCH(QString, text);

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
    QCOMPARE(document.toPlainText(), text);

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

void tst_DeskParts::addressPolicy_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<AddressPolicy::Use>("use");
    QTest::addColumn<QString>("refusal"); // empty: allowed
    QTest::addColumn<QString>("message"); // for the status bar

    const auto open = AddressPolicy::Use::Open;
    const auto load = AddressPolicy::Use::Load;
    QTest::newRow("https") << "https://charts.example.com/c/1.png" << open << "" << "";
    QTest::newRow("http with a port") << "http://127.0.0.1:8080/avatars/alice.svg" << load << "" << "";
    QTest::newRow("scheme in capitals") << "HTTPS://Charts.Example.com/c/1.png" << open << "" << "";
    QTest::newRow("local file") << "file:///etc/passwd" << open << "only web addresses are opened"
                                << "Refused to open file:///etc/passwd: only web addresses are opened.";
    QTest::newRow("local file, as a picture") << "file:///home/trader/secret.png" << load
                                              << "only web addresses are loaded" << "";
    QTest::newRow("custom scheme") << "evilscheme://run?cmd=calc" << open << "only web addresses are opened"
                                   << "Refused to open evilscheme://run?cmd=calc: only web addresses are opened.";
    QTest::newRow("ftp") << "ftp://files.example.com/chart.png" << open << "only web addresses are opened"
                         << "Refused to open ftp://files.example.com/chart.png: only web addresses are opened.";
    QTest::newRow("javascript") << "javascript:alert(document.cookie)" << open << "only web addresses are opened"
                                << "Refused to open javascript:alert(document.cookie): only web addresses are opened.";
    QTest::newRow("data") << "data:image/png;base64,iVBORw0KGgo=" << load << "only web addresses are loaded" << "";
    QTest::newRow("resource") << "qrc:/ventari/loader.gif" << load << "only web addresses are loaded" << "";
    QTest::newRow("user and password") << "https://user:pw@bank.example.evil.test/login" << open
                                       << "addresses with a user name or password are not opened"
                                       << "Refused to open https://user:pw@bank.example.evil.test/login: addresses "
                                          "with a user name or password are not opened.";
    QTest::newRow("a user name that looks like a host") << "https://bank.example.com@evil.test/" << load
                                                        << "addresses with a user name or password are not loaded"
                                                        << "";
    QTest::newRow("relative path") << "/avatars/alice.svg" << load << "it is not a complete web address" << "";
    QTest::newRow("relative to the scheme") << "//evil.test/chart.png" << open << "it is not a complete web address"
                                            << "Refused to open //evil.test/chart.png: it is not a complete web address.";
    QTest::newRow("no host") << "http:///etc/passwd" << open << "it names no web server"
                             << "Refused to open http:///etc/passwd: it names no web server.";
    QTest::newRow("invalid") << "http://exa mple.com/" << open << "it is not a valid address"
                             << "Refused to open an invalid address: it is not a valid address.";
    QTest::newRow("none") << "" << open << "there is no address" << "Nothing to open: there is no address.";
}

void tst_DeskParts::addressPolicy()
{
    QFETCH(QString, address);
    QFETCH(AddressPolicy::Use, use);
    QFETCH(QString, refusal);
    QFETCH(QString, message);

    const QUrl url(address);
    QCOMPARE(AddressPolicy::refusal(url, use), refusal);
    if (!message.isEmpty())
        QCOMPARE(AddressPolicy::refusalMessage(url, refusal), message);
}

void tst_DeskParts::redirects_data()
{
    QTest::addColumn<QUrl>("from");
    QTest::addColumn<QUrl>("to");
    QTest::addColumn<QString>("refusal");

    QTest::newRow("to another web server") << QUrl("http://cdn.example.com/a.png") << QUrl("https://img.example.net/a.png")
                                           << "";
    QTest::newRow("down from https") << QUrl("https://cdn.example.com/a.png") << QUrl("http://cdn.example.com/a.png")
                                     << "it leads on from a secure address to http://cdn.example.com/a.png, which is not";
    QTest::newRow("to a local file") << QUrl("http://cdn.example.com/a.png") << QUrl("file:///etc/passwd")
                                     << "it leads on to file:///etc/passwd, and only web addresses are loaded";
    QTest::newRow("to a user name") << QUrl("https://cdn.example.com/a.png") << QUrl("https://me@cdn.example.com/b.png")
                                    << "it leads on to https://me@cdn.example.com/b.png, and addresses with a user name "
                                       "or password are not loaded";
}

// A picture's download that is sent on elsewhere keeps to the same rule.
void tst_DeskParts::redirects()
{
    QFETCH(QUrl, from);
    QFETCH(QUrl, to);
    QFETCH(QString, refusal);
    QCOMPARE(AddressPolicy::redirectRefusal(from, to), refusal);
}

void tst_DeskParts::addressesAsShown_data()
{
    QTest::addColumn<QUrl>("url");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain") << QUrl("https://research.example.com/notes?id=4") << "https://research.example.com/notes?id=4";
    QTest::newRow("a direction control in the path") << QUrl(QString::fromUtf8("https://x.example.com/\u202Egnp.exe"))
                                                     << "https://x.example.com/%E2%80%AEgnp.exe";
    QTest::newRow("zero-width space in the path") << QUrl(QString::fromUtf8("https://x.example.com/a\u200Bb"))
                                                  << "https://x.example.com/a%E2%80%8Bb";
    QTest::newRow("international host") << QUrl(QString::fromUtf8("https://bücher.example/")) << "https://xn--bcher-kva.example/";
    QTest::newRow("long") << QUrl("https://x.example.com/" + QString(200, QLatin1Char('a')))
                          << "https://x.example.com/" + QString(77, QLatin1Char('a')) + QString::fromUtf8("…");
}

void tst_DeskParts::addressesAsShown()
{
    QFETCH(QUrl, url);
    QFETCH(QString, shown);
    QCOMPARE(AddressPolicy::displayText(url), shown);
}

void tst_DeskParts::pictures_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("refusal"); // empty: shown

    const QByteArray small = HostileFiles::smallJpeg();
    QTest::newRow("a small JPEG") << small << "";
    QTest::newRow("a PNG") << [] {
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        testPicture(300, 200).save(&buffer, "PNG");
        return buffer.data();
    }() << "";
    QTest::newRow("over 4 MB") << small + QByteArray(4 * 1024 * 1024, '\0') << "the picture is larger than 4 MB";
    const QString huge = QString::fromUtf8("the picture measures 50000 × 50000 pixels, more than 16 million");
    QTest::newRow("a JPEG declaring 50000 × 50000") << HostileFiles::jpeg(50000, 50000) << huge;
    QTest::newRow("a PNG declaring 50000 × 50000") << HostileFiles::png(50000, 50000) << huge;
    // Qt's own reader gives no size for a BMP of more than 16384 pixels a side.
    QTest::newRow("a BMP declaring 50000 × 50000") << HostileFiles::bmp(50000, 50000)
                                                   << "the picture does not tell its size";
    QTest::newRow("a BMP declaring 16000 × 16000")
        << HostileFiles::bmp(16000, 16000)
        << QString::fromUtf8("the picture measures 16000 × 16000 pixels, more than 16 million");
    QTest::newRow("a BMP just over the count")
        << HostileFiles::bmp(4097, 4096)
        << QString::fromUtf8("the picture measures 4097 × 4096 pixels, more than 16 million");
    QTest::newRow("a web page") << QByteArray("<html><body>Not found</body></html>")
                                << "it is not a picture the desk can read";
}

// Pictures as the emulator serves them, through the cache as the desk asks for them.
void tst_DeskParts::pictures()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, refusal);
    if (!refusal.isEmpty() && !refusal.contains(QLatin1String("MB")))
        QVERIFY(bytes.size() < 1024);

    const QUrl url = servedChart(bytes);
    ImageCache cache;
    QSignalSpy fetching(&cache, &ImageCache::fetching);
    QSignalSpy ready(&cache, &ImageCache::imageReady);
    QVERIFY(cache.image(url, thumbnail).isNull());
    QCOMPARE(fetching.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 10000);

    const QImage image = cache.image(url, thumbnail);
    QCOMPARE(cache.refusal(url), refusal);
    QCOMPARE(image.isNull(), !refusal.isEmpty());
    if (!image.isNull())
        QVERIFY(image.width() <= thumbnail.width() && image.height() <= thumbnail.height());
    QCOMPARE(cache.pendingCount(), 0);
}

void tst_DeskParts::aNamedPipeDoesNotHoldTheDesk()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("avatar.png"));
    PipeGuard pipe(path);
    QVERIFY(pipe.isMade());

    ImageCache cache;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(cache.image(QUrl::fromLocalFile(path), QSize(40, 40)).isNull());
    QCoreApplication::processEvents();
    // The guard lets a blocked read go after five seconds.
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(cache.refusal(QUrl::fromLocalFile(path)), QStringLiteral("only web addresses are loaded"));
}

void tst_DeskParts::safeText_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("inset");
    QTest::addColumn<QString>("identifier");

    const QString fsi = QString::fromUtf8("\u2068");
    const QString pdi = QString::fromUtf8("\u2069");
    const QString dana = QString::fromUtf8("\u05D3\u05E0\u05D4");
    QTest::newRow("Latin") << "Alice Archer" << "Alice Archer" << "Alice Archer" << "Alice Archer";
    QTest::newRow("right-to-left override") << QString::fromUtf8("bob\u202Eexe.txt") << "bobexe.txt" << "bobexe.txt"
                                            << QString::fromUtf8("bob\uFFFDexe.txt");
    QTest::newRow("every direction control")
        << QString::fromUtf8("a\u202Ab\u202Bc\u202Cd\u202De\u2066f\u2067g\u2068h\u2069i\u200Ej\u200Fk\u061Cl")
        << "abcdefghijkl" << "abcdefghijkl"
        << QString::fromUtf8("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe\uFFFDf\uFFFDg\uFFFDh\uFFFDi\uFFFDj\uFFFDk\uFFFDl");
    QTest::newRow("Hebrew name") << dana << dana << fsi + dana + pdi << dana;
    QTest::newRow("Arabic-Indic digits") << QString::fromUtf8("\u0661\u0662") << QString::fromUtf8("\u0661\u0662")
                                         << fsi + QString::fromUtf8("\u0661\u0662") + pdi << QString::fromUtf8("\u0661\u0662");
    QTest::newRow("Hebrew behind an override") << QString::fromUtf8("\u202E") + dana << dana << fsi + dana + pdi
                                               << QString::fromUtf8("\uFFFD") + dana;
    QTest::newRow("zero-width space in a name") << QString::fromUtf8("ali\u200Bce") << QString::fromUtf8("ali\u200Bce")
                                                << QString::fromUtf8("ali\u200Bce") << QString::fromUtf8("ali\uFFFDce");
    QTest::newRow("soft hyphen, word joiner, byte order mark, filler")
        << QString::fromUtf8("a\u00ADb\u2060c\uFEFFd\u3164e") << QString::fromUtf8("a\u00ADb\u2060c\uFEFFd\u3164e")
        << QString::fromUtf8("a\u00ADb\u2060c\uFEFFd\u3164e") << QString::fromUtf8("a\uFFFDb\uFFFDc\uFFFDd\uFFFDe");
    QTest::newRow("tag character") << QString::fromUtf8("bob\U000E0062") << QString::fromUtf8("bob\U000E0062")
                                   << QString::fromUtf8("bob\U000E0062") << QString::fromUtf8("bob\uFFFD");
    QTest::newRow("emoji and accents stay") << QString::fromUtf8("Zoë 🚀") << QString::fromUtf8("Zoë 🚀")
                                            << QString::fromUtf8("Zoë 🚀") << QString::fromUtf8("Zoë 🚀");
}

void tst_DeskParts::safeText()
{
    QFETCH(QString, text);
    QFETCH(QString, plain);
    QFETCH(QString, inset);
    QFETCH(QString, identifier);
    QCOMPARE(SafeText::plain(text), plain);
    QCOMPARE(SafeText::inset(text), inset);
    QCOMPARE(SafeText::identifier(text), identifier);
}

void tst_DeskParts::insetTextKeepsTheDesksWordsInOrder_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("piece");
    QTest::addColumn<QString>("after");

    const QString dana = QString::fromUtf8("\u05D3\u05E0\u05D4");
    QTest::newRow("an override in a name") << "Open @" << QString::fromUtf8("bob\u202Eevil") << "'s messages";
    QTest::newRow("a Hebrew name before numbers") << "Open " << dana << " 12 - 13 x";
    QTest::newRow("a Hebrew user name before a number") << "Reply to @" << dana << " 42";
}

// Written into a sentence raw, each piece moves the desk's own words about on screen.
void tst_DeskParts::insetTextKeepsTheDesksWordsInOrder()
{
    QFETCH(QString, before);
    QFETCH(QString, piece);
    QFETCH(QString, after);
    QVERIFY(!keepsItsOrder(before, piece, after));
    QVERIFY(keepsItsOrder(before, SafeText::inset(piece), after));
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
