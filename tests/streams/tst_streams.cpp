#include "streamhost.h"

#include "dialogplayer.h"

#include "actions/ventariloadwatchlistsaction.h"
#include "streams/streamidinputmodel.h"
#include "streams/ventaristream.h"
#include "streams/ventarisymbolstream.h"
#include "streams/ventariuserstream.h"
#include "streams/ventariwatchliststream.h"
#include "tessel/tavsymbolmapper.h"

#include <dravon/requester.h>
#include <kelvar/combocontrol.h>
#include <kelvar/servicelocator.h>
#include <kelvar/symboleditcontrol.h>
#include <settings/settingsstore.h>

#include <QtCore/QSettings>
#include <QtCore/QTranslator>
#include <QtTest/QtTest>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLineEdit>

using namespace StreamsTest;
using ProtocolTest::requestsTo;
using namespace Ventari;
using Ventari::Tessel::ITavSymbolMapper;
using Ventari::Tessel::TavSymbolMapper;

namespace {

const QString notFound = QStringLiteral("!\"not found\"");

// The host's stream window: one edit-done slot for whatever the editor reports.
class HostWindow : public QWidget
{
    Q_OBJECT

public:
    QStringList edits; // the editor signals that reached the slot, in order

public slots:
    void onEditDone() { edits.append(QString::fromLatin1(sender()->metaObject()->method(senderSignalIndex()).name())); }
};

// The symbol mapper in the service locator for a scope, with a table only when one is written.
class MapperScope
{
public:
    explicit MapperScope(const QByteArray& table = QByteArray())
    {
        Dravon::setDataDirectory(m_dataDir.path());
        if (!table.isEmpty()) {
            QFile file(m_dataDir.filePath(QStringLiteral("ventarisymbolmap.ctab")));
            m_ready = file.open(QIODevice::WriteOnly) && file.write(table) == table.size();
        }
        m_mapper = new TavSymbolMapper;
        Kelvar::ServiceLocator::instance()->addService<ITavSymbolMapper>(m_mapper.data());
        m_ready = m_ready && QTest::qWaitFor([this] { return !m_mapper->isWaitingForTable(); });
    }
    ~MapperScope()
    {
        Kelvar::ServiceLocator::instance()->destroyService<ITavSymbolMapper>();
        Dravon::setDataDirectory(QString());
    }

    bool isReady() const { return m_ready; }

private:
    QTemporaryDir m_dataDir;
    QPointer<TavSymbolMapper> m_mapper;
    bool m_ready = true;
};

QStringList comboItems(const ComboControl* control)
{
    QStringList items;
    for (int i = 0; i < control->comboBox()->count(); ++i)
        items.append(control->comboBox()->itemText(i));
    return items;
}

int watchListRequests()
{
    return int(requestsTo(QStringLiteral("watchlists.json")).size());
}

// Typed as the user types: into the combo box, which hands the keys to its line edit.
void enter(ComboControl* control, const QString& text)
{
    control->lineEdit()->clear();
    QTest::keyClicks(control->comboBox(), text);
    QTest::keyClick(control->comboBox(), Qt::Key_Return);
}

} // namespace

// The stream registry, the stream editors and the history behind them.
class tst_Streams : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void registry_data();
    void registry();
    void unknownIds_data();
    void unknownIds();
    void registryLifetime();

    void inputModelEntries_data();
    void inputModelEntries();
    void storedHistory();
    void userEditorAcrossRestart();

    void watchListValues_data();
    void watchListValues();
    void watchListsFollowAuthorization();

    void symbolEditor();

private:
    StreamHost& host(bool authorized) { return m_hosts.get(authorized); }

    RecordingTranslator m_translator;
    StreamHosts m_hosts;
};

void tst_Streams::initTestCase()
{
    QVERIFY(QCoreApplication::installTranslator(&m_translator));
}

void tst_Streams::init()
{
    resetEmulatorKeepingTokens();
}

void tst_Streams::cleanupTestCase()
{
    m_hosts.reset();
    QCoreApplication::removeTranslator(&m_translator);
}

