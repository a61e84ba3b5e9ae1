#include <addresspolicy.h>
#include <alertcenter.h>
#include <deskoptions.h>
#include <desktopnotifier.h>
#include <imagecache.h>
#include <pluginhost.h>
#include <messagetext.h>
#include <messagetime.h>
#include <remotesettingsfile.h>
#include <replydialog.h>
#include <safetext.h>
#include <tabstore.h>

#include "hostilefiles.h"
#include "testhost.h"
#include "testsupport.h"

#include <emulator/service.h>
#include <kelvar/notifications.h>

#include <QtCore/QElapsedTimer>
#include <QtCore/QProcess>
#include <QtCore/QTemporaryFile>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusConnectionInterface>
#include <QtGui/QTextBlock>
#include <QtGui/QTextDocument>
#include <QtGui/QTextLayout>
#include <QtTest/QtTest>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>

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

// A message of bob's, as notifications quote it.
Ventari::Message bobSays(int id, const QString& body)
{
    Ventari::Message message;
    message.id = id;
    message.body = body;
    message.user.id = 2;
    message.user.username = QStringLiteral("bob");
    return message;
}

QVector<Ventari::Message> bobSaysMany(int firstId, int count)
{
    QVector<Ventari::Message> messages;
    for (int i = count - 1; i >= 0; --i)
        messages << bobSays(firstId + i, QStringLiteral("$MSFT up %1").arg(i));
    return messages;
}

// A session bus of the test's own: dbus-daemon run as a child, gone with it.
class PrivateBus
{
public:
    PrivateBus()
    {
        m_daemon.start(QStringLiteral("dbus-daemon"), {"--session", "--nofork", "--print-address"});
        if (m_daemon.waitForStarted(5000) && m_daemon.waitForReadyRead(5000))
            m_address = QString::fromUtf8(m_daemon.readLine()).trimmed();
    }
    ~PrivateBus()
    {
        for (const QString& name : qAsConst(m_names))
            QDBusConnection::disconnectFromBus(name);
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    bool isRunning() const { return !m_address.isEmpty(); }
    QString errorText() { return m_daemon.errorString() + QString::fromUtf8(m_daemon.readAllStandardError()); }
    QDBusConnection connect(const QString& name)
    {
        m_names << name;
        return QDBusConnection::connectToBus(m_address, name);
    }

private:
    QProcess m_daemon;
    QString m_address;
    QStringList m_names;
};

} // namespace

// The desktop's notification service as a test plays it: it keeps what it is asked to show.
class FakeNotifications : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown
    {
        uint replaces;
        QString summary;
        QString body;
        QStringList actions;
    };
    QList<Shown> shown;

