#include "testobjects.h"
#include "testsupport.h"

#include "common/criticalsection.h"
#include "common/notifier/metaobjectinfo.h"
#include "common/notifier/observerdestroyhelper.h"

#include <QtTest/QtTest>

#include <functional>
#include <thread>

using namespace Common;
using Scenario = std::function<void(Publisher&, Listener&)>;
using NotifierFactory = std::function<QObject*(QStringList*)>;
Q_DECLARE_METATYPE(Scenario)
Q_DECLARE_METATYPE(NotifierFactory)

namespace {

Link makeLink(QObject* observer, const QByteArray& method, const QByteArray& signalName, const QByteArray& signature)
{
    Link link;
    link.delegate.observer = observer;
    link.delegate.method = method;
    link.signalName = signalName;
    link.signalSignature = signature;
    return link;
}

int helperCount(const QObject* observer)
{
    return observer->findChildren<ObserverDestroyHelper*>(QString(), Qt::FindDirectChildrenOnly).size();
}

bool tryEnterFromAnotherThread(CriticalSection& section)
{
    bool entered = false;
    std::thread other([&section, &entered] {
        entered = section.tryEnter();
        if (entered)
            section.leave();
    });
    other.join();
    return entered;
}

} // namespace

// The notifier framework and what it stands on: signatures, meta-object info, the critical section.
class tst_Notifier : public QObject
{
    Q_OBJECT

private slots:
    void subscribeByNamesDelivers();
    void repeatedSubscriptionMakesOneLink_data();
    void repeatedSubscriptionMakesOneLink();
    void failedRequestsAreReported_data();
    void failedRequestsAreReported();
    void unsubscribeForms();
    void deletionCutsTheLinks_data();
    void deletionCutsTheLinks();
    void subscribeWithoutSlots();
    void attachedSlotsOfWrongShapeAreReported();

    void lookups_data();
    void lookups();

    void criticalSection();
};

void tst_Notifier::subscribeByNamesDelivers()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);

    // A plain name shared by overloads takes the first of each in method order.
    publisher.subscribe("valueChanged", &listener, "onValue");
    publisher.subscribe(SIGNAL(textChanged(QString)), &listener, SLOT(onText(QString)));
    QCOMPARE(journal, (QStringList{"attached 2valueChanged(int) -> 1onValue(int)",
                                   "onLinkAttached 2valueChanged(int) -> 1onValue(int)",
                                   "onLinkAttached 2textChanged(QString) -> 1onText(QString)"}));
    QVERIFY(publisher.isSubscribed("valueChanged", &listener, "onValue"));
    QVERIFY(publisher.isSubscribed(SIGNAL(textChanged(QString)), &listener, "onText"));
    QVERIFY(publisher.isSubscribed(&listener));
    QObject other;
    QVERIFY(!publisher.isSubscribed(&other));
    // The two-argument form sees the slot_ link only, and quietly so when there is no slot_ slot.
    QVERIFY(!publisher.isSubscribed(&listener, "valueChanged"));
    QVERIFY(!publisher.isSubscribed(&listener, "textChanged"));
    publisher.subscribe("valueChanged", &listener, "slot_valueChanged");
    QVERIFY(publisher.isSubscribed(&listener, "valueChanged"));

    journal.clear();
    emit publisher.valueChanged(1, QStringLiteral("one"));
    emit publisher.valueChanged(2);
    emit publisher.textChanged(QStringLiteral("hi"));
    QCOMPARE(journal, (QStringList{"onValue 2", "slot_valueChanged 2", "onText hi"}));
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::repeatedSubscriptionMakesOneLink_data()
{
    QTest::addColumn<Scenario>("subscribe");
    QTest::addColumn<int>("links");
    QTest::addColumn<QStringList>("delivered"); // of valueChanged(4), valueChanged(5, "five") and ping()

    QTest::newRow("named") << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, "onValue"); })
                           << 1 << QStringList{"onValue 4"};
    QTest::newRow("slot_") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "valueChanged"); }) << 1
                           << QStringList{"slot_valueChanged 4"};
    // slot_valueChanged(int) fits both valueChanged overloads; slot_ping() fits ping().
    QTest::newRow("observer") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l); }) << 3
                              << QStringList{"slot_valueChanged 4", "slot_valueChanged 5", "slot_ping"};
    QTest::newRow("forward") << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "relayed"); })
                             << 1 << QStringList{"relayed 4"};
    QTest::newRow("forward same") << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "valueChanged"); }) << 1
                                  << QStringList{"valueChanged 4"};
}

