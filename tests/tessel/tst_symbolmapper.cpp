#include "testsupport.h"

#include "tessel/forexsymbol.h"
#include "tessel/futurescontinuoussymbol.h"
#include "tessel/stocksymbol.h"
#include "tessel/symbolconverters.h"
#include "tessel/symbolparser.h"
#include "tessel/tavsymbolmapper.h"

#include <dravon/requester.h>
#include <dravon/timezone.h>
#include <tessel/tavsymbol.h>

#include <QtTest/QtTest>

using Ventari::Tessel::TavSymbolMapper;

namespace {

// A service symbol class that no converter knows.
class IndexSymbol final : public Ventari::Tessel::Symbol
{
public:
    IndexSymbol() : Symbol("SPX") {}
    std::string toString() const override { return "$" + name(); }
};

// Collects what a requester delivers; may drop the requester from its handler as the mapper does.
struct Receiver
{
    Dravon::RequesterSharedPtr* owner = nullptr;
    QStringList deliveries;
    int lastRequestId = 0;

    void onError(int requestId, const Dravon::ErrorResponse& response)
    {
        lastRequestId = requestId;
        deliveries << QStringLiteral("error: ") + response.reason();
        if (owner)
            owner->reset();
    }
    void onContent(int requestId, const Dravon::EncryptedContentResponse& response)
    {
        lastRequestId = requestId;
        deliveries << QStringLiteral("content: ") + QString::fromUtf8(response.content());
        if (owner)
            owner->reset();
    }
};

Dravon::RequesterSharedPtr makeRequester(const QByteArray& fileName, Receiver* receiver,
                                         const QByteArray& key = QByteArray())
{
    auto requester = std::make_shared<Dravon::Requester>(Dravon::EncryptedContentRequest(fileName, key));
    requester->bind(Dravon::ErrorResponse::registeredType(),
                    std::make_shared<Dravon::Messaging::Binding<Receiver, Dravon::ErrorResponse>>(
                        receiver, &Receiver::onError));
    requester->bind(Dravon::EncryptedContentResponse::registeredType(),
                    std::make_shared<Dravon::Messaging::Binding<Receiver, Dravon::EncryptedContentResponse>>(
                        receiver, &Receiver::onContent));
    return requester;
}

QByteArray describe(const ::Tessel::TavSymbol& symbol)
{
    return QStringLiteral("%1 root=%2 exch=%3 pair=%4/%5 term=%6 cont=%7")
        .arg(symbol.type())
        .arg(QString::fromStdString(symbol.root()), QString::fromStdString(symbol.exchange()),
             QString::fromStdString(symbol.currencyBase()), QString::fromStdString(symbol.currencyQuote()))
        .arg(symbol.termType())
        .arg(symbol.futuresContinuousType())
        .toUtf8();
}

} // namespace

// Host notation, the data library stand-in and the symbol mapper over table and rules.
class tst_SymbolMapper : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void hostNotation_data();
    void hostNotation();
    void hostSymbolsPrintOnlyWhenComplete();

    void requesterDeliversContentLater();
    void requesterAnswersErrors_data();
    void requesterAnswersErrors();
    void requesterMayBeDroppedByItsReceiver();
    void requesterDestroyedBeforeAnswerDeliversNothing();
    void dataDirectoryFromEnvironment();
    void messagesRegisterAndCopy();

    void qtIdentity();
    void serviceToHostByRule_data();
    void serviceToHostByRule();
    void hostToServiceByRule_data();
    void hostToServiceByRule();
    void roundTrips_data();
    void roundTrips();
    void convertedHostSymbolFields_data();
    void convertedHostSymbolFields();
    void converterChecks();
    void tableLines_data();
    void tableLines();
    void rulesApplyUntilTheTableArrives();
    void missingTableLeavesRules();
    void shippedTable();

    void timezone_data();
    void timezone();
    void dateTimeValue();

private:
    QTemporaryDir m_dataDir;
    void writeTable(const QByteArray& content);
};

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
    Dravon::setDataDirectory(m_dataDir.path());
}

// --- host notation ---------------------------------------------------------------------------

