#include "tst_notifier.h"

#include "testobjects.h"
#include "testsupport.h"

#include "common/notifier/commonabstractnotifier_p.h"
#include "common/notifier/observerdestroyhelper.h"

#include <QtTest/QtTest>

#include <functional>

using Common::Link;
using Scenario = std::function<void(Publisher&, Listener&)>;
using NotifierFactory = std::function<QObject*(QStringList*)>;
Q_DECLARE_METATYPE(Scenario)
Q_DECLARE_METATYPE(NotifierFactory)

namespace {

const QString notifierFile = QStringLiteral("notifier/commonabstractnotifier");
const QString privateFile = QStringLiteral("notifier/commonabstractnotifier_p");

const QString signalNotFound = QStringLiteral("false && \"Appropriate signal could not be found\"");
const QString slotNotFound = QStringLiteral("false && \"Appropriate slot could not be found\"");
const QString alreadySubscribed = QStringLiteral("false && \"Such signal/slot pair is already subscribed\"");
const QString notSubscribed = QStringLiteral("false && \"Such signal/slot pair is not subscribed\"");
const QString connectFailed = QStringLiteral("false && \"Failed to subscribe/unsubscribe signal/slot\"");

Link makeLink(QObject* observer, const QByteArray& method, const QByteArray& signalName, const QByteArray& signature)
{
    Link link;
    link.delegate.observer = observer;
    link.delegate.method = method;
    link.signalName = signalName;
    link.signalSignature = signature;
    return link;
}

QList<Common::ObserverDestroyHelper*> helpersOf(const QObject* observer)
{
    return observer->findChildren<Common::ObserverDestroyHelper*>(QString(), Qt::FindDirectChildrenOnly);
}

QStringList linesStartingWith(const QStringList& journal, const QString& prefix)
{
    QStringList lines;
    for (const QString& line : journal) {
        if (line.startsWith(prefix))
            lines << line;
    }
    return lines;
}

void emitValueChanged(QObject* notifier, int value)
{
    QVERIFY(QMetaObject::invokeMethod(notifier, "valueChanged", Q_ARG(int, value)));
}

} // namespace