void tst_Notifier::repeatedSubscriptionMakesOneLink()
{
    QFETCH(Scenario, subscribe);
    QFETCH(int, links);
    QFETCH(QStringList, delivered);

    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    connect(&listener, &Listener::relayed,
            [&journal](int value) { journal << QStringLiteral("relayed %1").arg(value); });
    connect(&listener, &Listener::valueChanged,
            [&journal](int value) { journal << QStringLiteral("valueChanged %1").arg(value); });

    subscribe(publisher, listener);
    subscribe(publisher, listener);
    QCOMPARE(journal.filter("onLinkAttached").size(), links);

    journal.clear();
    emit publisher.valueChanged(4);
    emit publisher.valueChanged(5, QStringLiteral("five"));
    emit publisher.ping();
    QCOMPARE(journal, delivered);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::failedRequestsAreReported_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("linked");
    QTest::addColumn<Scenario>("request");

    const auto refusedByQt = [] { QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^QObject::connect: ")); };
    QTest::newRow("subscribe, unknown signal") << "subscribe" << 1 << false
        << Scenario([](Publisher& p, Listener& l) { p.subscribe("noSuchSignal", &l, "onValue"); });
    QTest::newRow("subscribe, unknown slot") << "subscribe" << 2 << false
        << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, "noSuchSlot"); });
    QTest::newRow("subscribe slot_, none") << "subscribe" << 2 << false
        << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "textChanged"); });
    QTest::newRow("subscribe link twice") << "subscribe" << 3 << true << Scenario([](Publisher& p, Listener& l) {
        p.subscribe(&l, "ping");
        p.subscribe(makeLink(&l, "1slot_ping()", "ping", "2ping()"));
    });
    QTest::newRow("subscribe, connect refused") << "subscribe" << 5 << false
        << Scenario([refusedByQt](Publisher& p, Listener& l) {
        refusedByQt();
        p.subscribe("valueChanged", &l, SLOT(onText(QString)));
    });
    QTest::newRow("unsubscribe, never subscribed") << "unsubscribe" << 4 << false
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe("valueChanged", &l, "onValue"); });
    // By observer and signal, an unknown signal is just not subscribed.
    QTest::newRow("unsubscribe by signal, unknown") << "unsubscribe" << 4 << false
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe(&l, "noSuchSignal"); });
    QTest::newRow("unsubscribe, connection gone") << "unsubscribe" << 5 << true
        << Scenario([](Publisher& p, Listener& l) {
        p.subscribe("valueChanged", &l, "onValue");
        QObject::disconnect(&p, nullptr, &l, nullptr);
        p.unsubscribe("valueChanged", &l, "onValue");
    });
    QTest::newRow("isSubscribed, unknown signal") << "isSubscribed" << 1 << false
        << Scenario([](Publisher& p, Listener& l) { QVERIFY(!p.isSubscribed(&l, "noSuchSignal")); });
    QTest::newRow("forward, unknown target signal") << "forward" << 1 << false
        << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "noSuchSignal"); });
    QTest::newRow("forward, incompatible") << "forward" << 5 << false
        << Scenario([refusedByQt](Publisher& p, Listener& l) {
        refusedByQt();
        p.forward("valueChanged", &l, "textRelayed");
    });
}

void tst_Notifier::failedRequestsAreReported()
{
    QFETCH(QString, operation);
    QFETCH(int, code);
    QFETCH(bool, linked);
    QFETCH(Scenario, request);

    const char* const texts[] = {nullptr,
                                 "false && \"Appropriate signal could not be found\"",
                                 "false && \"Appropriate slot could not be found\"",
                                 "false && \"Such signal/slot pair is already subscribed\"",
                                 "false && \"Such signal/slot pair is not subscribed\"",
                                 "false && \"Failed to subscribe/unsubscribe signal/slot\""};
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);

    request(publisher, listener);

    QCOMPARE(reportsOf(recorder), QStringList{"notifier/commonabstractnotifier Common::AbstractNotifier::" + operation
                                              + ": " + QLatin1String(texts[code])});
    QCOMPARE(recorder.reports().first().object, static_cast<const void*>(static_cast<QObject*>(&publisher)));
    QVERIFY(recorder.records().isEmpty());
    QCOMPARE(publisher.isSubscribed(&listener), linked);
}