public slots:
    QStringList GetCapabilities() { return {QStringLiteral("body"), QStringLiteral("actions"), QStringLiteral("body-markup")}; }
    uint Notify(const QString&, uint replaces, const QString&, const QString& summary, const QString& body,
                const QStringList& actions, const QVariantMap&, int)
    {
        shown.append({replaces, summary, body, actions});
        return replaces != 0 ? replaces : uint(100 + shown.size());
    }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);
};

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
    void addressPolicy_data();
    void addressPolicy();
    void redirects_data();
    void redirects();
    void addressesAsShown_data();
    void addressesAsShown();
    void pictures_data();
    void pictures();
    void safeText_data();
    void safeText();
    void insetTextKeepsTheDesksWordsInOrder_data();
    void insetTextKeepsTheDesksWordsInOrder();
    void relativeTimes_data();
    void relativeTimes();
    void tabsSurviveARestart();
    void pluginSearch();
    void aSecondCopyOfThePluginIsRefused();
    void notificationTexts_data();
    void notificationTexts();
    void aBurstIsOneNotification();
    void desktopNotificationsGoOverTheSessionBus();
    void repliesCountAsTheServiceCounts_data();
    void repliesCountAsTheServiceCounts();
    void failedPicturesAreFetchedAgain();
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
    QTest::newRow("fractional generator") << QStringList{"--generate", "1.5"} << "error: whole seconds";
    QTest::newRow("negative quit") << QStringList{"--quit-after", "-1"} << "error: --quit-after";
    QTest::newRow("screenshot after words") << QStringList{"--screenshot-after", "soon"} << "error: --screenshot-after";
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
    QTest::addColumn<QString>("shown"); // the whole body as shown, each anchor's text in brackets

    QTest::newRow("cashtags") << "$AAPL and $BRK.B, $RY.CA." << QStringList{"symbol:AAPL", "symbol:BRK.B", "symbol:RY.CA"}
                              << "[$AAPL] and [$BRK.B], [$RY.CA].";
    QTest::newRow("futures and a price") << "$ES_F above $5000" << QStringList{"symbol:ES_F"} << "[$ES_F] above $5000";
    QTest::newRow("mentions, not mail") << "cc @bob_b and mail a@b.com" << QStringList{"user:bob_b"}
                                        << "cc [@bob_b] and mail a@b.com";
    QTest::newRow("link with trailing stop") << "Read https://research.example.com/notes/4711."
                                             << QStringList{"https://research.example.com/notes/4711"}
                                             << "Read [research.example.com/notes/4711].";
    QTest::newRow("a $ inside a link stays in it") << "see http://x.example.org/$AAPL-outlook now"
                                                   << QStringList{"http://x.example.org/$AAPL-outlook"}
                                                   << "see [x.example.org/$AAPL-outlook] now";
    QTest::newRow("Japanese and emoji") << "$TSLA 株価が上昇中 🚀" << QStringList{"symbol:TSLA"} << "[$TSLA] 株価が上昇中 🚀";
    QTest::newRow("markup stays text") << "<b>not bold</b> & \"quoted\"\nsecond line" << QStringList{}
                                       << "<b>not bold</b> & \"quoted\"\nsecond line";

    // What is linked is what the reader sees.
    QTest::newRow("zero-width space inside a cashtag") << QString::fromUtf8("$AA\u200BPL gap filled")
                                                       << QStringList{"symbol:AAPL"} << "[$AAPL] gap filled";
    QTest::newRow("zero-width space inside a mention") << QString::fromUtf8("thanks @ali\u200Bce")
                                                       << QStringList{"user:alice"} << "thanks [@alice]";
    QTest::newRow("soft hyphen and word joiner") << QString::fromUtf8("$MS\u00ADF\u2060T") << QStringList{"symbol:MSFT"}
                                                 << "[$MSFT]";
    QTest::newRow("variation selector and tag") << QString::fromUtf8("$AA\uFE0FP\U000E0041L") << QStringList{"symbol:AAPL"}
                                                << "[$AAPL]";
    QTest::newRow("an invisible character makes no cashtag of a word")
        << QString::fromUtf8("buy\u200B$AAPL") << QStringList{} << QString::fromUtf8("buy\u200B$AAPL");
    QTest::newRow("look-alike letter in a cashtag") << QString::fromUtf8("$A\u0410PL soon") << QStringList{}
                                                    << QString::fromUtf8("$A\u0410PL soon");
    QTest::newRow("look-alike letter in a mention") << QString::fromUtf8("@ali\u0441e said") << QStringList{}
                                                    << QString::fromUtf8("@ali\u0441e said");
    QTest::newRow("joiners outside tokens stay") << QString::fromUtf8("👩\u200D💻 $NVDA") << QStringList{"symbol:NVDA"}
                                                 << QString::fromUtf8("👩\u200D💻 [$NVDA]");
    QTest::newRow("zero-width space in a link's host")
        << QString::fromUtf8("https://bank.example.com\u200B.evil.test/login")
        << QStringList{"https://bank.example.com.evil.test/login"} << "[bank.example.com.evil.test/login]";
    QTest::newRow("right-to-left override") << QString::fromUtf8("$AAPL \u202Etfel og") << QStringList{"symbol:AAPL"}
                                            << "[$AAPL] tfel og";
    QTest::newRow("isolates and marks") << QString::fromUtf8("\u2067$TSLA\u2069 \u200Fup \u061C\u202Adone\u202C")
                                        << QStringList{"symbol:TSLA"} << "[$TSLA] up done";
}

