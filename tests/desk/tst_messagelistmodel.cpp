#include "pagemodel.h"

#include <messagelistmodel.h>

#include <QtTest/QtTest>

using Ids = QList<int>;
using Ventari::ResponseError;

// Row changes as text: "+0..2" rows 0 to 2 inserted, "-1..1" row 1 removed, "~3" row 3 changed.
class RowRecorder : public QObject
{
public:
    explicit RowRecorder(QAbstractItemModel* model)
    {
        connect(model, &QAbstractItemModel::rowsInserted, this,
                [this](const QModelIndex&, int first, int last) { events << QStringLiteral("+%1..%2").arg(first).arg(last); });
        connect(model, &QAbstractItemModel::rowsRemoved, this,
                [this](const QModelIndex&, int first, int last) { events << QStringLiteral("-%1..%2").arg(first).arg(last); });
        connect(model, &QAbstractItemModel::dataChanged, this,
                [this](const QModelIndex& from, const QModelIndex& to) {
                    for (int row = from.row(); row <= to.row(); ++row)
                        events << QStringLiteral("~%1").arg(row);
                });
        connect(model, &QAbstractItemModel::modelReset, this, [this] { events << QStringLiteral("reset"); });
    }
    QStringList events;
};

class tst_MessageListModel : public QObject
{
    Q_OBJECT

private slots:
    void rowsFollowThePages_data();
    void rowsFollowThePages();
    void aSharedModelShowsWhatItHoldsAtOnce();
    void theUsersOwnLikes();
    void errorsAndFollowStateAreHandedOn();
    void anotherSourceLeavesTheOldOneAlone();

private:
    static Ids rowIds(const MessageListModel& list)
    {
        Ids ids;
        for (int row = 0; row < list.rowCount(); ++row)
            ids << list.index(row).data(MessageListModel::MessageIdRole).toInt();
        return ids;
    }

    TestHost m_host; // the plugin's services, for the models to be built on
};

void tst_MessageListModel::rowsFollowThePages_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("page");
    QTest::addColumn<Ids>("rows");
    QTest::addColumn<QStringList>("events");

    QTest::newRow("first page lands as one block, newest on top")
        << "" << "10 30 20" << Ids{30, 20, 10} << QStringList{"+0..2"};
    QTest::newRow("newer messages go on top") << "10 20 30" << "30 40 50" << Ids{50, 40, 30, 20, 10}
                                              << QStringList{"+0..1"};
    QTest::newRow("an older page goes below") << "10 20 30" << "5 7" << Ids{30, 20, 10, 7, 5}
                                              << QStringList{"+3..4"};
    QTest::newRow("a message deleted inside the page's range") << "10 15 20" << "10 20" << Ids{20, 10}
                                                               << QStringList{"-1..1"};
    QTest::newRow("neighbouring deletions go as one block") << "10 12 14 16 20" << "10 20" << Ids{20, 10}
                                                            << QStringList{"-1..3"};
    QTest::newRow("deletions apart go bottom first") << "10 12 14 16 20" << "10 14 20" << Ids{20, 14, 10}
                                                     << QStringList{"-3..3", "-1..1"};
    QTest::newRow("a message between stored ones: removed and back")
        << "10 20 30" << "10 20 25 30" << Ids{30, 25, 20, 10} << QStringList{"-0..0", "+0..1"};
    QTest::newRow("a like changes its row in place") << "10 20 30" << "10 20+7 30" << Ids{30, 20, 10}
                                                     << QStringList{"~1"};
    QTest::newRow("a refresh that changes nothing") << "10 20 30" << "10 20 30" << Ids{30, 20, 10} << QStringList{};
    QTest::newRow("an emptied stream") << "10" << "" << Ids{10} << QStringList{};
}