void tst_SymbolMapper::hostNotation_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<int>("givenType");
    QTest::addColumn<QByteArray>("parsed");

    QTest::newRow("stock") << QByteArray("AAPL") << 0 << QByteArray("14 root=AAPL exch= pair=/ term=0 cont=0");
    QTest::newRow("stock on exchange") << QByteArray("RY:TC") << 0 << QByteArray("14 root=RY exch=TC pair=/ term=0 cont=0");
    QTest::newRow("share class") << QByteArray("BRK.B") << 0 << QByteArray("14 root=BRK.B exch= pair=/ term=0 cont=0");
    QTest::newRow("numeric root") << QByteArray("7203:T") << 0 << QByteArray("14 root=7203 exch=T pair=/ term=0 cont=0");
    QTest::newRow("currency pair") << QByteArray("EUR/USD") << 0 << QByteArray("2 root= exch= pair=EUR/USD term=1 cont=0");
    QTest::newRow("futures") << QByteArray("@ES") << 0 << QByteArray("4 root=ES exch= pair=/ term=0 cont=1");
    QTest::newRow("futures with colon") << QByteArray("@CL:NYM") << 0 << QByteArray("4 root=CL:NYM exch= pair=/ term=0 cont=1");
    QTest::newRow("given type") << QByteArray("@ES") << 4 << QByteArray("4 root=ES exch= pair=/ term=0 cont=1");
    QTest::newRow("given type, other form") << QByteArray("EUR/USD") << 14 << QByteArray("14 root= exch= pair=/ term=0 cont=0");
    QTest::newRow("long currency") << QByteArray("EURO/USD") << 0 << QByteArray("0 root= exch= pair=/ term=0 cont=0");
    QTest::newRow("two exchanges") << QByteArray("RY:TC:X") << 0 << QByteArray("0 root= exch= pair=/ term=0 cont=0");
    QTest::newRow("bare at") << QByteArray("@") << 0 << QByteArray("0 root= exch= pair=/ term=0 cont=0");
    QTest::newRow("empty") << QByteArray() << 0 << QByteArray("0 root= exch= pair=/ term=0 cont=0");
}

void tst_SymbolMapper::hostNotation()
{
    QFETCH(QByteArray, text);
    QFETCH(int, givenType);
    QFETCH(QByteArray, parsed);

    const ::Tessel::Date today = ::Tessel::Date::currentDate();
    const ::Tessel::TavSymbol symbol(text.toStdString(), ::Tessel::TavSymbolType(givenType), today);
    QCOMPARE(describe(symbol), parsed);
    QVERIFY(symbol.date() == today);
    // A symbol read from its own form prints that form back.
    if (!symbol.root().empty() || !symbol.currencyBase().empty())
        QCOMPARE(QByteArray::fromStdString(symbol.toString()), text);
    else
        QCOMPARE(QByteArray::fromStdString(symbol.toString()), QByteArray());
}

void tst_SymbolMapper::hostSymbolsPrintOnlyWhenComplete()
{
    ::Tessel::TavSymbol pair(::Tessel::TavSymbolCurrencyPair);
    pair.setCurrencyBase("EUR");
    pair.setCurrencyQuote("USD");
    QCOMPARE(pair.toString(), std::string());
    pair.setTermType(1);
    QCOMPARE(pair.toString(), std::string("EUR/USD"));

    ::Tessel::TavSymbol futures(::Tessel::TavSymbolFuturesContinuous);
    futures.setRoot("ES");
    QCOMPARE(futures.toString(), std::string());
    futures.setFuturesContinuousType(1);
    QCOMPARE(futures.toString(), std::string("@ES"));

    ::Tessel::TavSymbol stock(::Tessel::TavSymbolStock);
    stock.setExchange("TC");
    QCOMPARE(stock.toString(), std::string());
    stock.setRoot("RY");
    QCOMPARE(stock.toString(), std::string("RY:TC"));

    ::Tessel::TavSymbol unknown;
    unknown.setRoot("RY");
    QCOMPARE(unknown.toString(), std::string());
}

// --- data library ----------------------------------------------------------------------------

