#include "tst_notifier.h"

#include "testobjects.h"
#include "testsupport.h"

#include "common/notifier/metaobjectinfo.h"

#include <QtTest/QtTest>

#include <thread>

using Common::MetaObjectInfo;
using Common::MethodInfo;
using Common::SignalInfo;
using Common::SlotInfo;

namespace {

const QMetaObject* candidateClass(const QByteArray& name)
{
    const QMetaObject* const classes[] = {&SlotNoArguments::staticMetaObject, &SlotInt::staticMetaObject,
                                          &SlotIntText::staticMetaObject,     &SlotText::staticMetaObject,
                                          &SlotTooMany::staticMetaObject,     &SlotsInOrder::staticMetaObject};
    for (const QMetaObject* meta : classes) {
        if (name == meta->className())
            return meta;
    }
    return nullptr;
}

template <typename Info>
QByteArrayList signatures(const QList<Info>& infos)
{
    QByteArrayList result;
    for (const Info& info : infos)
        result << info.signature();
    return result;
}

} // namespace

void tst_Notifier::parseSignatures_data()
{
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArrayList>("parameters");

    QTest::newRow("one parameter") << QByteArray("done(Ventari::Message)") << QByteArray("done")
                                   << QByteArrayList{"Ventari::Message"};
    QTest::newRow("no parameters") << QByteArray("refresh()") << QByteArray("refresh") << QByteArrayList();
    QTest::newRow("two parameters") << QByteArray("a(int,QString)") << QByteArray("a")
                                    << QByteArrayList{"int", "QString"};
    QTest::newRow("parts are not trimmed") << QByteArray("b(int, QString)") << QByteArray("b")
                                           << QByteArrayList{"int", " QString"};
}

void tst_Notifier::parseSignatures()
{
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, name);
    QFETCH(QByteArrayList, parameters);

    ReportRecorder recorder;
    const MethodInfo info(signature);
    QCOMPARE(info.name(), name);
    QCOMPARE(info.parameters(), parameters);
    QCOMPARE(info.signature(), signature);

    QByteArray parsedName;
    QByteArrayList parsedParameters;
    info.parse(parsedName, parsedParameters);
    QCOMPARE(parsedName, name);
    QCOMPARE(parsedParameters, parameters);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::parseReports_data()
{
    QTest::addColumn<QByteArray>("signature");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QStringList>("reports");

    QTest::newRow("no parentheses") << QByteArray("refresh") << QByteArray()
                                    << QStringList{"endOfName > 0", "endOfParameterList >= startOfParameterList"};
    QTest::newRow("no closing parenthesis") << QByteArray("open(int") << QByteArray("open")
                                            << QStringList{"endOfParameterList >= startOfParameterList"};
    QTest::newRow("no name") << QByteArray("(int)") << QByteArray() << QStringList{"endOfName > 0"};
}

void tst_Notifier::parseReports()
{
    QFETCH(QByteArray, signature);
    QFETCH(QByteArray, name);
    QFETCH(QStringList, reports);

    ReportRecorder recorder;
    const MethodInfo info(signature);
    QCOMPARE(info.name(), name);
    info.parameters(); // parsed once: no second round of reports
    QCOMPARE(recorder.reportTexts(), reports);
    for (const Corvane::Report& report : recorder.reports()) {
        QCOMPARE(report.function, QStringLiteral("Common::MethodInfo::parse"));
        QCOMPARE(report.file, QStringLiteral("notifier/methodinfo"));
    }
}

void tst_Notifier::methodInfoCopiesButDoesNotAssign()
{
    ReportRecorder recorder;
    const MethodInfo parsed("a(int)");
    QCOMPARE(parsed.name(), QByteArray("a"));
    const MethodInfo copyOfParsed(parsed);
    const MethodInfo unparsed("c(QString)");
    const MethodInfo copyOfUnparsed(unparsed);
    QCOMPARE(copyOfParsed.signature(), QByteArray("a(int)"));
    QCOMPARE(copyOfParsed.parameters(), QByteArrayList{"int"});
    QCOMPARE(copyOfUnparsed.name(), QByteArray("c"));
    QVERIFY(recorder.isEmpty());

    MethodInfo target("b()");
    target = parsed;
    QCOMPARE(recorder.reportTexts(), QStringList{"false && \"Is not supposed to be called.\""});
    QCOMPARE(recorder.reports().first().function, QStringLiteral("Common::MethodInfo::operator ="));
    QCOMPARE(recorder.reports().first().file, QStringLiteral("notifier/methodinfo"));
    QCOMPARE(target.signature(), QByteArray("b()"));
    QCOMPARE(target.name(), QByteArray("b"));
}