void tst_DeskParts::bodyAnchors()
{
    QFETCH(QString, body);
    QFETCH(QStringList, anchors);
    QFETCH(QString, shown);

    QTextDocument document;
    document.setHtml(MessageText::toHtml(body, {"#111111", "#222222", "#333333"}));
    QStringList found;
    QString text;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        text += block == document.begin() ? QString() : QStringLiteral("\n");
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat format = it.fragment().charFormat();
            if (format.isAnchor())
                found << format.anchorHref();
            text += format.isAnchor() ? '[' + it.fragment().text() + ']' : it.fragment().text();
        }
    }
    QCOMPARE(found, anchors);
    QCOMPARE(text.replace(QChar::LineSeparator, QLatin1Char('\n')), shown);

    for (const QString& anchor : anchors) {
        QString value;
        QVERIFY(MessageText::targetOf(anchor, &value) != MessageText::Target::None);
        QVERIFY(anchor.endsWith(value));
    }
    // An anchor of any other kind leads nowhere.
    QString value;
    QCOMPARE(MessageText::targetOf(QStringLiteral("javascript:alert(1)"), &value), MessageText::Target::None);
    QVERIFY(value.isEmpty());
}

void tst_DeskParts::addressPolicy_data()
{
    QTest::addColumn<QString>("address");
    QTest::addColumn<AddressPolicy::Use>("use");
    QTest::addColumn<QString>("refusal"); // empty: allowed
    QTest::addColumn<QString>("message"); // for the status bar; empty: not looked at

    // Local files, other schemes, user names and no address at all are refused where the desk
    // opens or loads them: tst_desk clicks and shows them.
    const auto open = AddressPolicy::Use::Open;
    const auto load = AddressPolicy::Use::Load;
    QTest::newRow("https") << "https://charts.example.com/c/1.png" << open << "" << "";
    QTest::newRow("http with a port") << "http://127.0.0.1:8080/avatars/alice.svg" << load << "" << "";
    QTest::newRow("scheme in capitals") << "HTTPS://Charts.Example.com/c/1.png" << open << "" << "";
    QTest::newRow("ftp") << "ftp://files.example.com/chart.png" << open << "only web addresses are opened" << "";
    QTest::newRow("javascript") << "javascript:alert(document.cookie)" << open << "only web addresses are opened" << "";
    QTest::newRow("resource") << "qrc:/ventari/loader.gif" << load << "only web addresses are loaded" << "";
    QTest::newRow("a user name that looks like a host") << "https://bank.example.com@evil.test/" << load
                                                        << "addresses with a user name or password are not loaded"
                                                        << "";
    QTest::newRow("relative path") << "/avatars/alice.svg" << load << "it is not a complete web address" << "";
    QTest::newRow("relative to the scheme") << "//evil.test/chart.png" << open << "it is not a complete web address"
                                            << "";
    QTest::newRow("no host") << "http:///etc/passwd" << open << "it names no web server"
                             << "Refused to open http:///etc/passwd: it names no web server.";
    QTest::newRow("invalid") << "http://exa mple.com/" << open << "it is not a valid address"
                             << "Refused to open an invalid address: it is not a valid address.";
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

    const QByteArray small = HostileFiles::jpeg(8, 8);
    QTest::newRow("a small JPEG") << small << "";
    QTest::newRow("a PNG") << HostileFiles::encoded(testPicture(300, 200), "PNG") << "";
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

    const QUrl url = servedChart(bytes);
    ImageCache cache;
    QSignalSpy fetching(&cache, &ImageCache::fetching);
    QSignalSpy ready(&cache, &ImageCache::imageReady);
    QVERIFY(cache.image(url, thumbnail).isNull());
    QCOMPARE(fetching.size(), 1);
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 1, 10000);

    const QImage image = cache.image(url, thumbnail);
    // Shown or refused, it is not fetched again.
    QCOMPARE(fetching.size(), 1);
    QCOMPARE(cache.refusal(url), refusal);
    QCOMPARE(image.isNull(), !refusal.isEmpty());
    if (!image.isNull())
        QVERIFY(image.width() <= thumbnail.width() && image.height() <= thumbnail.height());
    QCOMPARE(cache.pendingCount(), 0);
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
    // In a locale whose short times are "HH:mm", whatever the one this test runs in.
    const QLocale locale;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    QCOMPARE(time.clock(QDateTime(QDate(2024, 7, 1), QTime(12, 0), Qt::UTC)), QStringLiteral("14:00"));
    QLocale::setDefault(locale);
}

