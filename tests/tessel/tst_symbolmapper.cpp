#include "testsupport.h"

#include "tessel/futurescontinuoussymbol.h"
#include "tessel/symbolconverters.h"
#include "tessel/symbolparser.h"
#include "tessel/tavsymbolmapper.h"

#include <dravon/requester.h>
#include <dravon/timezone.h>
#include <tessel/tavsymbol.h>

#include <QtTest/QtTest>

using namespace Ventari::Tessel;

namespace {

// A service symbol class that no converter knows.
class IndexSymbol final : public Symbol
{
public:
    IndexSymbol() : Symbol("SPX") {}
    std::string toString() const override { return "$" + name(); }
};

QByteArray describe(const ::Tessel::TavSymbol& s)
{
    const std::string text = std::to_string(s.type()) + " root=" + s.root() + " exch=" + s.exchange() + " pair="
        + s.currencyBase() + '/' + s.currencyQuote() + " term=" + std::to_string(s.termType())
        + " cont=" + std::to_string(s.futuresContinuousType());
    return QByteArray::fromStdString(text);
}

} // namespace

// The symbol mapper over its table and rules, with the host data library stand-ins it relies on.
class tst_SymbolMapper : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void translateByRule_data();
    void translateByRule();
    void convertedHostSymbolFields_data();
    void convertedHostSymbolFields();
    void converterChecks();
    void tableLines_data();
    void tableLines();
    void tableArrivesLater();
    void shippedTable();
    void dataDirectory();
    void timezone_data();
    void timezone();

private:
    void writeTable(const QByteArray& content);

    QTemporaryDir m_dataDir;
};

// No table unless a test writes one.
void tst_SymbolMapper::init()
{
    Dravon::setDataDirectory(m_dataDir.path());
}

void tst_SymbolMapper::cleanup()
{
    Dravon::setDataDirectory(QString());
    QFile::remove(m_dataDir.filePath(QStringLiteral("ventarisymbolmap.ctab")));
}