void tst_Notifier::decoratedSignatures()
{
    ReportRecorder recorder;
    const SignalInfo signal("valueChanged(int)");
    QCOMPARE(signal.decoratedSignature(), QByteArray(SIGNAL(valueChanged(int))));
    const SlotInfo slot("onValue(int)");
    QCOMPARE(slot.decoratedSignature(), QByteArray(SLOT(onValue(int))));
    const SignalInfo copy(signal);
    QCOMPARE(copy.decoratedSignature(), QByteArray("2valueChanged(int)"));
    QCOMPARE(SignalInfo().decoratedSignature(), QByteArray());
    QCOMPARE(SlotInfo::empty().signature(), QByteArray());
    QCOMPARE(SlotInfo::empty().decoratedSignature(), QByteArray());
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::macroStrings_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("isSignal");
    QTest::addColumn<bool>("isSlot");
    QTest::addColumn<QByteArray>("stripped");

    QTest::newRow("signal") << QByteArray("2x(int)") << true << false << QByteArray("x(int)");
    QTest::newRow("slot") << QByteArray("1y()") << false << true << QByteArray("y()");
    QTest::newRow("plain signature") << QByteArray("x(int)") << false << false << QByteArray("x(int)");
    QTest::newRow("plain name") << QByteArray("valueChanged") << false << false << QByteArray("valueChanged");
    QTest::newRow("code without parentheses") << QByteArray("2x") << false << false << QByteArray("2x");
    QTest::newRow("parentheses the wrong way") << QByteArray("1)x(") << false << false << QByteArray("1)x(");
}

void tst_Notifier::macroStrings()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, isSignal);
    QFETCH(bool, isSlot);
    QFETCH(QByteArray, stripped);

    QCOMPARE(Common::isSignalMacroString(text), isSignal);
    QCOMPARE(Common::isSlotMacroString(text), isSlot);
    QCOMPARE(Common::stripMethodCode(text), stripped);
}

void tst_Notifier::findSignalAndSlot_data()
{
    QTest::addColumn<bool>("slot");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("signature");

    // Signals of ChangeSource, slots of Listener.
    QTest::newRow("signal by name") << false << QByteArray("changed") << QByteArray("changed(int,QString)");
    QTest::newRow("overloaded signal: first in method order") << false << QByteArray("twice")
                                                              << QByteArray("twice(QString)");
    QTest::newRow("inherited signal") << false << QByteArray("destroyed") << QByteArray("destroyed(QObject*)");
    QTest::newRow("signal string taken unchecked") << false << QByteArray("2notThere(int)")
                                                   << QByteArray("notThere(int)");
    QTest::newRow("names are case-sensitive") << false << QByteArray("Changed") << QByteArray();
    QTest::newRow("unknown signal") << false << QByteArray("nothing") << QByteArray();
    QTest::newRow("slot string is no signal") << false << QByteArray("1changed(int,QString)") << QByteArray();
    QTest::newRow("slot by name") << true << QByteArray("onText") << QByteArray("onText(QString)");
    QTest::newRow("overloaded slot: first in method order") << true << QByteArray("onValue") << QByteArray("onValue(int)");
    QTest::newRow("inherited slot") << true << QByteArray("deleteLater") << QByteArray("deleteLater()");
    QTest::newRow("slot string taken unchecked") << true << QByteArray("1whatever()") << QByteArray("whatever()");
    QTest::newRow("a signal is no slot") << true << QByteArray("relayed") << QByteArray();
}

void tst_Notifier::findSignalAndSlot()
{
    QFETCH(bool, slot);
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, signature);

    ReportRecorder recorder;
    if (slot)
        QCOMPARE(MetaObjectInfo::instance(&Listener::staticMetaObject).findSlot(text).signature(), signature);
    else
        QCOMPARE(MetaObjectInfo::instance(&ChangeSource::staticMetaObject).findSignal(text).signature(), signature);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::findSlotForSignal_data()
{
    QTest::addColumn<QByteArray>("observerClass");
    QTest::addColumn<QByteArray>("slot");

    // For the signal changed(int,QString).
    QTest::newRow("no parameters") << QByteArray("SlotNoArguments") << QByteArray("slot_changed()");
    QTest::newRow("first parameter") << QByteArray("SlotInt") << QByteArray("slot_changed(int)");
    QTest::newRow("all parameters") << QByteArray("SlotIntText") << QByteArray("slot_changed(int,QString)");
    QTest::newRow("other parameter") << QByteArray("SlotText") << QByteArray();
    QTest::newRow("more parameters") << QByteArray("SlotTooMany") << QByteArray();
    QTest::newRow("first fit in method order") << QByteArray("SlotsInOrder") << QByteArray("slot_changed(int)");
}

