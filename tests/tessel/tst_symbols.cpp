#include "testsupport.h"

#include "tessel/forexsymbol.h"
#include "tessel/futurescontinuoussymbol.h"
#include "tessel/stocksymbol.h"
#include "tessel/symbolparser.h"

#include <QtTest/QtTest>

using namespace Ventari::Tessel;

namespace {

QString text(const std::string& value)
{
    return QString::fromStdString(value);
}

// "forex EUR/USD EURUSD FX", "futures ES 1", "stock RY [CA]": a parsed symbol as one comparable text.
QString describe(const SymbolSharedPtr& symbol)
{
    if (const auto forex = std::dynamic_pointer_cast<ForexSymbol>(symbol)) {
        return QStringLiteral("forex %1/%2 %3 %4")
            .arg(text(forex->currencyPair().first), text(forex->currencyPair().second), text(forex->name()),
                 text(forex->exchange()));
    }
    if (const auto futures = std::dynamic_pointer_cast<FuturesContinuousSymbol>(symbol))
        return QStringLiteral("futures %1 %2").arg(text(futures->name())).arg(futures->continuousType());
    if (const auto stock = std::dynamic_pointer_cast<StockSymbol>(symbol))
        return QStringLiteral("stock %1 [%2]").arg(text(stock->name()), text(stock->exchange()));
    return symbol ? QStringLiteral("unknown") : QStringLiteral("null");
}

} // namespace

// The service's symbol notation: parsing, printing and the forex pair checks.
class tst_Symbols : public QObject
{
    Q_OBJECT

private slots:
    void parseSymbol_data();
    void parseSymbol();
    void toString();
};

void tst_Symbols::parseSymbol_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");
    QTest::addColumn<QString>("printed");

    QTest::newRow("currency pair") << "EURUSD" << "forex EUR/USD EURUSD FX" << "EURUSD";
    // Forex is tried first, so six letters are a pair whatever they mean.
    QTest::newRow("six-letter ticker") << "GOOGLE" << "forex GOO/GLE GOOGLE FX" << "GOOGLE";
    QTest::newRow("case kept") << "eurUsd" << "forex eur/Usd eurUsd FX" << "eurUsd";
    QTest::newRow("seven letters") << "ABCDEFG" << "stock ABCDEFG []" << "ABCDEFG";
    QTest::newRow("futures") << "ES_F" << "futures ES 1" << "ES_F";
    QTest::newRow("futures with colon") << "CL:NYM_F" << "futures CL:NYM 1" << "CL:NYM_F";
    QTest::newRow("futures with dot") << "A.B_F" << "futures A.B 1" << "A.B_F";
    QTest::newRow("futures without name") << "_F" << "null" << "";
    QTest::newRow("other suffix") << "ES_G" << "null" << "";
    QTest::newRow("stock") << "AAPL" << "stock AAPL []" << "AAPL";
    QTest::newRow("dash class") << "BRK-B" << "stock BRK.B []" << "BRK.B";
    QTest::newRow("CA exchange") << "RY.CA" << "stock RY [CA]" << "RY.CA";
    QTest::newRow("class and CA") << "ABC.B.CA" << "stock ABC.B [CA]" << "ABC.B.CA";
    QTest::newRow("CA in the middle") << "ABC.CA.B" << "stock ABC.CA.B []" << "ABC.CA.B";
    QTest::newRow("lower-case ca") << "RY.ca" << "stock RY.ca []" << "RY.ca";
    QTest::newRow("four parts") << "AB.CD.EF.GH" << "null" << "";
    QTest::newRow("empty part") << "AB..C" << "null" << "";
    QTest::newRow("digits") << "123" << "null" << "";
    QTest::newRow("dollars") << "$$$" << "null" << "";
    QTest::newRow("empty") << "" << "null" << "";

    // Far longer than any real symbol: matched in a loop, not by recursion per character.
    const QString letters(20000, QLatin1Char('A'));
    const QString more(100000, QLatin1Char('A'));
    QTest::newRow("20000 letters") << letters << "stock " + letters + " []" << letters;
    QTest::newRow("100000 letters") << more << "stock " + more + " []" << more;
    QTest::newRow("100000 letters on CA") << more + ".CA" << "stock " + more + " [CA]" << more + ".CA";
    QTest::newRow("100000 characters of futures") << more + "_F" << "futures " + more + " 1" << more + "_F";
    QTest::newRow("100000 dotted letters")
        << QStringLiteral("A.").repeated(50000) + "_F" << "futures " + QStringLiteral("A.").repeated(50000) + " 1"
        << QStringLiteral("A.").repeated(50000) + "_F";
    QTest::newRow("100000 letters and a dollar") << more + "$" << "null" << "";
}

void tst_Symbols::parseSymbol()
{
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    QFETCH(QString, printed);

    ReportRecorder recorder;
    const SymbolSharedPtr symbol = Ventari::Tessel::parseSymbol(text.toStdString());
    QCOMPARE(describe(symbol), parsed);
    if (symbol)
        QCOMPARE(QString::fromStdString(symbol->toString()), printed);
    QVERIFY(recorder.isEmpty());
}

// Incomplete symbols print as nothing; other exchanges print as they are.
void tst_Symbols::toString()
{
    QCOMPARE(StockSymbol("", "CA").toString(), std::string());
    QCOMPARE(StockSymbol("IBM", "NYSE").toString(), std::string("IBM.NYSE"));
    QCOMPARE(FuturesContinuousSymbol("ES", 0).toString(), std::string());
    QCOMPARE(FuturesContinuousSymbol("", 1).toString(), std::string());
}

QTEST_GUILESS_MAIN(tst_Symbols)
#include "tst_symbols.moc"