void tst_Notifier::subscribeByNamesDelivers()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);

    publisher.subscribe("valueChanged", &listener, "onValue");
    publisher.subscribe(SIGNAL(textChanged(QString)), &listener, SLOT(onText(QString)));
    QCOMPARE(journal, (QStringList{"attached 2valueChanged(int) -> 1onValue(int)",
                                   "onLinkAttached 2valueChanged(int) -> 1onValue(int)",
                                   "onLinkAttached 2textChanged(QString) -> 1onText(QString)"}));
    QVERIFY(publisher.isSubscribed("valueChanged", &listener, "onValue"));
    QVERIFY(publisher.isSubscribed("textChanged", &listener, "onText"));

    journal.clear();
    emit publisher.valueChanged(3);
    emit publisher.textChanged(QStringLiteral("hi"));
    QCOMPARE(journal, (QStringList{"onValue 3", "onText hi"}));
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::repeatedSubscriptionMakesOneLink_data()
{
    QTest::addColumn<Scenario>("subscribe");
    QTest::addColumn<int>("links");
    QTest::addColumn<QStringList>("delivered");

    QTest::newRow("named") << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, "onValue"); })
                           << 1 << QStringList{"onValue 4"};
    QTest::newRow("slot_ convention") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "valueChanged"); })
                                      << 1 << QStringList{"slot_valueChanged 4"};
    // slot_valueChanged(int) fits both valueChanged overloads; slot_ping() fits ping().
    QTest::newRow("whole observer") << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l); }) << 3
                                    << QStringList{"slot_valueChanged 4"};
    QTest::newRow("forward by name")
        << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "relayed"); }) << 1
        << QStringList{"relayed 4"};
    QTest::newRow("forward same signal") << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "valueChanged"); })
                                         << 1 << QStringList{"valueChanged 4"};
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
    connect(&listener, &Listener::relayed, [&journal](int value) { journal << QStringLiteral("relayed %1").arg(value); });
    connect(&listener, &Listener::valueChanged,
            [&journal](int value) { journal << QStringLiteral("valueChanged %1").arg(value); });

    subscribe(publisher, listener);
    subscribe(publisher, listener);
    QCOMPARE(linesStartingWith(journal, "onLinkAttached").size(), links);

    journal.clear();
    emit publisher.valueChanged(4);
    QCOMPARE(journal, delivered);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::failedRequestsAreReported_data()
{
    QTest::addColumn<Scenario>("request");
    QTest::addColumn<QString>("function");
    QTest::addColumn<QString>("expression");
    QTest::addColumn<QString>("qtWarning");
    QTest::addColumn<bool>("linked");

    const QString subscribe = QStringLiteral("Common::AbstractNotifier::subscribe");
    const QString unsubscribe = QStringLiteral("Common::AbstractNotifier::unsubscribe");
    const QString isSubscribed = QStringLiteral("Common::AbstractNotifier::isSubscribed");
    const QString forward = QStringLiteral("Common::AbstractNotifier::forward");
    const QString incompatible = QStringLiteral("^QObject::connect: Incompatible sender/receiver arguments");

    QTest::newRow("subscribe named, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe("noSuchSignal", &l, "onValue"); }) << subscribe
        << signalNotFound << QString() << false;
    QTest::newRow("subscribe named, unknown slot")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, "noSuchSlot"); }) << subscribe
        << slotNotFound << QString() << false;
    QTest::newRow("subscribe named, connect refused")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe("valueChanged", &l, SLOT(onText(QString))); })
        << subscribe << connectFailed << incompatible << false;
    QTest::newRow("subscribe slot_, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "noSuchSignal"); }) << subscribe << signalNotFound
        << QString() << false;
    QTest::newRow("subscribe slot_, no slot_ slot")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe(&l, "textChanged"); }) << subscribe << slotNotFound
        << QString() << false;
    QTest::newRow("subscribe link, already subscribed") << Scenario([](Publisher& p, Listener& l) {
        p.subscribe(&l, "ping");
        p.subscribe(makeLink(&l, "1slot_ping()", "ping", "2ping()"));
    }) << subscribe << alreadySubscribed << QString() << true;
    QTest::newRow("subscribe link, connect refused")
        << Scenario([](Publisher& p, Listener& l) { p.subscribe(makeLink(&l, "1noSuchSlot()", "ping", "2ping()")); })
        << subscribe << connectFailed << QStringLiteral("^QObject::connect: No such slot Listener::noSuchSlot") << false;

    QTest::newRow("unsubscribe named, never subscribed")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe("valueChanged", &l, "onValue"); }) << unsubscribe
        << notSubscribed << QString() << false;
    QTest::newRow("unsubscribe named, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe("noSuchSignal", &l, "onValue"); }) << unsubscribe
        << signalNotFound << QString() << false;
    QTest::newRow("unsubscribe named, unknown slot")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe("valueChanged", &l, "noSuchSlot"); })
        << unsubscribe << slotNotFound << QString() << false;
    QTest::newRow("unsubscribe named, connection already gone") << Scenario([](Publisher& p, Listener& l) {
        p.subscribe("valueChanged", &l, "onValue");
        QObject::disconnect(&p, nullptr, &l, nullptr);
        p.unsubscribe("valueChanged", &l, "onValue");
    }) << unsubscribe << connectFailed << QString() << true;
    QTest::newRow("unsubscribe by signal, not subscribed")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe(&l, "valueChanged"); }) << unsubscribe
        << notSubscribed << QString() << false;
    QTest::newRow("unsubscribe by signal, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe(&l, "noSuchSignal"); }) << unsubscribe
        << notSubscribed << QString() << false;
    QTest::newRow("unsubscribe link, not subscribed")
        << Scenario([](Publisher& p, Listener& l) { p.unsubscribe(makeLink(&l, "1slot_ping()", "ping", "2ping()")); })
        << unsubscribe << notSubscribed << QString() << false;

    QTest::newRow("isSubscribed slot_, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { QVERIFY(!p.isSubscribed(&l, "noSuchSignal")); }) << isSubscribed
        << signalNotFound << QString() << false;
    QTest::newRow("isSubscribed named, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { QVERIFY(!p.isSubscribed("noSuchSignal", &l, "onValue")); })
        << isSubscribed << signalNotFound << QString() << false;
    QTest::newRow("isSubscribed named, unknown slot")
        << Scenario([](Publisher& p, Listener& l) { QVERIFY(!p.isSubscribed("valueChanged", &l, "noSuchSlot")); })
        << isSubscribed << slotNotFound << QString() << false;

    QTest::newRow("forward, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward("noSuchSignal", &l, "relayed"); }) << forward
        << signalNotFound << QString() << false;
    QTest::newRow("forward, unknown target signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "noSuchSignal"); }) << forward
        << signalNotFound << QString() << false;
    QTest::newRow("forward, incompatible target signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "textRelayed"); }) << forward
        << connectFailed << incompatible << false;
    QTest::newRow("forward same, unknown signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "noSuchSignal"); }) << forward << signalNotFound
        << QString() << false;
    QTest::newRow("forward same, target lacks the signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "textChanged"); }) << forward << connectFailed
        << QStringLiteral("^QObject::connect: No such signal Listener::textChanged") << false;
}

void tst_Notifier::failedRequestsAreReported()
{
    QFETCH(Scenario, request);
    QFETCH(QString, function);
    QFETCH(QString, expression);
    QFETCH(QString, qtWarning);
    QFETCH(bool, linked);

    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    if (!qtWarning.isEmpty())
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(qtWarning));

    request(publisher, listener);

    QCOMPARE(recorder.reports().size(), 1);
    const Corvane::Report& report = recorder.reports().first();
    QCOMPARE(report.kind, Corvane::Report::Assertion);
    QCOMPARE(report.expression, expression);
    QCOMPARE(report.function, function);
    QCOMPARE(report.file, notifierFile);
    QCOMPARE(report.object, static_cast<const void*>(static_cast<QObject*>(&publisher)));
    QVERIFY(recorder.records().isEmpty());
    QCOMPARE(publisher.isSubscribed(&listener), linked);
    QCOMPARE(helpersOf(&listener).size(), linked ? 1 : 0);
}

void tst_Notifier::overloadsResolveInMethodOrder()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);

    publisher.subscribe("valueChanged", &listener, "onValue");
    QCOMPARE(linesStartingWith(journal, "attached"), QStringList{"attached 2valueChanged(int) -> 1onValue(int)"});

    journal.clear();
    emit publisher.valueChanged(1, QStringLiteral("one"));
    emit publisher.valueChanged(2);
    QCOMPARE(journal, QStringList{"onValue 2"});
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::isSubscribedForms()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    Listener other(&journal);

    publisher.subscribe("valueChanged", &listener, "onValue");
    QVERIFY(publisher.isSubscribed("valueChanged", &listener, "onValue"));
    QVERIFY(publisher.isSubscribed(&listener));
    // The two-argument form looks for the slot_ link only.
    QVERIFY(!publisher.isSubscribed(&listener, "valueChanged"));

    publisher.subscribe("valueChanged", &listener, "slot_valueChanged");
    QVERIFY(publisher.isSubscribed(&listener, "valueChanged"));

    QVERIFY(!publisher.isSubscribed(&listener, "ping"));
    QVERIFY(!publisher.isSubscribed(&listener, "textChanged")); // no slot_ slot: false, not reported
    QVERIFY(!publisher.isSubscribed("valueChanged", &other, "onValue"));
    QVERIFY(!publisher.isSubscribed(&other));
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::unsubscribeForms()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    publisher.subscribe("valueChanged", &listener, "onValue");
    publisher.subscribe(&listener, "ping");
    publisher.subscribe("textChanged", &listener, "onText");
    journal.clear();

    publisher.unsubscribe("valueChanged", &listener, "onValue");
    QVERIFY(!publisher.isSubscribed("valueChanged", &listener, "onValue"));
    // By observer and signal: the slot_ link ...
    publisher.unsubscribe(&listener, "ping");
    QVERIFY(!publisher.isSubscribed(&listener, "ping"));
    QVERIFY(publisher.isSubscribed(&listener));
    // ... or else the observer's link for that signal.
    publisher.unsubscribe(&listener, "textChanged");
    QVERIFY(!publisher.isSubscribed(&listener));
    QCOMPARE(journal, (QStringList{"detached 2valueChanged(int) -> 1onValue(int)",
                                   "onLinkDetached 2valueChanged(int) -> 1onValue(int)",
                                   "detached 2ping() -> 1slot_ping()", "onLinkDetached 2ping() -> 1slot_ping()",
                                   "onLinkDetached 2textChanged(QString) -> 1onText(QString)"}));

    journal.clear();
    emit publisher.valueChanged(1);
    emit publisher.ping();
    emit publisher.textChanged(QStringLiteral("gone"));
    QVERIFY(journal.isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::unsubscribeObserverVisitsLinksInOrder()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    publisher.subscribe("textChanged", &listener, "onText");
    publisher.subscribe(&listener, "valueChanged");
    publisher.subscribe("ping", &listener, "slot_ping");
    publisher.subscribe("valueChanged", &listener, "onValue");
    journal.clear();

    publisher.unsubscribe(&listener);

    QCOMPARE(linesStartingWith(journal, "onLinkDetached"),
             (QStringList{"onLinkDetached 2ping() -> 1slot_ping()",
                          "onLinkDetached 2textChanged(QString) -> 1onText(QString)",
                          "onLinkDetached 2valueChanged(int) -> 1onValue(int)",
                          "onLinkDetached 2valueChanged(int) -> 1slot_valueChanged(int)"}));
    QVERIFY(!publisher.isSubscribed(&listener));
    QVERIFY(helpersOf(&listener).isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::forwardSignalToSignal_data()
{
    QTest::addColumn<Scenario>("forward");
    QTest::addColumn<QByteArray>("targetSignal");

    QTest::newRow("named target signal")
        << Scenario([](Publisher& p, Listener& l) { p.forward("valueChanged", &l, "relayed"); })
        << QByteArray(SIGNAL(relayed(int)));
    QTest::newRow("target signal of the same signature")
        << Scenario([](Publisher& p, Listener& l) { p.forward(&l, "valueChanged"); })
        << QByteArray(SIGNAL(valueChanged(int)));
}

void tst_Notifier::forwardSignalToSignal()
{
    QFETCH(Scenario, forward);
    QFETCH(QByteArray, targetSignal);

    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Listener listener(&journal);
    QSignalSpy spy(&listener, targetSignal.constData());

    forward(publisher, listener);
    QCOMPARE(linesStartingWith(journal, "attached"),
             QStringList{"attached 2valueChanged(int) -> " + QString::fromLatin1(targetSignal)});
    emit publisher.valueChanged(9);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().toInt(), 9);

    publisher.unsubscribe(&listener);
    emit publisher.valueChanged(10);
    QCOMPARE(spy.size(), 1);
    QVERIFY(recorder.isEmpty());
}

static void addNotifierKinds()
{
    QTest::addColumn<NotifierFactory>("create");
    QTest::newRow("framework as direct base")
        << NotifierFactory([](QStringList* journal) -> QObject* { return new Publisher(journal); });
    QTest::newRow("framework as virtual base")
        << NotifierFactory([](QStringList* journal) -> QObject* { return new Feed(journal); });
}

void tst_Notifier::observerDeletedFirst_data()
{
    addNotifierKinds();
}

void tst_Notifier::observerDeletedFirst()
{
    QFETCH(NotifierFactory, create);

    ReportRecorder recorder;
    QStringList journal;
    QScopedPointer<QObject> object(create(&journal));
    Common::INotifier* notifier = dynamic_cast<Common::INotifier*>(object.data());
    QVERIFY(notifier);
    Listener* listener = new Listener(&journal);
    notifier->subscribe("valueChanged", listener, "onValue");
    notifier->subscribe(listener, "valueChanged");
    notifier->forward("valueChanged", listener, "relayed");
    QCOMPARE(helpersOf(listener).size(), 1);
    journal.clear();

    const QObject* gone = listener;
    delete listener;

    QCOMPARE(linesStartingWith(journal, "detached"),
             (QStringList{"detached 2valueChanged(int) -> 1onValue(int)",
                          "detached 2valueChanged(int) -> 1slot_valueChanged(int)",
                          "detached 2valueChanged(int) -> 2relayed(int)"}));
    QVERIFY(!notifier->isSubscribed(const_cast<QObject*>(gone)));

    journal.clear();
    emitValueChanged(object.data(), 5);
    QVERIFY(journal.isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::notifierDeletedFirst_data()
{
    addNotifierKinds();
}

void tst_Notifier::notifierDeletedFirst()
{
    QFETCH(NotifierFactory, create);

    ReportRecorder recorder;
    QStringList journal;
    QObject* object = create(&journal);
    Common::INotifier* notifier = dynamic_cast<Common::INotifier*>(object);
    QVERIFY(notifier);
    Listener* listener = new Listener(&journal);
    notifier->subscribe("valueChanged", listener, "onValue");
    notifier->subscribe(listener, "valueChanged");
    journal.clear();

    delete object;
    QVERIFY(journal.isEmpty());
    // The helper stays with its observer, cut off from the dead notifier.
    QCOMPARE(helpersOf(listener).size(), 1);

    delete listener;
    QVERIFY(journal.isEmpty());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::destroyHelperFollowsLinks()
{
    ReportRecorder recorder;
    QStringList journal;
    Publisher publisher(&journal);
    Publisher second(&journal);
    Listener listener(&journal);
    QVERIFY(helpersOf(&listener).isEmpty());

    publisher.subscribe("valueChanged", &listener, "onValue");
    QCOMPARE(helpersOf(&listener).size(), 1);
    QCOMPARE(helpersOf(&listener).first()->parent(), &listener);
    publisher.subscribe(&listener, "ping");
    QCOMPARE(helpersOf(&listener).size(), 1);
    second.subscribe(&listener, "ping");
    QCOMPARE(helpersOf(&listener).size(), 2);

    publisher.unsubscribe("valueChanged", &listener, "onValue");
    QCOMPARE(helpersOf(&listener).size(), 2);
    publisher.unsubscribe(&listener, "ping");
    QCOMPARE(helpersOf(&listener).size(), 1);
    second.unsubscribe(&listener);
    QVERIFY(helpersOf(&listener).isEmpty());

    publisher.subscribe(&listener, "ping");
    QCOMPARE(helpersOf(&listener).size(), 1);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::subscribeObserverBySlotConvention()
{
    ReportRecorder recorder;
    OverloadPublisher publisher;
    OverloadListener listener;

    publisher.subscribe(&listener);
    QVERIFY(publisher.isSubscribed(SIGNAL(a(int)), &listener, "slot_a"));
    QVERIFY(publisher.isSubscribed(SIGNAL(a(int, QString)), &listener, "slot_a"));
    emit publisher.a(1);
    emit publisher.a(2, QStringLiteral("two"));
    QCOMPARE(listener.values, (QList<int>{1, 2}));

    publisher.subscribe(&listener);
    emit publisher.a(3);
    QCOMPARE(listener.values, (QList<int>{1, 2, 3}));
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::subscribeObserverWithoutSlotsLogs()
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
    QCOMPARE(record.file, notifierFile);
    QVERIFY(!publisher.isSubscribed(&plain));
    QVERIFY(helpersOf(&plain).isEmpty());
    QVERIFY(journal.isEmpty());
}

void tst_Notifier::attachedSlotsOfWrongShapeAreReported()
{
    ReportRecorder recorder;
    QStringList journal;
    OddSlotsPublisher publisher;
    Listener listener(&journal);

    publisher.subscribe("x", &listener, "slot_ping");

    QCOMPARE(recorder.reportTexts(),
             (QStringList{"false && \"slot name matches the signal, while the argument type is incorrect\"",
                          "false && \"slot name matches the signal, while the argument count does not\""}));
    for (const Corvane::Report& report : recorder.reports()) {
        QCOMPARE(report.function, QStringLiteral("Common::AbstractNotifierPrivate::callAttachDetachSlots"));
        QCOMPARE(report.file, privateFile);
        QCOMPARE(report.object, static_cast<const void*>(static_cast<QObject*>(&publisher)));
    }
    QCOMPARE(publisher.calls, QStringList{"attached_x(const Link*)"});
    QVERIFY(publisher.isSubscribed("x", &listener, "slot_ping"));
}

void tst_Notifier::linkPointerIsAMetaType()
{
    QStringList journal;
    Publisher publisher(&journal);
    const QMetaObject& meta = Publisher::staticMetaObject;
    const int index = meta.indexOfSlot("attached_valueChanged(const Link*)");
    QVERIFY(index >= 0);
    QCOMPARE(meta.method(index).parameterTypes(), QList<QByteArray>{"const Link*"});
    QVERIFY(QMetaType::type("const Link*") != QMetaType::UnknownType);
    QCOMPARE(QMetaType::type("const Link*"), qMetaTypeId<const Link*>());

    // A queued call has to carry the pointer through the meta-type system.
    const Link link = makeLink(&publisher, "1deleteLater()", "valueChanged", "2valueChanged(int)");
    QVERIFY(QMetaObject::invokeMethod(&publisher, "attached_valueChanged", Qt::QueuedConnection,
                                      Q_ARG(const Link*, &link)));
    QVERIFY(journal.isEmpty());
    QCoreApplication::processEvents();
    QCOMPARE(journal, QStringList{"attached 2valueChanged(int) -> 1deleteLater()"});
}

void tst_Notifier::linkOrder_data()
{
    QTest::addColumn<QByteArrayList>("first");
    QTest::addColumn<QByteArrayList>("second");
    QTest::addColumn<int>("order");

    // Each side: signal name, signal signature, observer (0 or 1, in address order), method.
    QTest::newRow("signal name first") << QByteArrayList{"ping", "2ping()", "1", "1z()"}
                                       << QByteArrayList{"valueChanged", "2valueChanged(int)", "0", "1a()"} << -1;
    QTest::newRow("then signal signature") << QByteArrayList{"v", "2v(int)", "1", "1z()"}
                                           << QByteArrayList{"v", "2v(int,QString)", "0", "1a()"} << -1;
    QTest::newRow("then observer") << QByteArrayList{"v", "2v(int)", "1", "1a()"}
                                   << QByteArrayList{"v", "2v(int)", "0", "1z()"} << 1;
    QTest::newRow("then method") << QByteArrayList{"v", "2v(int)", "0", "1b()"}
                                 << QByteArrayList{"v", "2v(int)", "0", "1a()"} << 1;
    QTest::newRow("equal") << QByteArrayList{"v", "2v(int)", "0", "1a()"} << QByteArrayList{"v", "2v(int)", "0", "1a()"}
                           << 0;
}

void tst_Notifier::linkOrder()
{
    QFETCH(QByteArrayList, first);
    QFETCH(QByteArrayList, second);
    QFETCH(int, order);

    QObject observers[2];
    const auto toLink = [&observers](const QByteArrayList& parts) {
        return makeLink(&observers[parts.at(2).toInt()], parts.at(3), parts.at(0), parts.at(1));
    };
    const Link a = toLink(first);
    const Link b = toLink(second);
    QCOMPARE(a < b, order < 0);
    QCOMPARE(b < a, order > 0);
    QCOMPARE(a == b, order == 0);
    QCOMPARE(a != b, order != 0);
}

void tst_Notifier::linkOrErrorReports()
{
    using LinkOrError = Common::AbstractNotifierPrivate::LinkOrError;
    ReportRecorder recorder;
    QObject observer;
    const Link link = makeLink(&observer, "1deleteLater()", "destroyed", "2destroyed()");
    QVERIFY(link.isValid());

    const LinkOrError ok(link);
    QVERIFY(ok.isOk());
    QCOMPARE(ok.result(), int(Common::resultOk));
    QVERIFY(ok.link() == link);
    const LinkOrError error(Common::resultSlotNotFound);
    QVERIFY(!error.isOk());
    QCOMPARE(error.result(), int(Common::resultSlotNotFound));
    QVERIFY(!error.link().isValid());
    QVERIFY(recorder.isEmpty());

    const LinkOrError fromInvalid{Link()};
    const LinkOrError fromOk(Common::resultOk);
    QCOMPARE(recorder.reportTexts(), (QStringList{"link.isValid()", "r != resultOk"}));
    for (const Corvane::Report& report : recorder.reports()) {
        QCOMPARE(report.function, QStringLiteral("Common::AbstractNotifierPrivate::LinkOrError::LinkOrError"));
        QCOMPARE(report.file, privateFile);
    }
}

void tst_Notifier::linksByKeyEraseReports()
{
    ReportRecorder recorder;
    QObject observer;
    const Link link = makeLink(&observer, "1deleteLater()", "destroyed", "2destroyed()");

    Common::AbstractNotifierPrivate::LinksByKey<const QObject*> byObserver;
    byObserver.insert(&observer, link);
    QCOMPARE(byObserver.links(&observer).size(), size_t(1));
    byObserver.erase(&observer, link);
    QVERIFY(!byObserver.contains(&observer));
    QVERIFY(&byObserver.links(&observer) == &Common::AbstractNotifierPrivate::emptyLinkSet());
    QVERIFY(recorder.isEmpty());
    byObserver.erase(&observer, link);

    Common::AbstractNotifierPrivate::LinksByKey<QByteArray> bySignal;
    bySignal.erase("destroyed", link);

    QCOMPARE(recorder.reportTexts(), (QStringList{"it != end()", "it != end()"}));
    QCOMPARE(recorder.reports().at(0).function,
             QStringLiteral("Common::AbstractNotifierPrivate::LinksByKey<class QObject const *>::erase"));
    QCOMPARE(recorder.reports().at(1).function,
             QStringLiteral("Common::AbstractNotifierPrivate::LinksByKey<class QByteArray>::erase"));
    QCOMPARE(recorder.reports().at(0).file, privateFile);
    QCOMPARE(recorder.reports().at(1).file, privateFile);
}

void tst_Notifier::destroyHelperReports()
{
    QCOMPARE(QByteArray(Common::ObserverDestroyHelper::staticMetaObject.className()),
             QByteArray("Common::ObserverDestroyHelper"));
    QCOMPARE(Common::ObserverDestroyHelper::staticMetaObject.methodCount(), QObject::staticMetaObject.methodCount());

    ReportRecorder recorder;
    {
        Common::ObserverDestroyHelper helper(nullptr, nullptr);
    }
    QCOMPARE(recorder.reportTexts(), (QStringList{"NULL != observer", "NULL != notifier"}));
    for (const Corvane::Report& report : recorder.reports()) {
        QCOMPARE(report.function, QStringLiteral("Common::ObserverDestroyHelper::ObserverDestroyHelper"));
        QCOMPARE(report.file, QStringLiteral("notifier/observerdestroyhelper"));
    }
}

void tst_Notifier::castToFollowsTheObject()
{
    QStringList journal;
    Feed feed(&journal);
    IFeed* interface = &feed;

    QCOMPARE(interface->castTo<QObject>(), static_cast<QObject*>(&feed));
    QCOMPARE(interface->castTo<Feed>(), &feed);
    QCOMPARE(interface->castTo<Common::AbstractNotifier>(), static_cast<Common::AbstractNotifier*>(&feed));
    QCOMPARE(interface->castTo<Common::INotifier>(), static_cast<Common::INotifier*>(interface));
    QCOMPARE(interface->castTo<Listener>(), static_cast<Listener*>(nullptr));
    QCOMPARE(interface->castTo(typeid(int)), static_cast<void*>(nullptr));
}

void tst_Notifier::notifierThatIsNoQObjectIsReported()
{
    ReportRecorder recorder;
    NotAQObjectNotifier notifier;

    QCOMPARE(notifier.qobject(), static_cast<QObject*>(nullptr));

    QCOMPARE(recorder.reportTexts(), QStringList{"result != NULL"});
    QCOMPARE(recorder.reports().first().function, QStringLiteral("Common::AbstractNotifier::qobject"));
    QCOMPARE(recorder.reports().first().file, notifierFile);
    QCOMPARE(recorder.records().size(), 1);
    QCOMPARE(recorder.records().first().message, QStringLiteral("object must be inherited from QObject"));

    // Requests on it fail through the usual reports.
    recorder.clear();
    QStringList journal;
    Listener listener(&journal);
    notifier.subscribe("valueChanged", &listener, "onValue");
    QVERIFY(recorder.reportTexts().contains(signalNotFound));
    QVERIFY(!notifier.isSubscribed(&listener));
}

QTEST_GUILESS_MAIN(tst_Notifier)