void tst_Notifier::findSlotForSignal()
{
    QFETCH(QByteArray, observerClass);
    QFETCH(QByteArray, slot);

    ReportRecorder recorder;
    const SignalInfo signal = MetaObjectInfo::instance(&ChangeSource::staticMetaObject).findSignal("changed");
    const MetaObjectInfo& observer = MetaObjectInfo::instance(candidateClass(observerClass));
    QVERIFY(observer.metaObject());

    const SlotInfo& found = observer.findSlotForSignal(signal);
    QCOMPARE(found.signature(), slot);
    if (slot.isEmpty()) {
        QCOMPARE(&found, &SlotInfo::empty());
    } else {
        const auto inList = std::find_if(observer.slotInfos().cbegin(), observer.slotInfos().cend(),
                                         [&found](const SlotInfo& info) { return &info == &found; });
        QVERIFY(inList != observer.slotInfos().cend());
    }
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::metaObjectInfoLists()
{
    const MetaObjectInfo base(&QObject::staticMetaObject);
    QStringList journal;
    Listener listener(&journal);
    const MetaObjectInfo info(&listener);
    QCOMPARE(info.metaObject(), &Listener::staticMetaObject);

    // Inherited methods first, then the class's own in declaration order.
    const QByteArrayList ownSignals{"relayed(int)", "valueChanged(int)", "textRelayed(QString)"};
    const QByteArrayList ownSlots{"onValue(int)", "onValue(int,QString)", "onText(QString)", "slot_valueChanged(int)",
                                  "slot_ping()"};
    QCOMPARE(signatures(info.signalInfos()), signatures(base.signalInfos()) + ownSignals);
    QCOMPARE(signatures(info.slotInfos()), signatures(base.slotInfos()) + ownSlots);
    QVERIFY(signatures(base.signalInfos()).contains("destroyed(QObject*)"));
    QVERIFY(signatures(base.slotInfos()).contains("deleteLater()"));

    const MetaObjectInfo empty;
    QVERIFY(empty.signalInfos().isEmpty());
    QVERIFY(empty.slotInfos().isEmpty());
    QCOMPARE(empty.findSignal("destroyed").signature(), QByteArray());
}

void tst_Notifier::registryGivesOneInfoPerClass()
{
    const MetaObjectInfo& info = MetaObjectInfo::instance(&Listener::staticMetaObject);
    QCOMPARE(&MetaObjectInfo::instance(&Listener::staticMetaObject), &info);
    QCOMPARE(info.metaObject(), &Listener::staticMetaObject);
    QVERIFY(&MetaObjectInfo::instance(&Publisher::staticMetaObject) != &info);

    // First requests from several threads at once still make one info with one list.
    const QMetaObject* meta = &SlotsInOrder::staticMetaObject;
    const MetaObjectInfo* seen[4] = {};
    int slotCounts[4] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([i, meta, &seen, &slotCounts] {
            seen[i] = &MetaObjectInfo::instance(meta);
            slotCounts[i] = seen[i]->slotInfos().size();
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    const int ownSlots = 5;
    const int expectedSlots = MetaObjectInfo(&QObject::staticMetaObject).slotInfos().size() + ownSlots;
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(seen[i], &MetaObjectInfo::instance(meta));
        QCOMPARE(slotCounts[i], expectedSlots);
    }
}

void tst_Notifier::metaObjectInfoAssignsOnlyOnce()
{
    ReportRecorder recorder;
    MetaObjectInfo info;
    info = MetaObjectInfo(&Listener::staticMetaObject);
    QCOMPARE(info.metaObject(), &Listener::staticMetaObject);
    QVERIFY(recorder.isEmpty());

    info = MetaObjectInfo(&Publisher::staticMetaObject);
    QCOMPARE(recorder.reportTexts(),
             QStringList{"m_metaObject == NULL && \"Only initial assignment is allowed.\""});
    QCOMPARE(recorder.reports().first().function, QStringLiteral("Common::MetaObjectInfo::operator ="));
    QCOMPARE(recorder.reports().first().file, QStringLiteral("notifier/metaobjectinfo"));
    QCOMPARE(info.metaObject(), &Publisher::staticMetaObject);
    QCOMPARE(info.findSignal("ping").signature(), QByteArray("ping()"));
}
