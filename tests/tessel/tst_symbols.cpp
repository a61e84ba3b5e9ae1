#include "testsupport.h"

#include "tessel/forexsymbol.h"
#include "tessel/futurescontinuoussymbol.h"
#include "tessel/stocksymbol.h"
#include "tessel/symbolparser.h"

#include <QtTest/QtTest>

using namespace Ventari::Tessel;

Q_DECLARE_METATYPE(Ventari::Tessel::SymbolSharedPtr)

namespace {

// "forex EUR/USD", "futures ES 1", "stock RY CA": the parsed symbol in one comparable text.
QString describe(const SymbolSharedPtr& symbol)
{
    if (!symbol)
        return QStringLiteral("null");
    if (typeid(*symbol) == typeid(ForexSymbol)) {
        const auto& forex = static_cast<const ForexSymbol&>(*symbol);
        return QStringLiteral("forex %1/%2 %3 %4")
            .arg(QString::fromStdString(forex.currencyPair().first),
                 QString::fromStdString(forex.currencyPair().second), QString::fromStdString(forex.name()),
                 QString::fromStdString(forex.exchange()));
    }
    if (typeid(*symbol) == typeid(FuturesContinuousSymbol)) {
        const auto& futures = static_cast<const FuturesContinuousSymbol&>(*symbol);
        return QStringLiteral("futures %1 %2 [%3]")
            .arg(QString::fromStdString(futures.name()))
            .arg(futures.continuousType())
            .arg(QString::fromStdString(futures.exchange()));
    }
    if (typeid(*symbol) == typeid(StockSymbol)) {
        const auto& stock = static_cast<const StockSymbol&>(*symbol);
        return QStringLiteral("stock %1 [%2]")
            .arg(QString::fromStdString(stock.name()), QString::fromStdString(stock.exchange()));
    }
    return QStringLiteral("unknown");
}

} // namespace

// The service's symbol notation: parsing, printing and the forex pair checks.
class tst_Symbols : public QObject
{
    Q_OBJECT

private slots:
    void parseSymbol_data();
    void parseSymbol();
    void parsersAreTriedInOrder();
    void toString_data();
    void toString();
    void forexChecks_data();
    void forexChecks();
};

void tst_Symbols::parseSymbol_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed");
    QTest::addColumn<QString>("printed");

    QTest::newRow("currency pair") << "EURUSD" << "forex EUR/USD EURUSD FX" << "EURUSD";
    QTest::newRow("six-letter ticker") << "GOOGLE" << "forex GOO/GLE GOOGLE FX" << "GOOGLE";
    QTest::newRow("case kept") << "eurUsd" << "forex eur/Usd eurUsd FX" << "eurUsd";
    QTest::newRow("six with digit") << "EURUS1" << "null" << "";
    QTest::newRow("seven letters") << "ABCDEFG" << "stock ABCDEFG []" << "ABCDEFG";

    QTest::newRow("futures") << "ES_F" << "futures ES 1 []" << "ES_F";
    QTest::newRow("futures with colon") << "CL:NYM_F" << "futures CL:NYM 1 []" << "CL:NYM_F";
    QTest::newRow("futures with dot") << "A.B_F" << "futures A.B 1 []" << "A.B_F";
    QTest::newRow("futures with digits") << "6E_F" << "futures 6E 1 []" << "6E_F";
    QTest::newRow("underscore in name") << "ES_F_F" << "futures ES_F 1 []" << "ES_F_F";
    QTest::newRow("futures without name") << "_F" << "null" << "";
    QTest::newRow("other suffix") << "ES_G" << "null" << "";
    QTest::newRow("lower-case suffix") << "ES_f" << "null" << "";

    QTest::newRow("stock") << "AAPL" << "stock AAPL []" << "AAPL";
    QTest::newRow("dash class") << "BRK-B" << "stock BRK.B []" << "BRK.B";
    QTest::newRow("dot class") << "BRK.B" << "stock BRK.B []" << "BRK.B";
    QTest::newRow("CA exchange") << "RY.CA" << "stock RY [CA]" << "RY.CA";
    QTest::newRow("CA after dash") << "RY-CA" << "stock RY [CA]" << "RY.CA";
    QTest::newRow("class and CA") << "ABC.B.CA" << "stock ABC.B [CA]" << "ABC.B.CA";
    QTest::newRow("CA in the middle") << "ABC.CA.B" << "stock ABC.CA.B []" << "ABC.CA.B";
    QTest::newRow("lower-case ca") << "RY.ca" << "stock RY.ca []" << "RY.ca";
    QTest::newRow("other exchange") << "VOD.L" << "stock VOD.L []" << "VOD.L";
    QTest::newRow("CA alone") << "CA" << "stock CA []" << "CA";
    QTest::newRow("four parts") << "AB.CD.EF.GH" << "null" << "";
    QTest::newRow("empty part") << "AB..C" << "null" << "";
    QTest::newRow("trailing dot") << "AB." << "null" << "";
    QTest::newRow("digits") << "123" << "null" << "";
    QTest::newRow("letters and digits") << "AAPL1" << "null" << "";
    QTest::newRow("dollars") << "$$$" << "null" << "";
    QTest::newRow("space around") << " AAPL" << "null" << "";
    QTest::newRow("empty") << "" << "null" << "";
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