// Tabs, their order, bells and the current one survive a restart, written to disk once the event
// loop comes round; entries that cannot be read are skipped.
void tst_DeskParts::tabsSurviveARestart()
{
    TemporarySettings settings;
    QCOMPARE(TabStore(settings.store()).tabs(), TabStore::firstRunTabs());
    QCOMPARE(TabStore::firstRunTabs().size(), 3);

    TabStore(settings.store()).save({{"user", QStringLiteral("bob\tby"), 2, true}, {"trending", QString(), 0}}, 1);
    QCOMPARE(settings.store()->value("VentariDesk/tabs").toStringList(), (QStringList{"user\tbobby\t2\tbell", "trending\t\t0"}));
    auto written = [&settings] { return contentOf(settings.fileName()).contains("currentTab=1"); };
    QVERIFY(!written());
    QTRY_VERIFY(written());
    TabStore second(settings.reopen());
    const QList<TabState> tabs = second.tabs();
    QCOMPARE(tabs, (QList<TabState>{{"user", QStringLiteral("bobby"), 2}, {"trending", QString(), 0}}));
    QVERIFY(tabs.at(0).bell && !tabs.at(1).bell);
    QCOMPARE(second.currentIndex(), 1);

    // Something else in the fourth place is not a bell, and the entry is not read as one.
    settings.store()->setValue("VentariDesk/tabs", QStringList{"broken", "symbol\tMSFT\tx", "symbol\tMSFT\t0\tbuzz",
                                                               "mentions\t\t0", "trending\t\t0\tbell"});
    const QList<TabState> kept = TabStore(settings.store()).tabs();
    QCOMPARE(kept, (QList<TabState>{{"mentions", QString(), 0}, {"trending", QString(), 0}}));
    QVERIFY(!kept.at(0).bell && kept.at(1).bell);
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

void tst_DeskParts::notificationTexts_data()
{
    QTest::addColumn<bool>("mentions");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("username");
    QTest::addColumn<QString>("body");
    QTest::addColumn<QString>("summary");
    QTest::addColumn<QString>("text");

    QTest::newRow("one message") << false << 1 << "bob" << "$MSFT gap\nfilled" << "New message in $MSFT"
                                 << "@bob: $MSFT gap filled";
    QTest::newRow("a burst") << false << 5 << "bob" << "fifth" << "5 new messages in $MSFT" << "Newest, from @bob: fifth";
    QTest::newRow("one mention") << true << 1 << "carol" << "@alice look" << "@carol mentioned you"
                                 << "@carol: @alice look";
    QTest::newRow("mentions") << true << 3 << "carol" << "again" << "3 new mentions of you"
                              << "Newest, from @carol: again";
    QTest::newRow("a long message") << false << 1 << "bob" << QString(300, QLatin1Char('x')) << "New message in $MSFT"
                                    << "@bob: " + QString(119, QLatin1Char('x')) + QString::fromUtf8("…");
    // Nothing the service sends turns the desk's words round or hides in a name.
    QTest::newRow("direction controls") << true << 1 << QString::fromUtf8("mal\u202Elory")
                                        << QString::fromUtf8("\u202Egnp.exe") << QString::fromUtf8("@mal\uFFFDlory mentioned you")
                                        << QString::fromUtf8("@mal\uFFFDlory: gnp.exe");
}

void tst_DeskParts::notificationTexts()
{
    QFETCH(bool, mentions);
    QFETCH(int, count);
    QFETCH(QString, username);
    QFETCH(QString, body);
    QFETCH(QString, summary);
    QFETCH(QString, text);
    Ventari::Message newest = bobSays(7, body);
    newest.user.username = username;
    const auto kind = mentions ? AlertCenter::Kind::Mentions : AlertCenter::Kind::Messages;
    QCOMPARE(AlertCenter::summary(kind, QStringLiteral("$MSFT"), count, newest), summary);
    QCOMPARE(AlertCenter::body(count, newest), text);
}

// What comes in quick succession is told once, the user's own messages left out.
void tst_DeskParts::aBurstIsOneNotification()
{
    Kelvar::NotificationManager notifications;
    AlertCenter alerts(&notifications, nullptr);
    alerts.setCurrentUserId(1);
    alerts.setBurstMs(0);
    Ventari::Message own = bobSays(20, QStringLiteral("mine"));
    own.user.id = 1;
    alerts.add(QStringLiteral("tab-1"), QStringLiteral("$MSFT"), AlertCenter::Kind::Messages, bobSaysMany(10, 2) << own);
    alerts.add(QStringLiteral("tab-1"), QStringLiteral("$MSFT"), AlertCenter::Kind::Messages, bobSaysMany(12, 3));
    alerts.add(QStringLiteral("tab-2"), QStringLiteral("$GOOG"), AlertCenter::Kind::Messages, {own});
    QVERIFY(notifications.events().isEmpty());
    QTRY_COMPARE(notifications.events().size(), 1);
    QCoreApplication::processEvents();
    QCOMPARE(notifications.events().size(), 1);
    QCOMPARE(notifications.events().first()->title(), QStringLiteral("5 new messages in $MSFT"));
    QCOMPARE(notifications.events().first()->text(), QStringLiteral("Newest, from @bob: $MSFT up 2"));
}

// Against a notification service played on a private session bus: the desk shows a notification
// there while it is not the active window, counts on in the one on show, and comes forward on a
// click; without the service, or in front of the user, it sends nothing.
void tst_DeskParts::desktopNotificationsGoOverTheSessionBus()
{
    PrivateBus bus;
    QVERIFY2(bus.isRunning(), qPrintable(bus.errorText()));
    QDBusConnection serviceSide = bus.connect(QStringLiteral("notification-service"));
    QDBusConnection deskSide = bus.connect(QStringLiteral("desk"));
    QVERIFY(serviceSide.isConnected() && deskSide.isConnected());

    DesktopNotifier desktop(deskSide);
    QSignalSpy availability(&desktop, &DesktopNotifier::availabilityChanged);
    QWidget desk;
    Kelvar::NotificationManager notifications;
    AlertCenter alerts(&notifications, &desk);
    alerts.setDesktopNotifier(&desktop);
    alerts.setBurstMs(0);
    QSignalSpy asked(&alerts, &AlertCenter::showRequested);
    const QString msft = QStringLiteral("tab-1");

    // No notification service on this bus yet: a round trip through the bus says so.
    QVERIFY(!deskSide.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")));
    QTest::qWait(50);
    QVERIFY(!desktop.isAvailable());
    QVERIFY(!desktop.notify(msft, QStringLiteral("s"), QStringLiteral("b")));

    FakeNotifications service;
    QVERIFY(serviceSide.registerObject(QStringLiteral("/org/freedesktop/Notifications"), &service,
                                       QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals));
    QVERIFY(serviceSide.registerService(QStringLiteral("org.freedesktop.Notifications")));
    QTRY_VERIFY(desktop.isAvailable());
    QCOMPARE(availability.size(), 1);

    alerts.add(msft, QStringLiteral("$MSFT & Co"), AlertCenter::Kind::Messages, bobSaysMany(10, 3));
    QTRY_COMPARE(service.shown.size(), 1);
    QCOMPARE(service.shown.at(0).replaces, 0u);
    QCOMPARE(service.shown.at(0).summary, QStringLiteral("3 new messages in $MSFT & Co"));
    // The service reads markup in bodies, so a body's own "<" and "&" are escaped.
    QCOMPARE(service.shown.at(0).body, QStringLiteral("Newest, from @bob: $MSFT up 2"));
    QVERIFY(service.shown.at(0).actions.contains(QStringLiteral("default")));
    QCOMPARE(notifications.events().size(), 1);
    QTRY_VERIFY(desktop.isShown(msft));

    // On show, the next burst replaces it and counts on.
    alerts.add(msft, QStringLiteral("$MSFT & Co"), AlertCenter::Kind::Messages, {bobSays(20, QStringLiteral("<b>A&P</b>"))});
    QTRY_COMPARE(service.shown.size(), 2);
    QCOMPARE(service.shown.at(1).replaces, 101u);
    QCOMPARE(service.shown.at(1).summary, QStringLiteral("4 new messages in $MSFT & Co"));
    QCOMPARE(service.shown.at(1).body, QStringLiteral("Newest, from @bob: &lt;b&gt;A&amp;P&lt;/b&gt;"));

    emit service.ActionInvoked(101, QStringLiteral("default"));
    QTRY_COMPARE(asked.size(), 1);
    QCOMPARE(asked.first().first().toString(), msft);

    // Once closed, the next one is shown anew and counts from one.
    emit service.NotificationClosed(101, 2);
    QTRY_VERIFY(!desktop.isShown(msft));
    alerts.add(msft, QStringLiteral("$MSFT & Co"), AlertCenter::Kind::Messages, {bobSays(21, QStringLiteral("later"))});
    QTRY_COMPARE(service.shown.size(), 3);
    QCOMPARE(service.shown.at(2).replaces, 0u);
    QCOMPARE(service.shown.at(2).summary, QStringLiteral("New message in $MSFT & Co"));

    // In front of the user the desk's own popup says it.
    desk.show();
    desk.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&desk));
    alerts.add(msft, QStringLiteral("$MSFT & Co"), AlertCenter::Kind::Messages, {bobSays(22, QStringLiteral("seen"))});
    QTRY_COMPARE(notifications.events().size(), 4);
    QVERIFY(deskSide.interface()->isServiceRegistered(QStringLiteral("org.freedesktop.Notifications")));
    QCoreApplication::processEvents();
    QCOMPARE(service.shown.size(), 3);

    QVERIFY(serviceSide.unregisterService(QStringLiteral("org.freedesktop.Notifications")));
    QTRY_VERIFY(!desktop.isAvailable());
}