void tst_Streams::registry_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<QByteArray>("id");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("context");
    QTest::addColumn<int>("mode");
    QTest::addColumn<QStringList>("filterValues");
    QTest::addColumn<bool>("needsId");
    QTest::addColumn<bool>("canFollow");

    const QStringList full{QString(), "charts", "videos", "links"};
    const QStringList allOnly{QString()};
    const QString handler = QStringLiteral("VentariStreamsHandler");
    // Where each stream's path leads is the stream action's test.
    auto row = [](const char* name, int index, const char* id, const char* shown, const QString& context, int mode,
                  const QStringList& filters, bool needsId, bool canFollow) {
        QTest::newRow(name) << index << QByteArray(id) << QString::fromUtf8(shown) << context << mode << filters
                            << needsId << canFollow;
    };
    row("symbol", 0, "symbol", "Symbol", "VentariStream", 1, full, true, true);
    row("user", 1, "user", "User", "VentariUserStream", 1, full, true, true);
    row("suggested", 2, "suggested", "Suggested", handler, 1, full, false, false);
    row("trending", 3, "trending", "Trending", handler, 1, full, false, false);
    row("charts", 4, "charts", "Charts", handler, 1, allOnly, false, false);
    row("investor relations", 5, "investor-relations", "Investor Relations", handler, 1, full, false, false);
    row("home", 6, "home", "People & Stocks", handler, 2, full, false, false);
    row("friends", 7, "friends", "People", handler, 2, full, false, false);
    row("watch list", 8, "watchlist", "WatchList", "Ventari::VentariWatchListStream", 2, full, true, false);
    row("mentions", 9, "mentions", "Mentions", handler, 2, allOnly, false, false);
}

// The ten streams in the host's order, each found by its id, with names from their own contexts.
void tst_Streams::registry()
{
    QFETCH(int, index);
    QFETCH(QByteArray, id);
    QFETCH(QString, name);
    QFETCH(QString, context);
    QFETCH(int, mode);
    QFETCH(QStringList, filterValues);
    QFETCH(bool, needsId);
    QFETCH(bool, canFollow);

    StreamHost& host = this->host(false);
    ReportRecorder recorder;
    const QList<IVentariStream*> streams = host.registry().streams();
    QCOMPARE(streams.size(), 10);
    IVentariStream* stream = streams.at(index);
    QCOMPARE(host.registry().streamById(id), stream);

    QCOMPARE(stream->id(), id);
    QCOMPARE(stream->name(), name);
    QVERIFY(m_translator.asked.contains(context + QLatin1Char('|') + name));
    QCOMPARE(stream->authorizationMode(), mode);
    QCOMPARE(stream->needsId(), needsId);
    QCOMPARE(stream->canFollow(), canFollow);

    const QStringList labels = QStringList{"All", "Charts", "Videos", "Links"}.mid(0, filterValues.size());
    QStringList shownLabels;
    QStringList values;
    for (const StreamFilter& filter : stream->filters()) {
        shownLabels.append(filter.label);
        values.append(filter.value);
        QVERIFY(m_translator.asked.contains(QStringLiteral("VentariStreamsHandler|") + filter.label));
    }
    QCOMPARE(shownLabels, labels);
    QCOMPARE(values, filterValues);

    QWidget window;
    QWidget* editor = stream->createIdControl(&window, SLOT(close()));
    QCOMPARE(editor != nullptr, needsId);
    QVERIFY(!editor || editor->parent() == &window);
    QVERIFY(recorder.reports().isEmpty());
}

void tst_Streams::unknownIds_data()
{
    QTest::addColumn<QByteArray>("id");

    QTest::newRow("path spelling of investor relations") << QByteArray("investor_relations");
    QTest::newRow("display name") << QByteArray("Symbol");
    QTest::newRow("trailing blank") << QByteArray("home ");
    QTest::newRow("empty") << QByteArray();
}

void tst_Streams::unknownIds()
{
    QFETCH(QByteArray, id);

    StreamHost& host = this->host(false);
    ReportRecorder recorder;
    QCOMPARE(host.registry().streamById(id), static_cast<IVentariStream*>(nullptr));
    QCOMPARE(recorder.reportTexts(), QStringList{notFound});
    QCOMPARE(recorder.reports().at(0).kind, Corvane::Report::Assertion);
    QCOMPARE(recorder.reports().at(0).function, QStringLiteral("Ventari::VentariStreamsHandler::streamById"));
}

