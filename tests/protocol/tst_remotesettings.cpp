#include "testsupport.h"

#include "remotesettings.h"

#include <QtTest/QtTest>

using Ventari::remoteSetting;

// The lookup's cache lives for the whole process, so each test reads keys no other test reads.
class tst_RemoteSettings : public QObject
{
    Q_OBJECT

private slots:
    void defaultUntilTheStoreHasAValueThenCached();
    void missingWithoutDefaultIsInvalid();
};

void tst_RemoteSettings::defaultUntilTheStoreHasAValueThenCached()
{
    ReportRecorder recorder;
    TemporarySettings settings;
    QCOMPARE(remoteSetting("symbolsLimit", 140), QVariant(140));
    // The default is not cached: the store is asked again.
    settings.store()->setValue("RemoteSettings/Ventari/symbolsLimit", QStringLiteral("200"));
    QCOMPARE(remoteSetting("symbolsLimit", 140).toInt(), 200);
    // Once found, the value stays for the life of the process.
    settings.store()->setValue("RemoteSettings/Ventari/symbolsLimit", QStringLiteral("300"));
    QCOMPARE(remoteSetting("symbolsLimit", 140).toInt(), 200);
    QVERIFY(recorder.isEmpty());
}

void tst_RemoteSettings::missingWithoutDefaultIsInvalid()
{
    ReportRecorder recorder;
    TemporarySettings settings;
    // Only the remote folder counts.
    settings.store()->setValue("streamApiUrl", QStringLiteral("http://127.0.0.1:9/top/"));
    settings.store()->setValue("RemoteSettings/Other/streamApiUrl", QStringLiteral("http://127.0.0.1:9/other/"));
    const QVariant missing = remoteSetting("streamApiUrl");
    QVERIFY(!missing.isValid());
    QVERIFY(missing.toString().isEmpty());

    settings.store()->setValue("RemoteSettings/Ventari/streamApiUrl", QStringLiteral("http://127.0.0.1:9/api/"));
    QCOMPARE(remoteSetting("streamApiUrl").toString(), QStringLiteral("http://127.0.0.1:9/api/"));
    QVERIFY(recorder.isEmpty());
}

QTEST_MAIN(tst_RemoteSettings)
#include "tst_remotesettings.moc"