void tst_DeskParts::repliesCountAsTheServiceCounts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("counted");
    QTest::addColumn<int>("remaining"); // with the service's limits, 140 and 20

    QTest::newRow("plain") << "@bob thanks" << 11 << 129;
    QTest::newRow("a long link counts 20") << "see https://research.example.com/notes/4711 now" << 4 + 20 + 4 << 112;
    QTest::newRow("a short link counts itself") << "http://x.io" << 11 << 129;
    QTest::newRow("two links") << "http://a.example.com/aaaaaaaaaa http://b.example.com/bbbbbbbbbb" << 20 + 1 + 20 << 99;
    QTest::newRow("emoji count once") << QString::fromUtf8("🚀🚀") << 2 << 138;
    QTest::newRow("over the limit") << QString(141, QLatin1Char('a')) << 141 << -1;
}

// The service refuses what is over its limit; the dialog counts the same way.
void tst_DeskParts::repliesCountAsTheServiceCounts()
{
    QFETCH(QString, text);
    QFETCH(int, counted);
    QFETCH(int, remaining);
    QCOMPARE(ReplyDialog::countedLength(text, 20), counted);

    Ventari::Message message = bobSays(5, QStringLiteral("hi"));
    ReplyDialog dialog;
    dialog.setMessage(message);
    QCOMPARE(dialog.text(), QStringLiteral("@bob "));
    auto* editor = dialog.findChild<QPlainTextEdit*>(QStringLiteral("text"));
    editor->setPlainText(text);
    QCOMPARE(dialog.remaining(), remaining);
    QCOMPARE(dialog.findChild<QLabel*>(QStringLiteral("count"))->text(), QString::number(remaining));
    auto* send = dialog.findChild<QPushButton*>(QStringLiteral("send"));
    QVERIFY(send);
    QCOMPARE(send->isEnabled(), remaining >= 0);
}

