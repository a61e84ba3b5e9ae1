#include "testsupport.h"

#include "common/reports.h"
#include "ventarilogging.h"

#include <QtTest/QtTest>

namespace Outer {
struct Probe
{
    int line = 0;
    void failAssert() { line = __LINE__; VR_ASSERT(1 + 1 == 3); }
    void failVerify(const void* object) { line = __LINE__; VR_VERIFY_FROM(object, false); }
    bool pass() { return VR_ASSERT(2 > 1); }
};
} // namespace Outer

// The report plumbing: source and function texts, thresholds and scoped records.
class tst_Reports : public QObject
{
    Q_OBJECT

private slots:
    void sourceFileName_data();
    void sourceFileName();
    void qualifiedFunctionName_data();
    void qualifiedFunctionName();
    void failedChecksCarryTheirTexts();
    void thresholds_data();
    void thresholds();
    void recordIsWrittenOnceWhenItsScopeEnds();
};

void tst_Reports::sourceFileName_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("expected");
    QTest::newRow("common root") << "/w/src/common/jsonparser.cpp" << "jsonparser";
    QTest::newRow("common subfolder") << "/w/src/common/notifier/commonabstractnotifier_p.h"
                                      << "notifier/commonabstractnotifier_p";
    QTest::newRow("plugin root") << "/w/src/ventariplugin.cpp" << "ventariplugin";
    QTest::newRow("plugin subfolder") << "/w/src/actions/ventaristreamaction.cpp" << "actions/ventaristreamaction";
    QTest::newRow("nested src folder") << "/home/src/proj/src/requestspool.cpp" << "requestspool";
    QTest::newRow("windows separators") << "C:\\w\\src\\common\\jsonparser.cpp" << "jsonparser";
    QTest::newRow("outside src") << "/elsewhere/file.cpp" << "file";
}

void tst_Reports::sourceFileName()
{
    QFETCH(QString, path);
    QFETCH(QString, expected);
    QCOMPARE(Common::Reports::sourceFileName(path.toLocal8Bit().constData()), expected);
}

void tst_Reports::qualifiedFunctionName_data()
{
    QTest::addColumn<QString>("pretty");
    QTest::addColumn<QString>("expected");
    auto row = [](const char* name, const char* pretty, const char* expected) {
        QTest::newRow(name) << QString::fromLatin1(pretty) << QString::fromLatin1(expected);
    };
    row("member", "void Common::MethodInfo::parse()", "Common::MethodInfo::parse");
    row("const with arguments", "QVariant Common::JsonParser::parseNoThrow(const QByteArray&) const",
        "Common::JsonParser::parseNoThrow");
    row("constructor", "Common::ObserverDestroyHelper::ObserverDestroyHelper(QObject*, Common::AbstractNotifierPrivate*)",
        "Common::ObserverDestroyHelper::ObserverDestroyHelper");
    row("pointer result", "static Ventari::VentariActionHandler* Ventari::VentariActionHandler::instance()",
        "Ventari::VentariActionHandler::instance");
    row("assignment operator", "Common::MethodInfo& Common::MethodInfo::operator=(const Common::MethodInfo&)",
        "Common::MethodInfo::operator =");
    row("function pointer argument", "void Ns::Cls::run(void (*)(int), int)", "Ns::Cls::run");
    row("template", "void Common::LinksByKey<K>::erase(const K&) [with K = QByteArray]", "Common::LinksByKey<K>::erase");
}

void tst_Reports::qualifiedFunctionName()
{
    QFETCH(QString, pretty);
    QFETCH(QString, expected);
    QCOMPARE(Common::Reports::qualifiedFunctionName(pretty.toLatin1().constData()), expected);
}

void tst_Reports::failedChecksCarryTheirTexts()
{
    ReportRecorder recorder;
    Outer::Probe probe;
    QVERIFY(probe.pass());
    QVERIFY(recorder.isEmpty());

    probe.failAssert();
    const int assertLine = probe.line;
    int object = 0;
    probe.failVerify(&object);

    QCOMPARE(recorder.reports().size(), 2);
    const Corvane::Report& assertion = recorder.reports().at(0);
    QCOMPARE(assertion.kind, Corvane::Report::Assertion);
    QCOMPARE(assertion.expression, QStringLiteral("1 + 1 == 3"));
    QCOMPARE(assertion.function, QStringLiteral("Outer::Probe::failAssert"));
    QCOMPARE(assertion.file, QStringLiteral("tst_reports"));
    QCOMPARE(assertion.line, assertLine);
    QCOMPARE(assertion.object, nullptr);

    const Corvane::Report& verification = recorder.reports().at(1);
    QCOMPARE(verification.kind, Corvane::Report::Verification);
    QCOMPARE(verification.expression, QStringLiteral("false"));
    QCOMPARE(verification.object, static_cast<const void*>(&object));
}

void tst_Reports::thresholds_data()
{
    QTest::addColumn<int>("threshold");
    QTest::addColumn<QList<int>>("written");
    QTest::newRow("off") << -1 << QList<int>{3};
    QTest::newRow("all levels") << 1 << QList<int>{1, 2, 3};
    QTest::newRow("information") << 2 << QList<int>{2, 3};
    QTest::newRow("errors only") << 3 << QList<int>{3};
    QTest::newRow("low bits only") << (8 | 2) << QList<int>{2, 3};
}

void tst_Reports::thresholds()
{
    QFETCH(int, threshold);
    QFETCH(QList<int>, written);
    ReportRecorder recorder;
    Corvane::setLogThreshold(QStringLiteral("Ventari.RequestPool"), qint8(threshold));
    for (int level = 1; level <= 3; ++level)
        VR_LOG(Ventari::Log::requestPool(), level) << "level " << level;
    Corvane::setLogThreshold(QStringLiteral("Ventari.RequestPool"), 2);

    QList<int> levels;
    for (const Corvane::LogRecord& record : recorder.records()) {
        QCOMPARE(record.category, QStringLiteral("Ventari.RequestPool"));
        QCOMPARE(record.message, QStringLiteral("level %1").arg(record.level));
        levels.append(record.level);
    }
    QCOMPARE(levels, written);
}

void tst_Reports::recordIsWrittenOnceWhenItsScopeEnds()
{
    ReportRecorder recorder(1);
    {
        Common::LogRecord record(Ventari::Log::authorization(), 2, VR_HERE_AS("Ventari::Authorization::load"));
        record << "Token Loaded:" << QByteArray("abc");
        record << ' ' << 42 << ' ' << QStringLiteral("é");
        QVERIFY(recorder.records().isEmpty());
    }
    // An empty record is not written.
    VR_LOG(0, 3) << QString();
    QCOMPARE(recorder.records().size(), 1);
    const Corvane::LogRecord& record = recorder.records().first();
    QCOMPARE(record.message, QStringLiteral("Token Loaded:abc 42 é"));
    QCOMPARE(record.function, QStringLiteral("Ventari::Authorization::load"));
    QCOMPARE(record.category, QStringLiteral("Ventari.Authorization"));
    QCOMPARE(record.level, 2);
}

QTEST_GUILESS_MAIN(tst_Reports)
#include "tst_reports.moc"
