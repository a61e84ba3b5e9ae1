#include "messagenotation.h"

#include "messagemerge.h"

#include <QtTest/QtTest>

using namespace ModelTest;
using Ventari::MessageChanges;
using Ventari::mergePage;

using Ids = QList<int>;

class tst_MessageMerge : public QObject
{
    Q_OBJECT

private slots:
    void merge_data();
    void merge();
    void copies();
};

void tst_MessageMerge::merge_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("result");
    QTest::addColumn<Ids>("removed");
    QTest::addColumn<Ids>("added");
    QTest::addColumn<Ids>("changed");
    QTest::addColumn<int>("below"); // the page was loaded below this id; -1: the newest

    QTest::newRow("one message lost a like") << "10 20+7+9 30" << "30 20+9 10" << "10 20+9 30" << Ids{} << Ids{} << Ids{20} << -1;
    QTest::newRow("a changed likes set brings the new body along")
        << "10 20 30" << "30 20+7* 10" << "10 20+7* 30" << Ids{} << Ids{} << Ids{20} << -1;
    QTest::newRow("newer messages") << "10 20 30" << "50 40 30 20" << "10 20 30 40 50" << Ids{} << Ids{40, 50} << Ids{} << -1;
    QTest::newRow("stored older than the page stay")
        << "10 20 30 40" << "50 40 30" << "10 20 30 40 50" << Ids{} << Ids{50} << Ids{} << -1;
    QTest::newRow("a page starting between stored messages")
        << "10 20 30" << "30 20 15" << "10 15 20 30" << Ids{20, 30} << Ids{15, 20, 30} << Ids{} << -1;
    QTest::newRow("a page inside a gap") << "10 50" << "30 20" << "10 20 30" << Ids{50} << Ids{20, 30} << Ids{} << -1;
    QTest::newRow("older page reaching the oldest")
        << "10 20 30" << "10 7 5" << "5 7 10 20 30" << Ids{} << Ids{5, 7} << Ids{} << -1;
    QTest::newRow("older page reaching a changed oldest")
        << "10 20 30" << "10+7 7 5" << "5 7 10+7 20 30" << Ids{} << Ids{5, 7} << Ids{10} << -1;
    QTest::newRow("unsorted page, older and newer") << "10 20" << "30 5 20 1" << "1 5 10 20 30" << Ids{} << Ids{1, 5, 30} << Ids{} << -1;
    QTest::newRow("one message: the oldest changed") << "10 20 30" << "10+7" << "10+7 20 30" << Ids{} << Ids{} << Ids{10} << -1;
    QTest::newRow("one message: the newest changed") << "10 20 30" << "30+7" << "10 20 30+7" << Ids{} << Ids{} << Ids{30} << -1;
    QTest::newRow("one message: newer") << "10 20 30" << "40" << "10 20 30 40" << Ids{} << Ids{40} << Ids{} << -1;
    QTest::newRow("one message: older") << "10 20 30" << "5" << "5 10 20 30" << Ids{} << Ids{5} << Ids{} << -1;
    QTest::newRow("one message: not stored, inside the list")
        << "10 20 30" << "25" << "10 20 25" << Ids{30} << Ids{25} << Ids{} << -1;
    QTest::newRow("one message into an empty list") << "" << "20+7" << "20+7" << Ids{} << Ids{20} << Ids{} << -1;
    QTest::newRow("a page naming an id twice keeps its first") << "" << "20 10 20+7" << "10 20" << Ids{} << Ids{10, 20} << Ids{} << -1;
    // Loaded below an id: stored messages from that id on are not the page's business.
    QTest::newRow("below: a gap filled between stored messages")
        << "10 50 60" << "40 30 20" << "10 20 30 40 50 60" << Ids{} << Ids{20, 30, 40} << Ids{} << 50;
    QTest::newRow("below: reaching the stored ones, one of them gone")
        << "10 20 50 60" << "40 30 10" << "10 30 40 50 60" << Ids{20} << Ids{30, 40} << Ids{} << 50;
    QTest::newRow("below: the page's own ids from the bound on are ignored")
        << "10 50" << "50+7 40" << "10 40 50" << Ids{} << Ids{40} << Ids{} << 50;
    QTest::newRow("below: older than all stored") << "10 20" << "5 3" << "3 5 10 20" << Ids{} << Ids{3, 5} << Ids{} << 10;
    QTest::newRow("below: nothing stored under the bound")
        << "50 60" << "30 20" << "20 30 50 60" << Ids{} << Ids{20, 30} << Ids{} << 45;
    QTest::newRow("below: empty page") << "10 50" << "" << "10 50" << Ids{} << Ids{} << Ids{} << 50;
    QTest::newRow("below: a like set changed in range") << "10 20 50" << "20+7 10" << "10 20+7 50" << Ids{} << Ids{} << Ids{20} << 50;
}

void tst_MessageMerge::merge()
{
    QFETCH(QString, stored);
    QFETCH(QString, page);
    QFETCH(QString, result);
    QFETCH(Ids, removed);
    QFETCH(Ids, added);
    QFETCH(Ids, changed);
    QFETCH(int, below);

    Messages list = messagesOf(stored);
    const MessageChanges changes = mergePage(list, messagesOf(page), below);
    QCOMPARE(notationOf(list), result);
    QCOMPARE(changes.removed, removed);
    QCOMPARE(changes.added, added);
    QCOMPARE(changes.changed, changed);
    QCOMPARE(changes.isEmpty(), removed.isEmpty() && added.isEmpty() && changed.isEmpty());
}

// A view that holds a copy of the list costs the next refresh nothing when nothing changed; an
// independent copy keeps its messages through a merge that changes the list.
void tst_MessageMerge::copies()
{
    Messages list = messagesOf(QStringLiteral("10 20+7 30 40"));
    const Messages held = list;
    const Messages copy = Ventari::independentCopy(list);
    QVERIFY(!copy.isSharedWith(list));
    QVERIFY(mergePage(list, messagesOf(QStringLiteral("40 30 20+7"))).isEmpty());
    QVERIFY(list.isSharedWith(held));

    QCOMPARE(mergePage(list, messagesOf(QStringLiteral("40 30 20"))).changed, Ids{20});
    QVERIFY(!list.isSharedWith(held));
    QCOMPARE(notationOf(list), QStringLiteral("10 20 30 40"));
    QCOMPARE(notationOf(held), QStringLiteral("10 20+7 30 40"));
    QCOMPARE(notationOf(copy), QStringLiteral("10 20+7 30 40"));
}

QTEST_GUILESS_MAIN(tst_MessageMerge)
#include "tst_messagemerge.moc"