// The registry exists between the facade's construction and destruction; its streams go with it.
void tst_Streams::registryLifetime()
{
    m_hosts.reset();
    ReportRecorder recorder;
    QCOMPARE(VentariStreamsHandler::instance(), static_cast<VentariStreamsHandler*>(nullptr));
    {
        TestHost host;
        auto registry = std::make_unique<VentariStreamsHandler>();
        QCOMPARE(VentariStreamsHandler::instance(), registry.get());
        QPointer<QObject> stream = dynamic_cast<QObject*>(registry->streamById("watchlist"));
        QVERIFY(stream);
        registry.reset();
        QVERIFY(stream.isNull());
        QCOMPARE(VentariStreamsHandler::instance(), static_cast<VentariStreamsHandler*>(nullptr));
        // The queued set-up of a stream that is gone never runs.
        QCoreApplication::processEvents();
        QVERIFY(recorder.reports().isEmpty());

        // A second registry reports and takes over.
        VentariStreamsHandler first;
        {
            VentariStreamsHandler second;
            QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("!s_instance")});
            QCOMPARE(VentariStreamsHandler::instance(), &second);
        }
        QCoreApplication::processEvents();
    }
    QCOMPARE(VentariStreamsHandler::instance(), static_cast<VentariStreamsHandler*>(nullptr));
}

void tst_Streams::inputModelEntries_data()
{
    QTest::addColumn<QByteArrayList>("entered");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QByteArrayList>("expected");

    // Latest at the top and entered again moved up are the user editor's test.
    QTest::newRow("oldest dropped beyond the maximum") << QByteArrayList{"a", "b", "c", "d"} << 3
                                                       << QByteArrayList{"d", "c", "b"};
    QTest::newRow("UTF-8") << QByteArrayList{"zo\xc3\xab"} << 20 << QByteArrayList{"zo\xc3\xab"};
}

void tst_Streams::inputModelEntries()
{
    QFETCH(QByteArrayList, entered);
    QFETCH(int, maximum);
    QFETCH(QByteArrayList, expected);

    ReportRecorder recorder;
    StreamIdInputModel model{QByteArray()};
    model.setMaximumCount(maximum);
    for (const QByteArray& value : entered)
        QVERIFY(model.addValue(value));
    QCOMPARE(model.values(), expected);
    QCOMPARE(model.rowCount(), expected.size());
    for (int row = 0; row < expected.size(); ++row) {
        QCOMPARE(model.data(model.index(row), Qt::DisplayRole).toString(), QString::fromUtf8(expected.at(row)));
        QCOMPARE(model.data(model.index(row), Qt::EditRole).toString(), QString::fromUtf8(expected.at(row)));
    }
    QVERIFY(recorder.isEmpty());
}

// The history under "VentariUserStream" is read when the model is made and written when it goes,
// emptied as well.
void tst_Streams::storedHistory()
{
    ReportRecorder recorder;
    TemporarySettings settings;
    QCOMPARE(StreamIdInputModel("VentariUserStream").values(), QByteArrayList());
    QCOMPARE(settings.reopen()->value("VentariUserStream").toStringList(), QStringList());
    settings.store()->setValue("VentariUserStream", QStringList{"alice", "bob"});
    settings.reopen();
    {
        StreamIdInputModel model("VentariUserStream");
        QCOMPARE(model.values(), (QByteArrayList{"alice", "bob"}));
        QVERIFY(model.removeRows(0, model.rowCount()));
    }
    QCOMPARE(settings.reopen()->value("VentariUserStream").toStringList(), QStringList());
    QCOMPARE(StreamIdInputModel("VentariUserStream").values(), QByteArrayList());
    QVERIFY(recorder.isEmpty());
}

