#include "testsupport.h"

#include <corvane/corvanesink.h>
#include <corvane/secretmask.h>
#include <settings/settingsstore.h>

#include <QtCore/QSettings>

#include <QtCore/QDir>
#include <QtCore/QFile>
#include <QtCore/QFileInfo>
#include <QtCore/QStandardPaths>
#include <QtCore/QTemporaryDir>
#include <QtTest/QtTest>

#include <functional>

namespace {

const QFileDevice::Permissions ownerReadWrite = QFileDevice::ReadOwner | QFileDevice::WriteOwner;
const QFileDevice::Permissions ownerAll = ownerReadWrite | QFileDevice::ExeOwner;
const QFileDevice::Permissions openToOthers = ownerReadWrite | QFileDevice::ReadGroup | QFileDevice::ReadOther;

// The permission bits for owner, group and others, without Qt's bits for the current user.
QFileDevice::Permissions modeOf(const QString& path)
{
    return QFile::permissions(path) & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
}

Corvane::LogRecord record(const QString& message)
{
    Corvane::LogRecord r;
    r.category = QStringLiteral("Ventari.RequestPool");
    r.level = 2;
    r.function = QStringLiteral("Ventari::RequestPool::runRequest");
    r.message = message;
    return r;
}

} // namespace

// What the host writes keeps the access token to the user: masked log records, a capped log and a
// settings file that only their owner may read.
class tst_HostSecrets : public QObject
{
    Q_OBJECT

private slots:
    void masking_data();
    void masking();
    void logOutputIsMasked();
    void logFileIsCappedAndRotated();
    void defaultLogFileLivesInTheUsersDataFolder();
    void settingsFileIsPrivate_data();
    void settingsFileIsPrivate();
};

void tst_HostSecrets::masking_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("masked");

    const QString url = QStringLiteral("Request 3 ran. Url:http://127.0.0.1:4000/api/2/streams/trending.json?");
    QTest::newRow("last query item") << url + "max=5&access_token=9f8e7d" << url + "max=5&access_token=***";
    QTest::newRow("query item before others") << url + "access_token=9f8e7d&max=5" << url + "access_token=***&max=5";
    QTest::newRow("two addresses") << "a?access_token=one b?access_token=two&x=1" << "a?access_token=*** b?access_token=***&x=1";
    QTest::newRow("error text") << "Error transferring http://h/x?access_token=9f8e7d - server replied: Not Found"
                                << "Error transferring http://h/x?access_token=*** - server replied: Not Found";
    QTest::newRow("redirect fragment") << "http://h/done#access_token=9f8e7d" << "http://h/done#access_token=***";
    QTest::newRow("percent-encoded inside an address") << "next=http%3A%2F%2Fh%2Fx%3Faccess_token%3D9f8e7d%26a%3D1"
                                                       << "next=http%3A%2F%2Fh%2Fx%3Faccess_token%3D***%26a%3D1";
    QTest::newRow("form body") << "body:status=Hello+%24AAPL&access_token=9f8e7d"
                               << "body:status=Hello+%24AAPL&access_token=***";
    QTest::newRow("multipart field")
        << "--b\r\nContent-Disposition: form-data; name=\"status\"\r\n\r\nhello\r\n"
           "--b\r\nContent-Disposition: form-data; name=\"access_token\"\r\nContent-Type: text/plain\r\n\r\n9f8e7d\r\n--b--\r\n"
        << "--b\r\nContent-Disposition: form-data; name=\"status\"\r\n\r\nhello\r\n"
           "--b\r\nContent-Disposition: form-data; name=\"access_token\"\r\nContent-Type: text/plain\r\n\r\n***\r\n--b--\r\n";
    QTest::newRow("multipart field, bare lines") << "name=\"access_token\"\n\n9f8e7d\n--b" << "name=\"access_token\"\n\n***\n--b";
    QTest::newRow("JSON member") << "{\"access_token\": \"9f8e7d\", \"user\": 1}" << "{\"access_token\": \"***\", \"user\": 1}";
    QTest::newRow("token loaded") << "Token Loaded:9f8e7d" << "Token Loaded:***";
    QTest::newRow("token received") << "[Ventari.Authorization] L2 f: Token Received:9f8e7d"
                                    << "[Ventari.Authorization] L2 f: Token Received:***";
    QTest::newRow("no token loaded") << "Token Loaded:" << "Token Loaded:";
    QTest::newRow("nothing secret") << "Request 3 put to queue" << "Request 3 put to queue";
}

void tst_HostSecrets::masking()
{
    QFETCH(QString, text);
    QFETCH(QString, masked);
    QCOMPARE(Corvane::maskAccessTokens(text), masked);
}

// Qt's logging (stderr) and the file receive the same masked text.
void tst_HostSecrets::logOutputIsMasked()
{
    QTemporaryDir dir;
    const QString folder = dir.filePath(QStringLiteral("logs"));
    const QString path = folder + QStringLiteral("/corvane.log");
    MessageCapture capture;
    {
        Corvane::DefaultSink sink(path);
        sink.log(record(QStringLiteral("Request 0 ran. Url:http://h/a?access_token=9f8e7d")));
        Corvane::Report report;
        report.expression = QStringLiteral("Token Received:9f8e7d");
        sink.report(report);
    }
    QCOMPARE(capture.messages().size(), 2);
    QCOMPARE(capture.messages().at(0),
             QStringLiteral("[Ventari.RequestPool] L2 Ventari::RequestPool::runRequest: Request 0 ran. Url:http://h/a?access_token=***"));
    QVERIFY2(capture.messages().at(1).contains(QLatin1String("\"Token Received:***\"")), qPrintable(capture.messages().at(1)));

    const QByteArray content = contentOf(path);
    QCOMPARE(content.count('\n'), 2);
    QVERIFY(content.contains("Url:http://h/a?access_token=***\n") && !content.contains("9f8e7d"));
    QCOMPARE(modeOf(path), ownerReadWrite);
    QCOMPARE(modeOf(folder), ownerAll);
}