// Each parser alone would accept texts that an earlier one claims.
void tst_Symbols::parsersAreTriedInOrder()
{
    QCOMPARE(describe(StockSymbol::parse("GOOGLE")), QStringLiteral("stock GOOGLE []"));
    QCOMPARE(describe(Ventari::Tessel::parseSymbol("GOOGLE")), QStringLiteral("forex GOO/GLE GOOGLE FX"));
    QCOMPARE(describe(ForexSymbol::parse("ES_F")), QStringLiteral("null"));
    QCOMPARE(describe(StockSymbol::parse("ES_F")), QStringLiteral("null"));
    QCOMPARE(describe(FuturesContinuousSymbol::parse("AAPL")), QStringLiteral("null"));
}

void tst_Symbols::toString_data()
{
    QTest::addColumn<SymbolSharedPtr>("symbol");
    QTest::addColumn<QString>("printed");

    QTest::newRow("stock") << SymbolSharedPtr(std::make_shared<StockSymbol>("AAPL", "")) << "AAPL";
    QTest::newRow("stock with exchange") << SymbolSharedPtr(std::make_shared<StockSymbol>("RY", "CA")) << "RY.CA";
    QTest::newRow("stock with other exchange")
        << SymbolSharedPtr(std::make_shared<StockSymbol>("IBM", "NYSE")) << "IBM.NYSE";
    QTest::newRow("stock without name") << SymbolSharedPtr(std::make_shared<StockSymbol>("", "CA")) << "";
    QTest::newRow("futures type 1") << SymbolSharedPtr(std::make_shared<FuturesContinuousSymbol>("ES", 1)) << "ES_F";
    QTest::newRow("futures type 0") << SymbolSharedPtr(std::make_shared<FuturesContinuousSymbol>("ES", 0)) << "";
    QTest::newRow("futures type 2") << SymbolSharedPtr(std::make_shared<FuturesContinuousSymbol>("ES", 2)) << "ES_";
    QTest::newRow("futures without name")
        << SymbolSharedPtr(std::make_shared<FuturesContinuousSymbol>("", 1)) << "";
    QTest::newRow("forex")
        << SymbolSharedPtr(std::make_shared<ForexSymbol>(ForexSymbol::CurrencyPair("GBP", "JPY"))) << "GBPJPY";
}

void tst_Symbols::toString()
{
    QFETCH(SymbolSharedPtr, symbol);
    QFETCH(QString, printed);
    QCOMPARE(QString::fromStdString(symbol->toString()), printed);
}

void tst_Symbols::forexChecks_data()
{
    QTest::addColumn<QString>("base");
    QTest::addColumn<QString>("quote");
    QTest::addColumn<QStringList>("reports");

    const QString first = QStringLiteral("currencyPair.first.length() == currencyStringLength");
    const QString second = QStringLiteral("currencyPair.second.length() == currencyStringLength");
    QTest::newRow("both three") << "EUR" << "USD" << QStringList();
    QTest::newRow("long base") << "EURO" << "USD" << QStringList{first};
    QTest::newRow("short quote") << "EUR" << "US" << QStringList{second};
    QTest::newRow("both empty") << "" << "" << QStringList{first, second};
}

// A pair of the wrong length is reported and still built as given.
void tst_Symbols::forexChecks()
{
    QFETCH(QString, base);
    QFETCH(QString, quote);
    QFETCH(QStringList, reports);

    ReportRecorder recorder;
    const ForexSymbol symbol(ForexSymbol::CurrencyPair(base.toStdString(), quote.toStdString()));
    QCOMPARE(recorder.reportTexts(), reports);
    for (const Corvane::Report& report : recorder.reports()) {
        QCOMPARE(report.kind, Corvane::Report::Assertion);
        QCOMPARE(report.file, QStringLiteral("tessel/forexsymbol"));
        QCOMPARE(report.function, QStringLiteral("Ventari::Tessel::ForexSymbol::ForexSymbol"));
    }
    QCOMPARE(QString::fromStdString(symbol.name()), base + quote);
    QCOMPARE(QString::fromStdString(symbol.exchange()), QStringLiteral("FX"));
    QCOMPARE(QString::fromStdString(symbol.currencyPair().first), base);
    QCOMPARE(QString::fromStdString(symbol.currencyPair().second), quote);
    QCOMPARE(QString::fromStdString(symbol.toString()), base + quote);
}

QTEST_GUILESS_MAIN(tst_Symbols)
#include "tst_symbols.moc"