// Names entered in the user editor are remembered, offered again after a restart, and every
// finished entry reaches the host's slot.
void tst_Streams::userEditorAcrossRestart()
{
    m_hosts.reset();
    StreamHost host(false);
    ReportRecorder recorder;
    HostWindow window;
    IVentariStream* stream = host.stream("user");
    auto* editor = qobject_cast<ComboControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QVERIFY(editor);
    QCOMPARE(editor->lineEdit()->placeholderText(), QStringLiteral("Enter Name"));
    QVERIFY(m_translator.asked.contains(QStringLiteral("VentariUserStream|Enter Name")));
    QCOMPARE(editor->minimumWidth(), 120);
    QCOMPARE(editor->maximumWidth(), 120);
    QCOMPARE(stream->controlValue(editor), QString());
    // A second editor over the same names keeps what is typed in it while the first one adds.
    auto* other = qobject_cast<ComboControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QTest::keyClicks(other->comboBox(), QStringLiteral("bo"));

    QStringList values;
    for (const char* name : {"carol", "dave", "carol"}) {
        enter(editor, QString::fromLatin1(name));
        values.append(stream->controlValue(editor));
    }
    QCOMPARE(values, (QStringList{"carol", "dave", "carol"}));
    QCOMPARE(window.edits, (QStringList{"editDone", "editDone", "editDone"}));
    enter(editor, QString());
    QCOMPARE(window.edits.size(), 3);
    QCOMPARE(comboItems(editor), (QStringList{"carol", "dave"}));
    QCOMPARE(stream->controlValue(other), QStringLiteral("bo"));

    host.restartRegistry(true);
    stream = host.stream("user");
    editor = qobject_cast<ComboControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QCOMPARE(comboItems(editor), (QStringList{"carol", "dave"}));
    // An editor from before the restart outlives the names it showed: its entry is still reported.
    enter(other, QStringLiteral("bob"));
    QCOMPARE(window.edits.size(), 4);
    QCOMPARE(comboItems(other), QStringList());
    QCOMPARE(comboItems(editor), (QStringList{"carol", "dave"}));

    // A choice from the list is a finished entry too, and moves up.
    editor->comboBox()->showPopup();
    editor->comboBox()->view()->setCurrentIndex(editor->comboBox()->model()->index(1, 0));
    QTest::keyClick(editor->comboBox()->view(), Qt::Key_Return);
    QCOMPARE(window.edits.size(), 5);
    QCOMPARE(stream->controlValue(editor), QStringLiteral("dave"));
    QCOMPARE(comboItems(editor), (QStringList{"dave", "carol"}));

    stream->setControlValue(editor, QString::fromUtf8("zo\xc3\xab"));
    QCOMPARE(editor->lineEdit()->text(), QString::fromUtf8("zo\xc3\xab"));
    QCOMPARE(stream->controlValue(editor), QString::fromUtf8("zo\xc3\xab"));
    QVERIFY(recorder.reports().isEmpty());
}

void tst_Streams::watchListValues_data()
{
    QTest::addColumn<bool>("authorized");
    QTest::addColumn<bool>("setByHost");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");

    QTest::newRow("Energy shown") << true << false << "Energy" << "9";
    QTest::newRow("Tech shown") << true << false << "Tech" << "7";
    QTest::newRow("no list of that name") << true << false << "Metals" << "7";
    QTest::newRow("name in other letter case") << true << false << "energy" << "7";
    QTest::newRow("nothing shown") << true << false << "" << "7";
    QTest::newRow("9 set") << true << true << "9" << "Energy";
    QTest::newRow("7 set") << true << true << "7" << "Tech";
    QTest::newRow("unknown id set") << true << true << "42" << "Tech";
    QTest::newRow("not a number set") << true << true << "nine" << "Tech";
    QTest::newRow("empty set") << true << true << "" << "Tech";
    // Nobody authorized: the editor asks for nothing and has nothing to offer.
    QTest::newRow("no lists, Tech shown") << false << false << "Tech" << "";
    QTest::newRow("no lists, 7 set") << false << true << "7" << "";
}

// With alice's lists 7 Tech and 9 Energy: ids from names and names from ids, the first list as fallback.
void tst_Streams::watchListValues()
{
    QFETCH(bool, authorized);
    QFETCH(bool, setByHost);
    QFETCH(QString, given);
    QFETCH(QString, expected);

    StreamHost& host = this->host(authorized);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    HostWindow window;
    IVentariStream* stream = host.stream("watchlist");
    auto* editor = qobject_cast<ComboControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QVERIFY(editor);
    QCoreApplication::processEvents();
    QTRY_COMPARE(watchListRequests(), authorized ? 1 : 0);
    QTRY_COMPARE(comboItems(editor), (authorized ? QStringList{"Tech", "Energy"} : QStringList()));
    QVERIFY(authorized || host.started().handler()->findChildren<VentariLoadWatchListsAction*>().isEmpty());

    if (setByHost) {
        stream->setControlValue(editor, given);
        QCOMPARE(QString::fromUtf8(editor->value()), expected);
    } else {
        editor->setValue(given.toUtf8());
        QCOMPARE(stream->controlValue(editor), expected);
    }
    QVERIFY(recorder.reports().isEmpty());
}