void tst_SymbolMapper::writeTable(const QByteArray& content)
{
    QFile file(m_dataDir.filePath(QStringLiteral("ventarisymbolmap.ctab")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(content), qint64(content.size()));
}

void tst_SymbolMapper::translateByRule_data()
{
    QTest::addColumn<bool>("toHost");
    QTest::addColumn<QByteArray>("symbol");
    QTest::addColumn<QByteArray>("translated");

    QTest::newRow("toronto stock") << true << QByteArray("RY.CA") << QByteArray("RY:TC");
    QTest::newRow("class on toronto") << true << QByteArray("ABC.B.CA") << QByteArray("ABC.B:TC");
    QTest::newRow("dash class") << true << QByteArray("BRK-B") << QByteArray("BRK.B");
    QTest::newRow("currency pair") << true << QByteArray("EURUSD") << QByteArray("EUR/USD");
    QTest::newRow("futures") << true << QByteArray("CL:NYM_F") << QByteArray("@CL:NYM");
    QTest::newRow("not a symbol") << true << QByteArray("$$$") << QByteArray("$$$");
    QTest::newRow("empty") << true << QByteArray() << QByteArray();
    QTest::newRow("host toronto stock") << false << QByteArray("RY:TC") << QByteArray("RY.CA");
    QTest::newRow("host other exchange") << false << QByteArray("IBM:NYSE") << QByteArray("IBM.NYSE");
    QTest::newRow("host stock") << false << QByteArray("BRK.B") << QByteArray("BRK.B");
    QTest::newRow("host currency pair") << false << QByteArray("GBP/JPY") << QByteArray("GBPJPY");
    QTest::newRow("host futures") << false << QByteArray("@A.B") << QByteArray("A.B_F");
    QTest::newRow("host unknown form") << false << QByteArray("EURO/USD") << QByteArray("EURO/USD");
    QTest::newRow("host empty") << false << QByteArray() << QByteArray();

    // Far longer than any real symbol; both parsers match without recursion per character.
    const QByteArray letters(20000, 'A');
    const QByteArray more(100000, 'A');
    QTest::newRow("20000 letters") << true << letters << letters;
    QTest::newRow("100000 letters on CA") << true << more + ".CA" << more + ":TC";
    QTest::newRow("100000 characters of futures") << true << more + "_F" << '@' + more;
    QTest::newRow("host 20000 letters") << false << letters << letters;
    QTest::newRow("host 100000 letters on TC") << false << more + ":TC" << more + ".CA";
    QTest::newRow("host 100000 characters of a class") << false << QByteArray("A.").repeated(49999) + "B"
                                                       << QByteArray("A.").repeated(49999) + "B";
    QTest::newRow("host 100000 characters of futures") << false << '@' + more << more + "_F";
}

void tst_SymbolMapper::translateByRule()
{
    QFETCH(bool, toHost);
    QFETCH(QByteArray, symbol);
    QFETCH(QByteArray, translated);

    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(toHost ? mapper.ventariSymbolToTavSymbol(symbol) : mapper.tavSymbolToVentariSymbol(symbol), translated);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::convertedHostSymbolFields_data()
{
    QTest::addColumn<QByteArray>("vrSymbol");
    QTest::addColumn<QByteArray>("fields");

    QTest::newRow("currency pair") << QByteArray("EURUSD") << QByteArray("2 root= exch= pair=EUR/USD term=1 cont=0");
    QTest::newRow("futures") << QByteArray("ES_F") << QByteArray("4 root=ES exch= pair=/ term=0 cont=1");
    QTest::newRow("toronto stock") << QByteArray("RY.CA") << QByteArray("14 root=RY exch=TC pair=/ term=0 cont=0");
}

void tst_SymbolMapper::convertedHostSymbolFields()
{
    QFETCH(QByteArray, vrSymbol);
    QFETCH(QByteArray, fields);

    const SymbolSharedPtr symbol = parseSymbol(vrSymbol.toStdString());
    QVERIFY(symbol);
    const TavSymbolSharedPtr tavSymbol = convertVentariSymbol(*symbol);
    QVERIFY(tavSymbol);
    QCOMPARE(describe(*tavSymbol), fields);
}

void tst_SymbolMapper::converterChecks()
{
    ReportRecorder recorder;
    QVERIFY(!convertVentariSymbol(IndexSymbol()));
    QCOMPARE(recorder.reportTexts(), QStringList{"s_vrSymbolConverters.count(vrSymbolType) > 0"});
    recorder.clear();

    // A pair without both currencies declines quietly.
    ::Tessel::TavSymbol pair(::Tessel::TavSymbolCurrencyPair);
    pair.setCurrencyBase("EUR");
    QVERIFY(!convertTavSymbol(pair));
    // Continuous type 0 stays unset on the host side and back.
    const TavSymbolSharedPtr futures = convertVentariSymbol(FuturesContinuousSymbol("ES", 0));
    QCOMPARE(futures->futuresContinuousType(), 0);
    QCOMPARE(std::static_pointer_cast<FuturesContinuousSymbol>(convertTavSymbol(*futures))->continuousType(), 0);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::tableLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArrayList>("vrToTav"); // pairs of symbol and translation
    QTest::addColumn<QByteArrayList>("tavToVr");

    QTest::newRow("spaces and comment") << QByteArray("   IBM  |  IBM.X   ; big blue | ignored\n")
                                        << QByteArrayList{"IBM.X", "IBM"} << QByteArrayList{"IBM", "IBM.X"};
    QTest::newRow("three parts") << QByteArray("AAA | BBB.CA | CCC\n") << QByteArrayList{"BBB.CA", "BBB:TC"}
                                 << QByteArrayList{"AAA", "AAA"};
    QTest::newRow("no bar") << QByteArray("AAA BBB.CA\n") << QByteArrayList{"BBB.CA", "BBB:TC"}
                            << QByteArrayList{"AAA BBB.CA", "AAA BBB.CA"};
    QTest::newRow("commented out") << QByteArray("; IBM | IBM.X\n\n   \n") << QByteArrayList{"IBM.X", "IBM.X"}
                                   << QByteArrayList{"IBM", "IBM"};
    QTest::newRow("later lines win") << QByteArray("X1 | AAA\nX2 | AAA\nBBB | Y1\nBBB | Y2\n")
                                     << QByteArrayList{"AAA", "X2", "Y1", "BBB", "Y2", "BBB"}
                                     << QByteArrayList{"BBB", "Y2", "X1", "AAA", "X2", "AAA"};
    QTest::newRow("carriage returns, no last newline")
        << QByteArray("IBM|IBM.X\r\nRY:TC|ROYAL") << QByteArrayList{"IBM.X", "IBM", "ROYAL", "RY:TC"}
        << QByteArrayList{"IBM", "IBM.X", "RY:TC", "ROYAL"};
    QTest::newRow("table over rules") << QByteArray("EUR/USD | EURUSD.X\nXX:TC | RY.CA\n")
                                      << QByteArrayList{"EURUSD.X", "EUR/USD", "RY.CA", "XX:TC"}
                                      << QByteArrayList{"EUR/USD", "EURUSD.X", "RY:TC", "RY.CA"};
}

void tst_SymbolMapper::tableLines()
{
    QFETCH(QByteArray, content);
    QFETCH(QByteArrayList, vrToTav);
    QFETCH(QByteArrayList, tavToVr);

    writeTable(content);
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    for (int i = 0; i + 1 < vrToTav.size(); i += 2)
        QCOMPARE(mapper.ventariSymbolToTavSymbol(vrToTav.at(i)), vrToTav.at(i + 1));
    for (int i = 0; i + 1 < tavToVr.size(); i += 2)
        QCOMPARE(mapper.tavSymbolToVentariSymbol(tavToVr.at(i)), tavToVr.at(i + 1));
    QVERIFY(recorder.isEmpty());
}

// Rules apply until the table arrives. Without a table rules stay, even when one turns up later:
// the request is not repeated. A mapper gone before its answer (plugin unloaded early) is not
// called back.
void tst_SymbolMapper::tableArrivesLater()
{
    ReportRecorder recorder;
    {
        TavSymbolMapper withoutTable;
        QTRY_VERIFY(!withoutTable.isWaitingForTable());
        writeTable("IBM | IBM.X\nROYAL | RY.CA\n");
        QTest::qWait(0);
        QCOMPARE(withoutTable.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM"));
        QCOMPARE(withoutTable.ventariSymbolToTavSymbol("IBM.X"), QByteArray("IBM.X"));
    }
    delete new TavSymbolMapper;
    TavSymbolMapper mapper;
    QVERIFY(mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("RY.CA"), QByteArray("RY:TC"));
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM.X"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("RY.CA"), QByteArray("ROYAL"));
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::shippedTable()
{
    Dravon::setDataDirectory(QStringLiteral(VENTARI_DEMO_DATA_DIR));
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.ventariSymbolToTavSymbol("FB"), QByteArray("META"));
    QCOMPARE(mapper.tavSymbolToVentariSymbol("BTC/USD"), QByteArray("BTC.X"));
    QVERIFY(recorder.isEmpty());
}

// The folder set in code, else $DRAVON_DATA_DIR, else "data" beside the application.
void tst_SymbolMapper::dataDirectory()
{
    qputenv("DRAVON_DATA_DIR", "/from/environment");
    QCOMPARE(Dravon::dataDirectory(), m_dataDir.path());
    Dravon::setDataDirectory(QString());
    QCOMPARE(Dravon::dataDirectory(), QStringLiteral("/from/environment"));
    qunsetenv("DRAVON_DATA_DIR");
    QCOMPARE(Dravon::dataDirectory(), QCoreApplication::applicationDirPath() + QStringLiteral("/data"));
}

void tst_SymbolMapper::timezone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<int>("gmtDate");
    QTest::addColumn<int>("gmtTime");
    QTest::addColumn<int>("localDate");
    QTest::addColumn<int>("localTime");

    QTest::newRow("winter") << QByteArray("Europe/Berlin") << 20240115 << 120000000 << 20240115 << 130000000;
    QTest::newRow("summer, ms") << QByteArray("Europe/Berlin") << 20240715 << 120000250 << 20240715 << 140000250;
    QTest::newRow("new year") << QByteArray("Europe/Berlin") << 20241231 << 233000000 << 20250101 << 3000000;
    QTest::newRow("dst starts") << QByteArray("America/New_York") << 20240310 << 70000000 << 20240310 << 30000000;
    QTest::newRow("day before") << QByteArray("America/New_York") << 20240701 << 30000 << 20240630 << 200030000;
    QTest::newRow("windows id") << QByteArray("W. Europe Standard Time") << 20240715 << 120000000 << 20240715
                                << 140000000;
    QTest::newRow("unknown is utc") << QByteArray("Mars/Olympus_Mons") << 20240715 << 120000000 << 20240715
                                    << 120000000;
    // No local time for what is no time (0: a null one).
    QTest::newRow("null") << QByteArray("Europe/Berlin") << 0 << 0 << 0 << 0;
    QTest::newRow("month 13") << QByteArray("Europe/Berlin") << 20241345 << 120000000 << 0 << 0;
    QTest::newRow("hour 25") << QByteArray("Europe/Berlin") << 20240101 << 250000000 << 0 << 0;
}

void tst_SymbolMapper::timezone()
{
    QFETCH(QByteArray, zone);
    QFETCH(int, gmtDate);
    QFETCH(int, gmtTime);
    QFETCH(int, localDate);
    QFETCH(int, localTime);

    const Common::DateTime gmt = gmtDate ? Common::DateTime(gmtTime, gmtDate) : Common::DateTime::fromQDateTime(QDateTime());
    QVERIFY(gmt.isNull() == (gmtDate == 0) && gmt.date == gmtDate && gmt.time == gmtTime);
    const Common::DateTime local = Dravon::Timezone(zone).gmtToLocal(gmt);
    QCOMPARE(local.isNull(), localDate == 0);
    QCOMPARE(local.date, localDate);
    QCOMPARE(local.time, localTime);
}

QTEST_GUILESS_MAIN(tst_SymbolMapper)
#include "tst_symbolmapper.moc"
