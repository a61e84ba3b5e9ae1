#include "tst_notifier.h"

#include "testsupport.h"

#include "common/criticalsection.h"

#include <QtTest/QtTest>

#include <atomic>
#include <thread>

using Common::CriticalSection;
using Common::CriticalSectionLocker;

namespace {

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

void tst_Notifier::criticalSectionIsReentrant()
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
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::criticalSectionExcludesOtherThreads()
{
    ReportRecorder recorder;
    CriticalSection section;
    QVERIFY(tryEnterFromAnotherThread(section));
    {
        CriticalSectionLocker locker(section);
        QVERIFY(!tryEnterFromAnotherThread(section));
    }
    QVERIFY(tryEnterFromAnotherThread(section));

    // A blocked enter() goes through once the holder leaves.
    section.enter();
    std::atomic<bool> entered(false);
    std::thread waiting([&section, &entered] {
        section.enter();
        entered = true;
        section.leave();
    });
    QVERIFY(!entered);
    section.leave();
    waiting.join();
    QVERIFY(entered);
    QVERIFY(recorder.isEmpty());
}

void tst_Notifier::movedFromCriticalSectionReports()
{
    CriticalSection original;
    CriticalSection moved(std::move(original));
    ReportRecorder recorder;

    original.enter();
    QVERIFY(!original.tryEnter());
    original.leave();

    QCOMPARE(recorder.reportTexts(),
             (QStringList{"m_impl.get() != NULL", "m_impl.get() != NULL", "m_impl.get() != NULL"}));
    QCOMPARE(recorder.reports().at(0).function, QStringLiteral("Common::CriticalSection::enter"));
    QCOMPARE(recorder.reports().at(1).function, QStringLiteral("Common::CriticalSection::tryEnter"));
    QCOMPARE(recorder.reports().at(2).function, QStringLiteral("Common::CriticalSection::leave"));
    for (const Corvane::Report& report : recorder.reports())
        QCOMPARE(report.file, QStringLiteral("criticalsection"));

    recorder.clear();
    moved.enter();
    QVERIFY(!tryEnterFromAnotherThread(moved));
    moved.leave();
    QVERIFY(recorder.isEmpty());
}