void tst_MessageListModel::rowsFollowThePages()
{
    QFETCH(QString, stored);
    QFETCH(QString, page);
    QFETCH(Ids, rows);
    QFETCH(QStringList, events);

    const QSharedPointer<PageModel> source = PageModel::create();
    QVERIFY(source);
    source->deliver(stored);
    MessageListModel list;
    list.setSource(source);
    RowRecorder recorder(&list);
    QSignalSpy answered(&list, &MessageListModel::answered);

    source->deliver(page);

    QCOMPARE(rowIds(list), rows);
    QCOMPARE(recorder.events, events);
    QVERIFY(answered.count() >= 1);
    for (int row = 0; row < list.rowCount(); ++row)
        QCOMPARE(list.index(row).data(MessageListModel::MessageRole).value<Ventari::Message>().likes,
                 source->messageById(rows.at(row)).likes);
}

void tst_MessageListModel::aSharedModelShowsWhatItHoldsAtOnce()
{
    const QSharedPointer<PageModel> source = PageModel::create();
    QVERIFY(source);
    MessageListModel fresh;
    fresh.setSource(source);
    QVERIFY(!fresh.hasAnswered());

    source->deliver("1 2 3");
    MessageListModel second;
    second.setSource(source);
    QVERIFY(second.hasAnswered());
    QCOMPARE(rowIds(second), (Ids{3, 2, 1}));
    QCOMPARE(second.rowOfMessage(2), 1);
    QCOMPARE(second.rowOfMessage(4), -1);

    source->deliver("1 2 3 4");
    QCOMPARE(rowIds(fresh), (Ids{4, 3, 2, 1}));
    QCOMPARE(rowIds(second), (Ids{4, 3, 2, 1}));
}

void tst_MessageListModel::theUsersOwnLikes()
{
    const QSharedPointer<PageModel> source = PageModel::create();
    QVERIFY(source);
    source->deliver("10+7 20+8 30+7+8");
    MessageListModel list;
    list.setSource(source);
    auto liked = [&list] {
        Ids ids;
        for (int row = 0; row < list.rowCount(); ++row) {
            if (list.index(row).data(MessageListModel::LikedRole).toBool())
                ids << list.index(row).data(MessageListModel::MessageIdRole).toInt();
        }
        return ids;
    };
    QCOMPARE(liked(), Ids{});

    RowRecorder recorder(&list);
    list.setCurrentUserId(7);
    QCOMPARE(liked(), (Ids{30, 10}));
    QCOMPARE(recorder.events, (QStringList{"~0", "~1", "~2"}));

    source->deliver("10 20+8 30+7+8");
    QCOMPARE(liked(), Ids{30});
    list.setCurrentUserId(-1);
    QCOMPARE(liked(), Ids{});
}

void tst_MessageListModel::errorsAndFollowStateAreHandedOn()
{
    const QSharedPointer<PageModel> source = PageModel::create();
    QVERIFY(source);
    MessageListModel list;
    list.setSource(source);
    QSignalSpy errors(&list, &MessageListModel::errorOccurred);
    QSignalSpy follow(&list, &MessageListModel::followStateChanged);

    // A failed load, and a load that found the subject followed.
    QVERIFY(QMetaObject::invokeMethod(source.data(), "onError", Q_ARG(ResponseError, Ventari::ResponseError())));
    QVERIFY(QMetaObject::invokeMethod(source.data(), "setFollow", Q_ARG(bool, true)));

    QCOMPARE(errors.count(), 1);
    QCOMPARE(errors.first().first().toString(), QStringLiteral("Stream not found."));
    QCOMPARE(follow.count(), 1);
    QCOMPARE(follow.first().first().toBool(), true);
    QVERIFY(!list.hasAnswered());
}

void tst_MessageListModel::anotherSourceLeavesTheOldOneAlone()
{
    const QSharedPointer<PageModel> first = PageModel::create();
    const QSharedPointer<PageModel> second = PageModel::create();
    QVERIFY(first && second);
    first->deliver("1 2");
    MessageListModel list;
    list.setSource(first);
    list.setSource(second);
    QVERIFY(!first->isSubscribed(&list));
    QCOMPARE(list.rowCount(), 0);

    first->deliver("1 2 3");
    QCOMPARE(list.rowCount(), 0);
    second->deliver("7");
    QCOMPARE(rowIds(list), Ids{7});

    list.setSource({});
    QVERIFY(!second->isSubscribed(&list));
    QCOMPARE(list.rowCount(), 0);
}

QTEST_MAIN(tst_MessageListModel)
#include "tst_messagelistmodel.moc"