// A picture the service failed to send comes after its wait, longer each time, or at once when
// the service is back; one nobody asks for again is left alone.
void tst_DeskParts::failedPicturesAreFetchedAgain()
{
    Emulator::Service& service = sharedEmulator();
    const QUrl url = servedChart(HostileFiles::jpeg(8, 8));
    const QUrl other = servedChart(HostileFiles::jpeg(8, 8));
    const int fault = service.addFault(Emulator::Fault::errorStatus(503).onPath(url.path().toStdString()).times(2));
    service.addFault(Emulator::Fault::errorStatus(503).onPath(other.path().toStdString()).times(1));
    ImageCache cache;
    cache.setRetryDelays(150, 100000);
    QSignalSpy fetching(&cache, &ImageCache::fetching);
    QSignalSpy ready(&cache, &ImageCache::imageReady);
    auto fetchesOf = [&](const QUrl& which) {
        return std::count_if(fetching.cbegin(), fetching.cend(), [&](const QList<QVariant>& a) { return a.first().toUrl() == which; });
    };

    QVERIFY(cache.image(url, thumbnail).isNull());
    QVERIFY(cache.image(other, thumbnail).isNull());
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 2, 10000);
    QVERIFY(cache.hasFailed(url) && cache.hasFailed(other));
    QCOMPARE(cache.refusal(url), QString());
    // Asked for again while it waits: nothing goes out before its time, then it does by itself.
    QVERIFY(cache.image(url, thumbnail).isNull());
    QCOMPARE(fetchesOf(url), 1);
    QTRY_COMPARE_WITH_TIMEOUT(fetchesOf(url), 2, 5000);
    QTRY_COMPARE_WITH_TIMEOUT(ready.size(), 3, 10000);
    QVERIFY(cache.hasFailed(url));
    QVERIFY(cache.image(url, thumbnail).isNull());
    // The second wait is twice the first; the service is back before it ends.
    QTest::qWait(200);
    QCOMPARE(fetchesOf(url), 2);
    QCOMPARE(fetchesOf(other), 1); // nobody asked for it again
    cache.retryFailed();
    QCOMPARE(fetchesOf(url), 3);
    QCOMPARE(fetchesOf(other), 1);
    QTRY_VERIFY_WITH_TIMEOUT(!cache.hasFailed(url), 10000);
    QVERIFY(!cache.image(url, thumbnail).isNull());
    // Its wait is over after the service came back: asking fetches it.
    QVERIFY(cache.image(other, thumbnail).isNull());
    QCOMPARE(fetchesOf(other), 2);
    QTRY_VERIFY_WITH_TIMEOUT(!cache.image(other, thumbnail).isNull(), 10000);
    service.faults().remove(fault);
}

QTEST_MAIN(tst_DeskParts)
#include "tst_deskparts.moc"