void tst_SymbolMapper::requesterDeliversContentLater()
{
    QFile file(m_dataDir.filePath(QStringLiteral("content.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("plain text\n");
    file.close();
    Dravon::setDataDirectory(m_dataDir.path());

    Receiver receiver;
    const Dravon::RequesterSharedPtr requester = makeRequester("content.txt", &receiver);
    requester->setReceiverName("Receiver");
    requester->start();
    QVERIFY(receiver.deliveries.isEmpty());
    QTRY_COMPARE(receiver.deliveries, QStringList{QStringLiteral("content: plain text\n")});
    QCOMPARE(receiver.lastRequestId, requester->requestId());
    QVERIFY(requester->requestId() > 0);
    QCOMPARE(requester->receiverName(), QByteArray("Receiver"));

    requester->start();
    QTRY_COMPARE(receiver.deliveries.size(), 2);
    QCOMPARE(receiver.lastRequestId, requester->requestId());
}

void tst_SymbolMapper::requesterAnswersErrors_data()
{
    QTest::addColumn<QByteArray>("fileName");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QString>("reasonStart");

    QTest::newRow("missing file") << QByteArray("missing.ctab") << QByteArray() << "Cannot open ";
    QTest::newRow("folder") << QByteArray("sub") << QByteArray() << "Cannot open ";
    QTest::newRow("path outside") << QByteArray("../missing.ctab") << QByteArray()
                                  << "Invalid content file name \"../missing.ctab\"";
    QTest::newRow("empty name") << QByteArray() << QByteArray() << "Invalid content file name \"\"";
    QTest::newRow("unknown key") << QByteArray("missing.ctab") << QByteArray("k1")
                                 << "Unknown key \"k1\" for missing.ctab";
}

void tst_SymbolMapper::requesterAnswersErrors()
{
    QFETCH(QByteArray, fileName);
    QFETCH(QByteArray, key);
    QFETCH(QString, reasonStart);

    QVERIFY(QDir(m_dataDir.path()).mkpath(QStringLiteral("sub")));
    Dravon::setDataDirectory(m_dataDir.path());
    Receiver receiver;
    const Dravon::RequesterSharedPtr requester = makeRequester(fileName, &receiver, key);
    requester->start();
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    const QString delivery = receiver.deliveries.first();
    QVERIFY2(delivery.startsWith(QStringLiteral("error: ") + reasonStart), qPrintable(delivery));
    if (reasonStart.startsWith(QStringLiteral("Cannot")))
        QVERIFY(delivery.contains(QString::fromUtf8(fileName)));
}

void tst_SymbolMapper::requesterMayBeDroppedByItsReceiver()
{
    Dravon::setDataDirectory(m_dataDir.path());
    Receiver receiver;
    Dravon::RequesterSharedPtr requester = makeRequester("missing.ctab", &receiver);
    QPointer<Dravon::Requester> watched(requester.get());
    receiver.owner = &requester;
    requester->start();
    QTRY_COMPARE(receiver.deliveries.size(), 1);
    QVERIFY(!requester);
    QVERIFY(watched.isNull());
}

void tst_SymbolMapper::requesterDestroyedBeforeAnswerDeliversNothing()
{
    Receiver receiver;
    Dravon::RequesterSharedPtr requester = makeRequester("missing.ctab", &receiver);
    requester->start();
    requester.reset();
    // A second requester started later is answered after the first one would have been.
    Receiver later;
    const Dravon::RequesterSharedPtr next = makeRequester("missing.ctab", &later);
    next->start();
    QTRY_COMPARE(later.deliveries.size(), 1);
    QVERIFY(receiver.deliveries.isEmpty());
}

void tst_SymbolMapper::dataDirectoryFromEnvironment()
{
    qputenv("DRAVON_DATA_DIR", m_dataDir.path().toUtf8());
    QCOMPARE(Dravon::dataDirectory(), m_dataDir.path());
    Dravon::setDataDirectory(QStringLiteral("/elsewhere"));
    QCOMPARE(Dravon::dataDirectory(), QStringLiteral("/elsewhere"));
    Dravon::setDataDirectory(QString());
    qunsetenv("DRAVON_DATA_DIR");
    QCOMPARE(Dravon::dataDirectory(), QCoreApplication::applicationDirPath() + QStringLiteral("/data"));
}

void tst_SymbolMapper::messagesRegisterAndCopy()
{
    QCOMPARE(QMetaType::type("EncryptedContentRequest"), Dravon::EncryptedContentRequest::registeredType());
    QCOMPARE(QMetaType::type("EncryptedContentResponse"), Dravon::EncryptedContentResponse::registeredType());
    QCOMPARE(QMetaType::type("ErrorResponse"), Dravon::ErrorResponse::registeredType());
    QVERIFY(Dravon::ErrorResponse::registeredType() != Dravon::EncryptedContentResponse::registeredType());

    const Dravon::EncryptedContentRequest request("a.ctab", "k");
    const std::unique_ptr<Dravon::Request> requestCopy(request.clone());
    const auto* typedRequest = dynamic_cast<const Dravon::EncryptedContentRequest*>(requestCopy.get());
    QVERIFY(typedRequest);
    QCOMPARE(typedRequest->fileName(), QByteArray("a.ctab"));
    QCOMPARE(typedRequest->key(), QByteArray("k"));
    QCOMPARE(requestCopy->type(), Dravon::EncryptedContentRequest::registeredType());

    const Dravon::ErrorResponse error(QStringLiteral("gone"));
    const std::unique_ptr<Dravon::Response> errorCopy(error.clone());
    QCOMPARE(errorCopy->type(), Dravon::ErrorResponse::registeredType());
    QCOMPARE(dynamic_cast<const Dravon::ErrorResponse&>(*errorCopy).reason(), QStringLiteral("gone"));
}

// --- symbol mapper -----------------------------------------------------------------------------

void tst_SymbolMapper::qtIdentity()
{
    Dravon::setDataDirectory(m_dataDir.path());
    TavSymbolMapper mapper;
    QCOMPARE(mapper.metaObject()->className(), "Ventari::Tessel::TavSymbolMapper");
    Ventari::Tessel::ITavSymbolMapper* const interface = &mapper;
    QCOMPARE(mapper.qt_metacast("ITavSymbolMapper"), static_cast<void*>(interface));
    QCOMPARE(qobject_cast<Ventari::Tessel::ITavSymbolMapper*>(&mapper), interface);
}

void tst_SymbolMapper::serviceToHostByRule_data()
{
    QTest::addColumn<QByteArray>("vrSymbol");
    QTest::addColumn<QByteArray>("tavSymbol");

    QTest::newRow("toronto stock") << QByteArray("RY.CA") << QByteArray("RY:TC");
    QTest::newRow("class on toronto") << QByteArray("ABC.B.CA") << QByteArray("ABC.B:TC");
    QTest::newRow("stock") << QByteArray("AAPL") << QByteArray("AAPL");
    QTest::newRow("dash class") << QByteArray("BRK-B") << QByteArray("BRK.B");
    QTest::newRow("currency pair") << QByteArray("EURUSD") << QByteArray("EUR/USD");
    QTest::newRow("six letters") << QByteArray("GOOGLE") << QByteArray("GOO/GLE");
    QTest::newRow("futures") << QByteArray("ES_F") << QByteArray("@ES");
    QTest::newRow("futures with colon") << QByteArray("CL:NYM_F") << QByteArray("@CL:NYM");
    QTest::newRow("not a futures suffix") << QByteArray("ES_G") << QByteArray("ES_G");
    QTest::newRow("dollars") << QByteArray("$$$") << QByteArray("$$$");
    QTest::newRow("four parts") << QByteArray("AB.CD.EF.GH") << QByteArray("AB.CD.EF.GH");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_SymbolMapper::serviceToHostByRule()
{
    QFETCH(QByteArray, vrSymbol);
    QFETCH(QByteArray, tavSymbol);

    Dravon::setDataDirectory(m_dataDir.path());
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.ventariSymbolToTavSymbol(vrSymbol), tavSymbol);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::hostToServiceByRule_data()
{
    QTest::addColumn<QByteArray>("tavSymbol");
    QTest::addColumn<QByteArray>("vrSymbol");

    QTest::newRow("toronto stock") << QByteArray("RY:TC") << QByteArray("RY.CA");
    QTest::newRow("other exchange") << QByteArray("IBM:NYSE") << QByteArray("IBM.NYSE");
    QTest::newRow("stock") << QByteArray("AAPL") << QByteArray("AAPL");
    QTest::newRow("currency pair") << QByteArray("EUR/USD") << QByteArray("EURUSD");
    QTest::newRow("futures") << QByteArray("@ES") << QByteArray("ES_F");
    QTest::newRow("long currency") << QByteArray("EURO/USD") << QByteArray("EURO/USD");
    QTest::newRow("no form") << QByteArray("ES_F") << QByteArray("ES_F");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_SymbolMapper::hostToServiceByRule()
{
    QFETCH(QByteArray, tavSymbol);
    QFETCH(QByteArray, vrSymbol);

    Dravon::setDataDirectory(m_dataDir.path());
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol(tavSymbol), vrSymbol);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::roundTrips_data()
{
    QTest::addColumn<QByteArray>("tavSymbol");
    QTest::addColumn<QByteArray>("vrSymbol");

    QTest::newRow("stock") << QByteArray("BRK.B") << QByteArray("BRK.B");
    QTest::newRow("toronto stock") << QByteArray("RY:TC") << QByteArray("RY.CA");
    QTest::newRow("currency pair") << QByteArray("GBP/JPY") << QByteArray("GBPJPY");
    QTest::newRow("futures") << QByteArray("@ES") << QByteArray("ES_F");
    QTest::newRow("futures with dot") << QByteArray("@A.B") << QByteArray("A.B_F");
}

// Host -> service -> host gives the host symbol back for every convertible type.
void tst_SymbolMapper::roundTrips()
{
    QFETCH(QByteArray, tavSymbol);
    QFETCH(QByteArray, vrSymbol);

    Dravon::setDataDirectory(m_dataDir.path());
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol(tavSymbol), vrSymbol);
    QCOMPARE(mapper.ventariSymbolToTavSymbol(vrSymbol), tavSymbol);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::convertedHostSymbolFields_data()
{
    QTest::addColumn<QByteArray>("vrSymbol");
    QTest::addColumn<QByteArray>("fields");

    QTest::newRow("currency pair") << QByteArray("EURUSD") << QByteArray("2 root= exch= pair=EUR/USD term=1 cont=0");
    QTest::newRow("futures") << QByteArray("ES_F") << QByteArray("4 root=ES exch= pair=/ term=0 cont=1");
    QTest::newRow("toronto stock") << QByteArray("RY.CA") << QByteArray("14 root=RY exch=TC pair=/ term=0 cont=0");
    QTest::newRow("stock") << QByteArray("AAPL") << QByteArray("14 root=AAPL exch= pair=/ term=0 cont=0");
}

void tst_SymbolMapper::convertedHostSymbolFields()
{
    QFETCH(QByteArray, vrSymbol);
    QFETCH(QByteArray, fields);

    const Ventari::Tessel::SymbolSharedPtr symbol = Ventari::Tessel::parseSymbol(vrSymbol.toStdString());
    QVERIFY(symbol);
    const Ventari::Tessel::TavSymbolSharedPtr tavSymbol = Ventari::Tessel::convertVentariSymbol(*symbol);
    QVERIFY(tavSymbol);
    QCOMPARE(describe(*tavSymbol), fields);
}

void tst_SymbolMapper::converterChecks()
{
    using namespace Ventari::Tessel;
    ReportRecorder recorder;

    QVERIFY(!convertVentariSymbol(IndexSymbol()));
    QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("s_vrSymbolConverters.count(vrSymbolType) > 0")});
    QCOMPARE(recorder.reports().first().file, QStringLiteral("tessel/symbolconverters"));
    QCOMPARE(recorder.reports().first().function, QStringLiteral("Ventari::Tessel::convertVentariSymbol"));
    recorder.clear();

    QVERIFY(!tavForexSymbolConverter(nullptr));
    QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("tavSymbol != NULL")});
    recorder.clear();

    // A pair without both currencies declines quietly, and so does a type without converter.
    ::Tessel::TavSymbol pair(::Tessel::TavSymbolCurrencyPair);
    pair.setCurrencyBase("EUR");
    QVERIFY(!convertTavSymbol(pair));
    QVERIFY(!convertTavSymbol(::Tessel::TavSymbol(::Tessel::TavSymbolUnknown)));
    QVERIFY(recorder.isEmpty());

    // Continuous type 0 stays unset on the host side and back.
    const TavSymbolSharedPtr futures = convertVentariSymbol(FuturesContinuousSymbol("ES", 0));
    QCOMPARE(futures->futuresContinuousType(), 0);
    const SymbolSharedPtr back = convertTavSymbol(*futures);
    QCOMPARE(static_cast<const FuturesContinuousSymbol&>(*back).continuousType(), 0);
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::tableLines_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QByteArrayList>("vrToTav");
    QTest::addColumn<QByteArrayList>("tavToVr");

    QTest::newRow("spaces and comment") << QByteArray("   IBM  |  IBM.X   ; big blue | ignored\n")
                                        << QByteArrayList{"IBM.X", "IBM"} << QByteArrayList{"IBM", "IBM.X"};
    QTest::newRow("three parts") << QByteArray("AAA | BBB.CA | CCC\n")
                                 << QByteArrayList{"BBB.CA", "BBB:TC"} << QByteArrayList{"AAA", "AAA"};
    QTest::newRow("no bar") << QByteArray("AAA BBB.CA\n")
                            << QByteArrayList{"BBB.CA", "BBB:TC"} << QByteArrayList{"AAA BBB.CA", "AAA BBB.CA"};
    QTest::newRow("bar only in comment") << QByteArray("AAA ; | BBB.CA\n")
                                         << QByteArrayList{"BBB.CA", "BBB:TC"} << QByteArrayList{"AAA", "AAA"};
    QTest::newRow("commented out") << QByteArray("; IBM | IBM.X\n\n   \n")
                                   << QByteArrayList{"IBM.X", "IBM.X"} << QByteArrayList{"IBM", "IBM"};
    QTest::newRow("later lines win") << QByteArray("X1 | AAA\nX2 | AAA\nBBB | Y1\nBBB | Y2\n")
                                     << QByteArrayList{"AAA", "X2", "Y1", "BBB", "Y2", "BBB"}
                                     << QByteArrayList{"BBB", "Y2", "X1", "AAA", "X2", "AAA"};
    QTest::newRow("carriage returns, no last newline")
        << QByteArray("IBM|IBM.X\r\nRY:TC|ROYAL") << QByteArrayList{"IBM.X", "IBM", "ROYAL", "RY:TC"}
        << QByteArrayList{"IBM", "IBM.X", "RY:TC", "ROYAL"};
    QTest::newRow("table wins over rules") << QByteArray("EUR/USD | EURUSD.X\nRY:TC | RY.CA\nXX:TC|RY.CA\n")
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

void tst_SymbolMapper::rulesApplyUntilTheTableArrives()
{
    writeTable("IBM | IBM.X\nROYAL | RY.CA\n");
    TavSymbolMapper mapper;
    QVERIFY(mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("RY.CA"), QByteArray("RY:TC"));

    QTRY_VERIFY(!mapper.isWaitingForTable());
    QCOMPARE(mapper.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM.X"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("RY.CA"), QByteArray("ROYAL"));
}

void tst_SymbolMapper::missingTableLeavesRules()
{
    Dravon::setDataDirectory(m_dataDir.filePath(QStringLiteral("no-such-folder")));
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QVERIFY(mapper.isWaitingForTable());
    QTRY_VERIFY(!mapper.isWaitingForTable());
    // The table turning up later changes nothing: the request is not repeated.
    writeTable("IBM | IBM.X\n");
    QTest::qWait(0);
    QCOMPARE(mapper.tavSymbolToVentariSymbol("IBM"), QByteArray("IBM"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("EURUSD"), QByteArray("EUR/USD"));
    QCOMPARE(mapper.tavSymbolToVentariSymbol("RY:TC"), QByteArray("RY.CA"));
    QVERIFY(recorder.isEmpty());
}

void tst_SymbolMapper::shippedTable()
{
    Dravon::setDataDirectory(QStringLiteral(VENTARI_DEMO_DATA_DIR));
    ReportRecorder recorder;
    TavSymbolMapper mapper;
    QTRY_VERIFY(!mapper.isWaitingForTable());

    QCOMPARE(mapper.ventariSymbolToTavSymbol("FB"), QByteArray("META"));
    QCOMPARE(mapper.tavSymbolToVentariSymbol("META"), QByteArray("FB"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("BTC.X"), QByteArray("BTC/USD"));
    QCOMPARE(mapper.tavSymbolToVentariSymbol("@6E"), QByteArray("6E_F"));
    // The corrected line wins on the host side; the earlier service symbol keeps its entry.
    QCOMPARE(mapper.tavSymbolToVentariSymbol("SPX:IDX"), QByteArray("SPX.X"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("SPX.X"), QByteArray("SPX:IDX"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("SPX"), QByteArray("SPX:IDX"));
    // Malformed lines give no entries; what is not listed goes by rule.
    QCOMPARE(mapper.tavSymbolToVentariSymbol("A"), QByteArray("A"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("B"), QByteArray("B"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("AAPL"), QByteArray("AAPL"));
    QCOMPARE(mapper.ventariSymbolToTavSymbol("BNS.CA"), QByteArray("BNS:TC"));
    QVERIFY(recorder.isEmpty());
}

// --- time zone ---------------------------------------------------------------------------------

void tst_SymbolMapper::timezone_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<bool>("known");
    QTest::addColumn<int>("gmtDate");
    QTest::addColumn<int>("gmtTime");
    QTest::addColumn<int>("localDate");
    QTest::addColumn<int>("localTime");

    QTest::newRow("berlin winter") << QByteArray("Europe/Berlin") << true << 20240115 << 120000000 << 20240115 << 130000000;
    QTest::newRow("berlin summer") << QByteArray("Europe/Berlin") << true << 20240715 << 120000250 << 20240715 << 140000250;
    QTest::newRow("berlin new year") << QByteArray("Europe/Berlin") << true << 20241231 << 233000000 << 20250101 << 3000000;
    QTest::newRow("new york before dst") << QByteArray("America/New_York") << true << 20240310 << 65959999 << 20240310 << 15959999;
    QTest::newRow("new york dst starts") << QByteArray("America/New_York") << true << 20240310 << 70000000 << 20240310 << 30000000;
    QTest::newRow("new york previous day") << QByteArray("America/New_York") << true << 20240701 << 30000 << 20240630 << 200030000;
    QTest::newRow("windows id") << QByteArray("W. Europe Standard Time") << true << 20240715 << 120000000 << 20240715 << 140000000;
    QTest::newRow("unknown id is utc") << QByteArray("Mars/Olympus_Mons") << false << 20240715 << 120000000 << 20240715 << 120000000;
    QTest::newRow("empty id is utc") << QByteArray() << false << 20240115 << 235959999 << 20240115 << 235959999;
}

void tst_SymbolMapper::timezone()
{
    QFETCH(QByteArray, zone);
    QFETCH(bool, known);
    QFETCH(int, gmtDate);
    QFETCH(int, gmtTime);
    QFETCH(int, localDate);
    QFETCH(int, localTime);

    const Dravon::Timezone timezone(zone);
    QCOMPARE(timezone.isKnown(), known);
    const Common::DateTime local = timezone.gmtToLocal(Common::DateTime(gmtTime, gmtDate));
    QVERIFY(!local.isNull());
    QCOMPARE(local.date, localDate);
    QCOMPARE(local.time, localTime);
}

void tst_SymbolMapper::dateTimeValue()
{
    const Common::DateTime value = Common::DateTime::fromQDateTime(
        QDateTime(QDate(2024, 3, 9), QTime(7, 5, 3, 42), Qt::UTC));
    QCOMPARE(value.date, 20240309);
    QCOMPARE(value.time, 70503042);
    QVERIFY(!value.isNull());
    QCOMPARE(value.toQDateTime(), QDateTime(QDate(2024, 3, 9), QTime(7, 5, 3, 42), Qt::UTC));

    const Common::DateTime null = Common::DateTime::fromQDateTime(QDateTime());
    QVERIFY(null.isNull());
    QCOMPARE(null.date, 0);
    QCOMPARE(null.time, 0);
    QVERIFY(!null.toQDateTime().isValid());

    // Null or impossible values stay null through the zone.
    const Dravon::Timezone berlin("Europe/Berlin");
    QVERIFY(berlin.gmtToLocal(null).isNull());
    QVERIFY(berlin.gmtToLocal(Common::DateTime(120000000, 20241345)).isNull());
    QVERIFY(berlin.gmtToLocal(Common::DateTime(250000000, 20240101)).isNull());
}

QTEST_GUILESS_MAIN(tst_SymbolMapper)
#include "tst_symbolmapper.moc"
