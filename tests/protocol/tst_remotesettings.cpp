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
    void valuesLiveUnderTheRemoteFolder_data();
    void valuesLiveUnderTheRemoteFolder();
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
    {
        TemporarySettings otherHost;
        otherHost.store()->setValue("RemoteSettings/Ventari/symbolsLimit", QStringLiteral("400"));
        QCOMPARE(remoteSetting("symbolsLimit", 140).toInt(), 200);
    }
    QVERIFY(recorder.isEmpty());
}

void tst_RemoteSettings::missingWithoutDefaultIsInvalid()
{
    ReportRecorder recorder;
    TemporarySettings settings;
    const QVariant missing = remoteSetting("streamApiUrl");
    QVERIFY(!missing.isValid());
    QCOMPARE(missing.toString(), QString());
    QVERIFY(missing.toString().isEmpty());

    settings.store()->setValue("RemoteSettings/Ventari/streamApiUrl", QStringLiteral("http://127.0.0.1:9/api/"));
    QCOMPARE(remoteSetting("streamApiUrl").toString(), QStringLiteral("http://127.0.0.1:9/api/"));
    QVERIFY(recorder.isEmpty());
}

void tst_RemoteSettings::valuesLiveUnderTheRemoteFolder_data()
{
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("storedUnder");
    QTest::addColumn<QVariant>("fallback");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("in the folder") << QByteArray("likeUrl") << QByteArray("RemoteSettings/Ventari/likeUrl")
                                   << QVariant() << QVariant(QStringLiteral("stored"));
    QTest::newRow("at the top level") << QByteArray("unlikeUrl") << QByteArray("unlikeUrl") << QVariant() << QVariant();
    QTest::newRow("in another folder") << QByteArray("urlSymbols") << QByteArray("RemoteSettings/Other/urlSymbols")
                                       << QVariant(20) << QVariant(20);
    QTest::newRow("key case matters") << QByteArray("OrvaneId") << QByteArray("RemoteSettings/Ventari/orvaneid")
                                      << QVariant(QStringLiteral("none")) << QVariant(QStringLiteral("none"));
}

void tst_RemoteSettings::valuesLiveUnderTheRemoteFolder()
{
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, storedUnder);
    QFETCH(QVariant, fallback);
    QFETCH(QVariant, expected);

    ReportRecorder recorder;
    TemporarySettings settings;
    settings.store()->setValue(storedUnder, QStringLiteral("stored"));
    const QVariant value = remoteSetting(key, fallback);
    QCOMPARE(value.isValid(), expected.isValid());
    QCOMPARE(value.toString(), expected.toString());
    QVERIFY(recorder.isEmpty());
}

QTEST_MAIN(tst_RemoteSettings)
#include "tst_remotesettings.moc"