void tst_HostSecrets::logFileIsCappedAndRotated()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("corvane.log"));
    const qint64 cap = 1000;
    // A file that others could read before: it is taken back on first use.
    QFile earlier(path);
    QVERIFY(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier\n");
    earlier.close();
    QVERIFY(QFile::setPermissions(path, openToOthers));

    MessageCapture capture;
    Corvane::DefaultSink sink(path, cap);
    for (int i = 0; i < 40; ++i)
        sink.log(record(QStringLiteral("record %1 ").arg(i, 3, 10, QLatin1Char('0')) + QString(40, QLatin1Char('x'))));

    const QString aside = path + QStringLiteral(".1");
    const QByteArray current = contentOf(path);
    const QByteArray previous = contentOf(aside);
    QVERIFY(current.size() <= cap);
    QVERIFY(previous.size() <= cap);
    QVERIFY(previous.size() > cap / 2);
    // The newest record is in the file, the oldest ones went with earlier rotations.
    QVERIFY(current.contains("record 039 "));
    QVERIFY(current.endsWith("x\n"));
    QVERIFY(!current.contains("record 000 ") && !previous.contains("record 000 "));
    QVERIFY(!current.contains("earlier") && !previous.contains("earlier"));
    QVERIFY(!QFileInfo::exists(path + QStringLiteral(".2")));
    QCOMPARE(modeOf(path), ownerReadWrite);
    QCOMPARE(modeOf(aside), ownerReadWrite);
    QCOMPARE(capture.messages().size(), 40);
}

void tst_HostSecrets::defaultLogFileLivesInTheUsersDataFolder()
{
    QStandardPaths::setTestModeEnabled(true);
    const QByteArray variable = qgetenv("CORVANE_LOG_FILE");
    qunsetenv("CORVANE_LOG_FILE");
    const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString folder = dataFolder + QStringLiteral("/VentariHost");
    const QString path = folder + QStringLiteral("/corvane.log");
    QDir(folder).removeRecursively();
    // A folder of that name made by someone else, open to others.
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::setPermissions(folder, ownerAll | QFileDevice::ReadOther | QFileDevice::ExeOther));

    QCOMPARE(Corvane::DefaultSink::logFilePath(), path);
    QVERIFY(!path.startsWith(QDir::tempPath()));
    {
        MessageCapture capture;
        Corvane::DefaultSink sink;
        sink.log(record(QStringLiteral("Token Loaded:9f8e7d")));
    }
    const QByteArray content = contentOf(path);
    QVERIFY(content.endsWith("Token Loaded:***\n"));
    QCOMPARE(modeOf(path), ownerReadWrite);
    QCOMPARE(modeOf(folder), ownerAll);

    QDir(folder).removeRecursively();
    if (!variable.isNull())
        qputenv("CORVANE_LOG_FILE", variable);
    QStandardPaths::setTestModeEnabled(false);
}

void tst_HostSecrets::settingsFileIsPrivate_data()
{
    QTest::addColumn<bool>("exists");         // a file is there before the store opens it
    QTest::addColumn<bool>("openedMeanwhile"); // someone opens it to others while the store runs

    QTest::newRow("new file") << false << false;
    QTest::newRow("earlier file open to others") << true << false;
    QTest::newRow("opened to others while in use") << false << true;
}

void tst_HostSecrets::settingsFileIsPrivate()
{
    QFETCH(bool, exists);
    QFETCH(bool, openedMeanwhile);

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("config/settings.ini"));
    if (exists) {
        QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
        QFile earlier(path);
        QVERIFY(earlier.open(QIODevice::WriteOnly));
        earlier.write("[General]\nearlier=1\n");
        earlier.close();
        QVERIFY(QFile::setPermissions(path, openToOthers));
    }

    SettingsStore* store = SettingsStore::install(path, QCoreApplication::instance());
    QCOMPARE(modeOf(path), ownerReadWrite);
    if (openedMeanwhile)
        QVERIFY(QFile::setPermissions(path, openToOthers));
    store->setValue("tradervr_auth", QStringLiteral("9f8e7d"));
    QCoreApplication::processEvents(); // the store writes on the next pass of the event loop
    QCOMPARE(modeOf(path), ownerReadWrite);
    if (exists)
        QCOMPARE(store->value("earlier").toInt(), 1);

    // Values survive a restart, in a file that stays private.
    store = SettingsStore::install(path, QCoreApplication::instance());
    QCOMPARE(store->value("tradervr_auth").toString(), QStringLiteral("9f8e7d"));
    store->setValue("traderuserInfo", QStringLiteral("x"));
    // A store that goes before the event loop comes round still writes what it was given.
    delete store;
    QCOMPARE(QSettings(path, QSettings::IniFormat).value(QStringLiteral("traderuserInfo")).toString(), QStringLiteral("x"));
    QCOMPARE(modeOf(path), ownerReadWrite);
}

QTEST_GUILESS_MAIN(tst_HostSecrets)
#include "tst_hostsecrets.moc"
