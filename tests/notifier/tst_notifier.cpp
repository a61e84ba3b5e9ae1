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
    void subscribeWholeObserver();
    void attachedSlotsOfWrongShapeAreReported();

    void parseSignatures_data();
    void parseSignatures();
    void findSignalAndSlot_data();
    void findSignalAndSlot();
    void findSlotForSignal_data();
    void findSlotForSignal();

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
    QTest::addColumn<QString>("delivered");

    QTest::newRow("named") << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, "onValue"); })
                           << 1 << "onValue 4";
    QTest::newRow("slot_") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "valueChanged"); }) << 1
                           << "slot_valueChanged 4";
    // slot_valueChanged(int) fits both valueChanged overloads; slot_ping() fits ping().
    QTest::newRow("observer") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l); }) << 3
                              << "slot_valueChanged 4";
    QTest::newRow("forward") << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "relayed"); })
                             << 1 << "relayed 4";
    QTest::newRow("forward same") << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "valueChanged"); }) << 1
                                  << "valueChanged 4";
}

void tst_Notifier::repeatedSubscriptionMakesOneLink()
{
    QFETCH(Scenario, subscribe);
    QFETCH(int, links);
    QFETCH(QString, delivered);

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
    QCOMPARE(journal, QStringList{delivered});
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

void tst_Notifier::subscribeWholeObserver()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);

    publisher.subscribe(&listener);
    QVERIFY(publisher.isSubscribed(SIGNAL(valueChanged(int, QString)), &listener, "slot_valueChanged"));
    journal.clear();
    emit publisher.valueChanged(2, QStringLiteral("two"));
    emit publisher.ping();
    QCOMPARE(journal, (QStringList{"slot_valueChanged 2", "slot_ping"}));
    QVERIFY(recorder.isEmpty());

    // Without any slot_ slot: one log record, nothing linked.
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

void tst_Notifier::parseSignatures_data()
{
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArrayList>("parameters");
    QTest::addColumn<QStringList>("reports");

    const QString noName = QStringLiteral("notifier/methodinfo Common::MethodInfo::parse: endOfName > 0");
    const QString noList = QStringLiteral(
        "notifier/methodinfo Common::MethodInfo::parse: endOfParameterList >= startOfParameterList");
    QTest::newRow("one") << QByteArray("done(Ventari::Message)") << QByteArray("done")
                         << QByteArrayList{"Ventari::Message"} << QStringList();
    QTest::newRow("none") << QByteArray("refresh()") << QByteArray("refresh") << QByteArrayList() << QStringList();
    QTest::newRow("two") << QByteArray("a(int,QString)") << QByteArray("a") << QByteArrayList{"int", "QString"}
                         << QStringList();
    QTest::newRow("untrimmed") << QByteArray("b(int, QString)") << QByteArray("b")
                               << QByteArrayList{"int", " QString"} << QStringList();
    QTest::newRow("no parentheses") << QByteArray("refresh") << QByteArray() << QByteArrayList()
                                    << QStringList{noName, noList};
    QTest::newRow("no closing") << QByteArray("open(int") << QByteArray("open") << QByteArrayList()
                                << QStringList{noList};
    QTest::newRow("no name") << QByteArray("(int)") << QByteArray() << QByteArrayList() << QStringList{noName};
}

void tst_Notifier::parseSignatures()
{
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, name);
    QFETCH(QByteArrayList, parameters);
    QFETCH(QStringList, reports);

    ReportRecorder recorder;
    const MethodInfo info(signature);
    QCOMPARE(info.name(), name);
    // The parameters of a broken signature are nobody's concern; it is parsed once all the same.
    if (reports.isEmpty())
        QCOMPARE(info.parameters(), parameters);
    else
        info.parameters();
    QCOMPARE(reportsOf(recorder), reports);
}

void tst_Notifier::findSignalAndSlot_data()
{
    QTest::addColumn<bool>("slot");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("signature");

    // Signals of Candidates, slots of Listener.
    QTest::newRow("overloaded signal") << false << QByteArray("twice") << QByteArray("twice(QString)");
    QTest::newRow("inherited signal") << false << QByteArray("destroyed") << QByteArray("destroyed(QObject*)");
    QTest::newRow("signal string") << false << QByteArray("2notThere(int)") << QByteArray("notThere(int)");
    QTest::newRow("case-sensitive") << false << QByteArray("Twice") << QByteArray();
    QTest::newRow("code, no parentheses") << false << QByteArray("2destroyed") << QByteArray();
    QTest::newRow("slot string") << false << QByteArray("1twice(int)") << QByteArray();
    QTest::newRow("overloaded slot") << true << QByteArray("onValue") << QByteArray("onValue(int)");
    QTest::newRow("slot string ok") << true << QByteArray("1whatever()") << QByteArray("whatever()");
    QTest::newRow("signal no slot") << true << QByteArray("relayed") << QByteArray();
}

void tst_Notifier::findSignalAndSlot()
{
    QFETCH(bool, slot);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, signature);

    if (slot)
        QCOMPARE(MetaObjectInfo::instance(&Listener::staticMetaObject).findSlot(text).signature(), signature);
    else
        QCOMPARE(MetaObjectInfo::instance(&Candidates::staticMetaObject).findSignal(text).signature(), signature);
}

void tst_Notifier::findSlotForSignal_data()
{
    QTest::addColumn<QByteArray>("signal");
    QTest::addColumn<QByteArray>("slot");

    // Candidates lists (QString), (int,QString,int), (int,QString), (int), () in this order.
    QTest::newRow("all parameters") << QByteArray("changed(int,QString)") << QByteArray("slot_changed(int,QString)");
    QTest::newRow("first parameter") << QByteArray("changed(int,bool)") << QByteArray("slot_changed(int)");
    QTest::newRow("no parameters") << QByteArray("changed(bool)") << QByteArray("slot_changed()");
    QTest::newRow("first in order") << QByteArray("changed(QString,int)") << QByteArray("slot_changed(QString)");
    QTest::newRow("other name") << QByteArray("change(int)") << QByteArray();
}

void tst_Notifier::findSlotForSignal()
{
    QFETCH(QByteArray, signal);
    QFETCH(QByteArray, slot);

    const MetaObjectInfo& observer = MetaObjectInfo::instance(&Candidates::staticMetaObject);
    const SlotInfo& found = observer.findSlotForSignal(SignalInfo(signal));
    QCOMPARE(found.signature(), slot);
    if (slot.isEmpty())
        QCOMPARE(&found, &SlotInfo::empty());
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