// The lists follow the authorized user: kept when authorization ends, replaced by the next
// user's, never stored.
void tst_Streams::watchListsFollowAuthorization()
{
    m_hosts.reset();
    StreamHost host(true);
    QVERIFY(host.isStarted());
    ReportRecorder recorder;
    Authorization* authorization = host.started().authorization();
    auto* stream = dynamic_cast<VentariWatchListStream*>(host.stream("watchlist"));
    QVERIFY(stream);
    QVERIFY(authorization->isSubscribed("authorizationChanged", stream, "updateLists"));
    QCOMPARE(watchListRequests(), 0);

    HostWindow window;
    auto* editor = qobject_cast<ComboControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QTRY_COMPARE(comboItems(editor), (QStringList{"Tech", "Energy"}));
    editor->setValue("Energy");

    authorization->resetToken();
    QCoreApplication::processEvents();
    QCOMPARE(watchListRequests(), 1);
    QCOMPARE(comboItems(editor), (QStringList{"Tech", "Energy"}));
    QCOMPARE(stream->controlValue(editor), QStringLiteral("9"));

    DialogPlayer player(QStringLiteral("approve('bob')"));
    QVERIFY(authorization->authorize());
    QCOMPARE(player.handled, 1);
    QTRY_COMPARE(comboItems(editor), (QStringList{"Canadian Banks", "FX"}));
    QCOMPARE(watchListRequests(), 2);
    QCOMPARE(requestsTo(QStringLiteral("watchlists.json")).back().queryValue("access_token"),
             authorization->token().toStdString());
    // The name shown stays; it names no list of bob's.
    QCOMPARE(editor->value(), QByteArray("Energy"));
    QCOMPARE(stream->controlValue(editor), QStringLiteral("8"));
    stream->setControlValue(editor, QStringLiteral("10"));
    QCOMPARE(editor->value(), QByteArray("FX"));

    host.restartRegistry(true);
    QSettings file(host.settings().fileName(), QSettings::IniFormat);
    for (const QString& key : file.allKeys())
        QVERIFY2(!file.value(key).toStringList().contains(QStringLiteral("FX")), qPrintable(key));
    QCOMPARE(dynamic_cast<VentariWatchListStream*>(host.stream("watchlist"))->lists().size(), 0);
    QVERIFY(recorder.reports().isEmpty());
}

// The end of an edit and the loss of focus reach the same slot, with the symbol in capitals as
// the user typed it; an empty symbol is no entry. The editor shows host notation, the stream value
// is the service's, both through the mapper in the service locator; a destroyed mapper is looked up
// again; without one the value passes unconverted.
void tst_Streams::symbolEditor()
{
    StreamHost& host = this->host(false);
    ReportRecorder recorder;
    HostWindow window;
    IVentariStream* stream = host.stream("symbol");
    auto* editor = qobject_cast<SymbolEditControl*>(stream->createIdControl(&window, SLOT(onEditDone())));
    QVERIFY(editor);
    QVERIFY(!editor->allowEmptySymbols());
    QSignalSpy done(editor, SIGNAL(editDone(const QByteArray&, int)));

    QTest::keyClicks(editor, QStringLiteral("ry:Tc"));
    QTest::keyClick(editor, Qt::Key_Return);
    QFocusEvent focusOut(QEvent::FocusOut, Qt::TabFocusReason);
    QApplication::sendEvent(editor, &focusOut);
    QCOMPARE(window.edits, (QStringList{"editDone", "focusOut"}));
    QCOMPARE(done.size(), 1);
    const int hostStockType = 14;
    QCOMPARE(done.at(0), (QList<QVariant>{QByteArray("RY:TC"), hostStockType}));
    editor->clear();
    QTest::keyClick(editor, Qt::Key_Return);
    QCOMPARE(window.edits.size(), 2);

    {
        MapperScope byRule;
        QVERIFY(byRule.isReady());
        stream->setControlValue(editor, QStringLiteral("RY.CA"));
        QCOMPARE(editor->value(), QByteArray("RY:TC"));
        editor->setValue(QByteArray());
        QTest::keyClicks(editor, QStringLiteral("EUR/USD"));
        QCOMPARE(stream->controlValue(editor), QStringLiteral("EURUSD"));
    }
    {
        MapperScope byTable("ROYAL | RY.CA\n");
        QVERIFY(byTable.isReady());
        stream->setControlValue(editor, QStringLiteral("RY.CA"));
        QCOMPARE(editor->value(), QByteArray("ROYAL"));
        QCOMPARE(stream->controlValue(editor), QStringLiteral("RY.CA"));
    }
    QVERIFY(recorder.reports().isEmpty());
    stream->setControlValue(editor, QStringLiteral("RY.CA"));
    QCOMPARE(editor->value(), QByteArray("RY.CA"));
    QCOMPARE(recorder.reportTexts(), QStringList{QStringLiteral("Service not found")});
}

QTEST_MAIN(tst_Streams)
#include "tst_streams.moc"