void tst_Notifier::unsubscribeForms()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    QCOMPARE(helperCount(&listener), 0);
    publisher.subscribe("valueChanged", &listener, "onValue");
    publisher.subscribe(SIGNAL(valueChanged(int, QString)), &listener, SLOT(onValue(int, QString)));
    publisher.subscribe(SIGNAL(valueChanged(int, QString)), &listener, "slot_valueChanged");
    publisher.subscribe(&listener, "valueChanged");
    publisher.subscribe(&listener, "ping");
    publisher.subscribe("textChanged", &listener, "onText");
    QCOMPARE(helperCount(&listener), 1);
    journal.clear();

    // By observer and signal: the slot_ link, though onValue comes first in link order ...
    publisher.unsubscribe(&listener, "valueChanged");
    // ... else the observer's first link for that signal.
    publisher.unsubscribe(&listener, "textChanged");
    // All of an observer's links, in link order.
    publisher.unsubscribe(&listener);
    QCOMPARE(journal.filter("onLinkDetached"),
             (QStringList{"onLinkDetached 2valueChanged(int) -> 1slot_valueChanged(int)",
                          "onLinkDetached 2textChanged(QString) -> 1onText(QString)",
                          "onLinkDetached 2ping() -> 1slot_ping()",
                          "onLinkDetached 2valueChanged(int) -> 1onValue(int)",
                          "onLinkDetached 2valueChanged(int,QString) -> 1onValue(int,QString)",
                          "onLinkDetached 2valueChanged(int,QString) -> 1slot_valueChanged(int)"}));
    QVERIFY(journal.filter("detached").contains("detached 2ping() -> 1slot_ping()"));
    QVERIFY(!publisher.isSubscribed(&listener));
    QCOMPARE(helperCount(&listener), 0);

    journal.clear();
    emit publisher.valueChanged(1);
    emit publisher.valueChanged(1, QStringLiteral("one"));
    emit publisher.ping();
    emit publisher.textChanged(QStringLiteral("gone"));
    QVERIFY(journal.isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::deletionCutsTheLinks_data()
{
    QTest::addColumn<NotifierFactory>("create");
    QTest::addColumn<QString>("first"); // what goes first: "observer", "notifier", or a notifier that owns its observer
    const NotifierFactory direct([](QStringList* j) -> QObject* { return new Publisher(j); });
    const NotifierFactory virtualBase([](QStringList* j) -> QObject* { return new Feed(j); });
    for (const char* first : {"observer", "notifier", "owner"}) {
        QTest::addRow("direct base, %s first", first) << direct << first;
        // With "owner", ~QObject deletes the observer before the framework's own part is torn down.
        QTest::addRow("virtual base, %s first", first) << virtualBase << first;
    }
}

void tst_Notifier::deletionCutsTheLinks()
{
    QFETCH(NotifierFactory, create);
    QFETCH(QString, first);

    ReportRecorder recorder;
    QStringList journal;
    QObject* object = create(&journal);
    INotifier* notifier = dynamic_cast<INotifier*>(object);
    QVERIFY(notifier);
    QCOMPARE(notifier->castTo<QObject>(), object);
    QCOMPARE(notifier->castTo<Listener>(), static_cast<Listener*>(nullptr));
    QPointer<Listener> listener = new Listener(&journal);
    if (first == QLatin1String("owner"))
        listener->setParent(object);
    notifier->subscribe("valueChanged", listener, "onValue");
    notifier->subscribe(listener, "valueChanged");
    notifier->forward("valueChanged", listener, "relayed");
    QCOMPARE(helperCount(listener), 1);
    journal.clear();

    if (first == QLatin1String("observer")) {
        QObject* gone = listener;
        delete listener;
        QCOMPARE(journal.filter("detached"), (QStringList{"detached 2valueChanged(int) -> 1onValue(int)",
                                                          "detached 2valueChanged(int) -> 1slot_valueChanged(int)",
                                                          "detached 2valueChanged(int) -> 2relayed(int)"}));
        QVERIFY(!notifier->isSubscribed(gone));
        journal.clear();
        QVERIFY(QMetaObject::invokeMethod(object, "valueChanged", Q_ARG(int, 5)));
    }
    delete object;
    QCOMPARE(journal, QStringList());
    // The helper stays with its observer, cut off from the dead notifier.
    QCOMPARE(listener ? helperCount(listener) : 0, first == QLatin1String("notifier") ? 1 : 0);
    delete listener;
    QVERIFY(journal.isEmpty());
    QVERIFY2(recorder.isEmpty(), qPrintable(reportsOf(recorder).join(QLatin1Char('\n'))));
}

// An observer without any slot_ slot: one log record, nothing linked.
void tst_Notifier::subscribeWithoutSlots()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    QObject plain;
    publisher.subscribe(&plain);
    QVERIFY(recorder.reports().isEmpty());
    QCOMPARE(recorder.records().size(), 1);
    const Corvane::LogRecord& record = recorder.records().first();
    QCOMPARE(record.message, QStringLiteral("\"No signals/slots were connected during subscribe() call. "
                                            "Event source: 'Publisher', observer: 'QObject'.\""));
    QCOMPARE(record.level, 3);
    QCOMPARE(record.category, QString());
    QCOMPARE(record.function, QStringLiteral("Common::AbstractNotifier::subscribe"));
    QVERIFY(!publisher.isSubscribed(&plain));
    QCOMPARE(helperCount(&plain), 0);
}

void tst_Notifier::attachedSlotsOfWrongShapeAreReported()
{
    ReportRecorder recorder;
    QStringList journal;
    OddSlotsPublisher publisher;
    Listener listener(&journal);

    publisher.subscribe("x", &listener, "slot_ping");

    const QString where = QStringLiteral("notifier/commonabstractnotifier_p "
                                         "Common::AbstractNotifierPrivate::callAttachDetachSlots: ");
    QCOMPARE(reportsOf(recorder),
             (QStringList{where + "false && \"slot name matches the signal, while the argument type is incorrect\"",
                          where + "false && \"slot name matches the signal, while the argument count does not\""}));
    QCOMPARE(publisher.calls, QStringList{"attached_x(const Link*)"});
    QVERIFY(publisher.isSubscribed("x", &listener, "slot_ping"));
}

void tst_Notifier::lookups_data()
{
    QTest::addColumn<QByteArray>("lookup"); // signal, slot or slot_ for a signal
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("found");

    // Signals and slot_ slots of Candidates, slots of Listener; Candidates lists slot_changed with
    // (QString), (int,QString,int), (int,QString), (int), () in this order.
    auto row = [](const char* name, const char* lookup, const char* text, const char* found) {
        QTest::newRow(name) << QByteArray(lookup) << QByteArray(text) << QByteArray(found);
    };
    row("overloaded signal", "signal", "twice", "twice(QString)");
    row("inherited signal", "signal", "destroyed", "destroyed(QObject*)");
    row("signal string", "signal", "2notThere(int)", "notThere(int)");
    row("case-sensitive", "signal", "Twice", "");
    row("code, no parentheses", "signal", "2destroyed", "");
    row("slot string", "signal", "1twice(int)", "");
    row("overloaded slot", "slot", "onValue", "onValue(int)");
    row("slot string ok", "slot", "1whatever()", "whatever()");
    row("signal no slot", "slot", "relayed", "");
    row("all parameters", "slot_", "changed(int,QString)", "slot_changed(int,QString)");
    row("first parameter", "slot_", "changed(int,bool)", "slot_changed(int)");
    row("no parameters", "slot_", "changed(bool)", "slot_changed()");
    row("first in order", "slot_", "changed(QString,int)", "slot_changed(QString)");
    row("other name", "slot_", "change(int)", "");
}

void tst_Notifier::lookups()
{
    QFETCH(QByteArray, lookup);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, found);

    const MetaObjectInfo& candidates = MetaObjectInfo::instance(&Candidates::staticMetaObject);
    if (lookup == "signal") {
        QCOMPARE(candidates.findSignal(text).signature(), found);
    } else if (lookup == "slot") {
        QCOMPARE(MetaObjectInfo::instance(&Listener::staticMetaObject).findSlot(text).signature(), found);
    } else {
        const SlotInfo& slot = candidates.findSlotForSignal(SignalInfo(text));
        QCOMPARE(slot.signature(), found);
        QVERIFY(!found.isEmpty() || &slot == &SlotInfo::empty());
    }
}

void tst_Notifier::criticalSection()
{
    ReportRecorder recorder;
    CriticalSection section;
    section.enter();
    section.enter();
    QVERIFY(section.tryEnter());
    section.leave();
    section.leave();
    QVERIFY(!tryEnterFromAnotherThread(section));
    section.leave();
    QVERIFY(tryEnterFromAnotherThread(section));
    {
        CriticalSectionLocker locker(section);
        QVERIFY(!tryEnterFromAnotherThread(section));
    }
    QVERIFY(tryEnterFromAnotherThread(section));
    QVERIFY(recorder.isEmpty());
}

QTEST_GUILESS_MAIN(tst_Notifier)
#include "tst_notifier.moc"
