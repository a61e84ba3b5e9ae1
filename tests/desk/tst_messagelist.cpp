#include "testhost.h"

#include <desktheme.h>
#include <imagecache.h>
#include <messagedelegate.h>
#include <messagelistmodel.h>
#include <messagelistview.h>
#include <streams/ventarisymbolstream.h>
#include <ventarimodel.h>

#include <QtGui/QAccessible>
#include <QtTest/QtTest>
#include <QtWidgets/QPushButton>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

#include <memory>

using Ids = QList<int>;
using Ventari::ResponseError;

namespace {

// The plugin's model on a test host whose service knows no such symbol: its own first loads fail,
// and failed loads ask for no refresh, so it sends nothing more. Pages handed to the slots its loads
// answer are merged and announced as the service's would be; older pages asked for are only counted.
class PageModel : public Ventari::VentariModel
{
public:
    // Null when its own load did not fail as expected.
    static QSharedPointer<PageModel> create()
    {
        static Ventari::VentariSymbolStream symbols({Ventari::StreamFilter(QStringLiteral("All"), QString())});
        QSharedPointer<PageModel> model(new PageModel(&symbols));
        QStringList errors;
        QObject context;
        QObject::connect(model.data(), &VentariModel::error, &context, [&errors](const QString& text) { errors << text; });
        const bool failed = QTest::qWaitFor([&errors] { return errors.size() == 1; }, 10000);
        return failed && errors.count(QStringLiteral("Stream not found.")) == 1 ? model : nullptr;
    }

    // "10 20+7 30": messages 10, 20 (liked by user 7) and 30, in any order.
    static Ventari::Messages page(const QString& notation)
    {
        Ventari::Messages messages;
        for (const QString& token : notation.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            const QStringList parts = token.split(QLatin1Char('+'));
            Ventari::Message message;
            message.id = parts.first().toInt();
            message.body = QStringLiteral("Message %1 about $AAPL").arg(message.id);
            message.createdAt = QDateTime::currentDateTimeUtc();
            message.user.id = 1;
            message.user.username = QStringLiteral("alice");
            message.user.name = QStringLiteral("Alice Archer");
            for (int i = 1; i < parts.size(); ++i)
                message.likes.insert(parts.at(i).toInt());
            messages.append(message);
        }
        return messages;
    }

    // A load's answer, and an older page's.
    void deliver(const QString& notation) { deliver(page(notation)); }
    void deliver(const Ventari::Messages& messages) { answer("onData", messages); }
    void deliverOlder(const QString& notation) { answer("onOldMessagesActionData", page(notation)); }

    void loadOldMessages() override { ++olderRequests; }
    int olderRequests = 0;

private:
    explicit PageModel(Ventari::IVentariStream* stream)
        : VentariModel(stream, "NOSUCH", 0)
    {
    }
    void answer(const char* slot, const Ventari::Messages& messages)
    {
        QVERIFY(QMetaObject::invokeMethod(this, slot, Q_ARG(Ventari::Messages, messages)));
    }
};

// What a widget paints, as one region.
class PaintRecorder : public QObject
{
public:
    PaintRecorder(QWidget* widget, QRegion* painted)
        : m_painted(painted)
    {
        widget->installEventFilter(this);
    }
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            *m_painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }

private:
    QRegion* m_painted;
};

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

Ids rowIds(const MessageListModel& list)
{
    Ids ids;
    for (int row = 0; row < list.rowCount(); ++row)
        ids << list.index(row).data(MessageListModel::MessageIdRole).toInt();
    return ids;
}

// "100 101 102" for ids(100, 102).
QString ids(int from, int to)
{
    QStringList list;
    for (int id = from; id <= to; ++id)
        list << QString::number(id);
    return list.join(QLatin1Char(' '));
}

// A message of id whose body is `words` words long, "w1 w2 w3 …", with $AAPL first.
Ventari::Message longMessage(int id, int words)
{
    Ventari::Message message = PageModel::page(QString::number(id)).first();
    QStringList text{QStringLiteral("$AAPL")};
    for (int i = 1; i < words; ++i)
        text << QStringLiteral("w%1").arg(i);
    message.body = text.join(QLatin1Char(' '));
    return message;
}

QStringList childNames(QAccessibleInterface* item)
{
    QStringList names;
    for (int i = 0; i < item->childCount(); ++i)
        names << item->child(i)->text(QAccessible::Name);
    return names;
}

QAccessibleInterface* childNamed(QAccessibleInterface* item, const QString& name)
{
    for (int i = 0; i < item->childCount(); ++i) {
        if (item->child(i)->text(QAccessible::Name) == name)
            return item->child(i);
    }
    return nullptr;
}

} // namespace

// The list of a plugin model's messages: its rows follow the model's pages, and its view, scrolled
// somewhere in the middle while messages come and go, keeps what is read in place.
class tst_MessageList : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();

    void rowsFollowThePages_data();
    void rowsFollowThePages();
    void aListFollowsOneSourceAtATime();
    void theUsersOwnLikes();
    void theRowsAreAWindowOfTheModel();

    void whatIsReadStaysInPlace();
    void olderMessagesOneRequestAtATime();
    void hoveringRepaintsOnlyTheRowsItChanges();
    void theKeysReachEveryPart();
    void aDayOfMessagesKeepsTheRowsBounded();
    void longMessagesShowTheirFirstLines();
    void screenReadersReadEveryMessage();

private:
    // Messages 100 to 159 in a view taller than its window, scrolled to the top.
    bool showList();
    // The message at the top of the viewport and where it is.
    QPair<int, int> topMessage() const
    {
        const QModelIndex top = m_view->indexAt(QPoint(1, 1));
        return {top.data(MessageListModel::MessageIdRole).toInt(), m_view->visualRect(top).top()};
    }
    void scrollTo(int value)
    {
        m_view->verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }

    TestHost m_host; // the plugin's services, for the models to be built on
    QSharedPointer<PageModel> m_source;
    std::unique_ptr<ImageCache> m_images;
    std::unique_ptr<MessageListModel> m_list;
    std::unique_ptr<MessageListView> m_view;
};

bool tst_MessageList::showList()
{
    m_source = PageModel::create();
    if (!m_source)
        return false;
    m_source->deliver(ids(100, 159));
    m_images = std::make_unique<ImageCache>();
    m_list = std::make_unique<MessageListModel>();
    m_list->setSource(m_source);
    m_view = std::make_unique<MessageListView>();
    m_view->setImageCache(m_images.get());
    m_view->setModel(m_list.get());
    m_view->resize(640, 480);
    m_view->show();
    return QTest::qWaitForWindowExposed(m_view.get()) && m_view->verticalScrollBar()->maximum() > 2000;
}

void tst_MessageList::cleanup()
{
    m_view.reset();
    m_list.reset();
    m_images.reset();
    m_source.reset();
}

void tst_MessageList::rowsFollowThePages_data()
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
    QTest::newRow("a message between stored ones: the rows above stay")
        << "10 20 30" << "10 20 25 30" << Ids{30, 25, 20, 10} << QStringList{"~0", "+1..1"};
    QTest::newRow("a gap filled under a like") << "10 20 30 40" << "10 15 20 30+7 40" << Ids{40, 30, 20, 15, 10}
                                               << QStringList{"~0", "~1", "~2", "+3..3"};
    QTest::newRow("a like changes its row in place") << "10 20 30" << "10 20+7 30" << Ids{30, 20, 10}
                                                     << QStringList{"~1"};
    QTest::newRow("a refresh that changes nothing") << "10 20 30" << "10 20 30" << Ids{30, 20, 10} << QStringList{};
    QTest::newRow("an emptied stream") << "10" << "" << Ids{10} << QStringList{};
}

void tst_MessageList::rowsFollowThePages()
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

// A list hands on its source's errors and follow state, shows at once what a shared source holds,
// and lets go of a source it no longer shows.
void tst_MessageList::aListFollowsOneSourceAtATime()
{
    const QSharedPointer<PageModel> first = PageModel::create();
    const QSharedPointer<PageModel> second = PageModel::create();
    QVERIFY(first && second);
    MessageListModel fresh;
    fresh.setSource(first);
    QSignalSpy errors(&fresh, &MessageListModel::errorOccurred);
    QSignalSpy follow(&fresh, &MessageListModel::followStateChanged);
    // A failed load, and a load that found the subject followed.
    QVERIFY(QMetaObject::invokeMethod(first.data(), "onError", Q_ARG(ResponseError, Ventari::ResponseError())));
    QVERIFY(QMetaObject::invokeMethod(first.data(), "setFollow", Q_ARG(bool, true)));
    QCOMPARE(errors, (QList<QList<QVariant>>{{QStringLiteral("Stream not found.")}}));
    QCOMPARE(follow, (QList<QList<QVariant>>{{true}}));
    QVERIFY(!fresh.hasAnswered());

    first->deliver("1 2 3");
    MessageListModel shared;
    shared.setSource(first);
    QVERIFY(shared.hasAnswered());
    QCOMPARE(rowIds(shared), (Ids{3, 2, 1}));
    QCOMPARE(shared.rowOfMessage(2), 1);
    QCOMPARE(shared.rowOfMessage(4), -1);
    first->deliver("1 2 3 4");
    QCOMPARE(rowIds(fresh), (Ids{4, 3, 2, 1}));
    QCOMPARE(rowIds(shared), (Ids{4, 3, 2, 1}));

    shared.setSource(second);
    QVERIFY(!first->isSubscribed(&shared));
    QCOMPARE(shared.rowCount(), 0);
    first->deliver("1 2 3 4 5");
    QCOMPARE(shared.rowCount(), 0);
    second->deliver("7");
    QCOMPARE(rowIds(shared), Ids{7});
    shared.setSource({});
    QVERIFY(!second->isSubscribed(&shared));
    QCOMPARE(shared.rowCount(), 0);
}

void tst_MessageList::theUsersOwnLikes()
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

// Fifty rows of sixty messages: the rows reach back as the user reads back, new messages wait
// above while he reads, and the newest come back when asked for.
void tst_MessageList::theRowsAreAWindowOfTheModel()
{
    const QSharedPointer<PageModel> source = PageModel::create();
    QVERIFY(source);
    source->deliver(ids(100, 159));
    MessageListModel list;
    list.setRowLimit(50);
    list.setSource(source);
    QCOMPARE(list.rowCount(), 50);
    QCOMPARE(list.messageAt(0).id, 159);
    QCOMPARE(list.hiddenOlderCount(), 10);
    QCOMPARE(list.hiddenNewerCount(), 0);
    QVERIFY(!list.isAtEnd());

    // At the top new messages push the oldest rows out.
    source->deliver(ids(100, 164));
    QCOMPARE(list.rowCount(), 50);
    QCOMPARE(list.messageAt(0).id, 164);
    QCOMPARE(list.messageAt(49).id, 115);
    QCOMPARE(list.hiddenOlderCount(), 15);

    // Reading the last rows: the older ones come, the newest rows go.
    list.setReadingRange(117, 115);
    QCOMPARE(list.showOlder(10), 10);
    QCOMPARE(list.rowCount(), 50);
    QCOMPARE(list.messageAt(49).id, 105);
    QCOMPARE(list.hiddenOlderCount(), 5);
    QCOMPARE(list.hiddenNewerCount(), 10);
    QCOMPARE(list.rowOfMessage(164), -1);

    // Newer messages wait above; a deleted one leaves the rows; an older page lands below what is
    // hidden, so it is not a row yet.
    source->deliver(ids(100, 128) + QLatin1Char(' ') + ids(130, 170));
    QCOMPARE(list.rowCount(), 49);
    QCOMPARE(list.rowOfMessage(129), -1);
    QCOMPARE(list.hiddenNewerCount(), 16);
    QCOMPARE(list.countNewerThan(164), 6);
    source->deliverOlder(ids(90, 99));
    QCOMPARE(list.hiddenOlderCount(), 15);

    QCOMPARE(list.showOlder(100), 15);
    QCOMPARE(list.messageAt(list.rowCount() - 1).id, 90);
    QCOMPARE(list.hiddenOlderCount(), 0);
    source->deliverOlder(QString());
    QVERIFY(list.isAtEnd());

    list.showNewest();
    QCOMPARE(list.rowCount(), 50);
    QCOMPARE(list.messageAt(0).id, 170);
    QCOMPARE(list.hiddenNewerCount(), 0);
    QCOMPARE(list.showNewer(10), 0);
    QVERIFY(!list.isAtEnd());

    // The plugin model keeps five windows' worth of the newest; an older page asked for stays,
    // however many new messages come after it.
    source->deliver(ids(171, 500));
    QCOMPARE(source->count(), 250);
    QCOMPARE(source->messageByIndex(0).id, 251);
    list.loadOlder();
    QCOMPARE(source->olderRequests, 1);
    source->deliverOlder(ids(221, 250));
    source->deliver(ids(501, 520));
    QCOMPARE(source->count(), 300);
    QCOMPARE(source->messageByIndex(0).id, 221);
}

// Scrolled into the list, what is read stays in place while messages come above it, go above it or
// fill a gap below it; the newest come into view when asked for, and by themselves at the top.
void tst_MessageList::whatIsReadStaysInPlace()
{
    QVERIFY(showList());
    // The same model again: the item view keeps its own connections to it and lays out new rows.
    m_view->setModel(m_list.get());
    scrollTo(1500);
    const QPair<int, int> before = topMessage();
    const int gap = before.first - 5;
    QVERIFY(gap > 100 && before.first < 157);

    m_source->deliver(ids(160, 164));
    QCOMPARE(m_list->rowCount(), 65);
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 5);
    // The pill that says so covers no message.
    const auto* pill = m_view->findChild<QPushButton*>(QStringLiteral("newMessages"));
    QVERIFY(pill && pill->isVisible());
    QVERIFY(!pill->geometry().intersects(m_view->viewport()->geometry()));

    // Three read ones above were deleted on the service; one more comes.
    const QString all = ids(100, 156) + QLatin1Char(' ') + ids(160, 165);
    m_source->deliver(all);
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 6);

    m_source->deliver(ids(100, gap - 1) + QLatin1Char(' ') + ids(gap + 1, 156) + QLatin1Char(' ') + ids(160, 165));
    QCOMPARE(m_list->rowOfMessage(gap), -1);
    QCOMPARE(topMessage(), before);
    // The message comes back: the merge reports every newer one, the top one too, as gone and back.
    const int value = m_view->verticalScrollBar()->value();
    RowRecorder recorder(m_list.get());
    m_source->deliver(all);
    QCoreApplication::processEvents();
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->verticalScrollBar()->value(), value);
    QCOMPARE(m_view->unseenCount(), 6);
    const int above = 6 + 156 - gap;
    QStringList events;
    for (int row = 0; row < above; ++row)
        events << QStringLiteral("~%1").arg(row);
    QCOMPARE(recorder.events, events << QStringLiteral("+%1..%1").arg(above));

    m_view->scrollToNewest();
    QCoreApplication::processEvents();
    QCOMPARE(m_view->unseenCount(), 0);
    QCOMPARE(topMessage().first, 165);
    const int height = m_view->verticalScrollBar()->maximum();
    m_source->deliver(ids(166, 168));
    QCOMPARE(m_view->verticalScrollBar()->value(), 0);
    QCOMPARE(topMessage().first, 168);
    QCOMPARE(m_view->unseenCount(), 0);
    QTRY_VERIFY(m_view->verticalScrollBar()->maximum() > height);
    QVERIFY(m_view->visualRect(m_list->index(m_list->rowCount() - 1)).isValid());
}

// At the bottom the list asks for older messages, one request at a time; an empty older page ends
// the stream, and the list says so below the last message and asks for nothing more.
void tst_MessageList::olderMessagesOneRequestAtATime()
{
    QVERIFY(showList());
    auto toBottom = [this](int above) {
        scrollTo(m_view->verticalScrollBar()->maximum() - above);
        scrollTo(m_view->verticalScrollBar()->maximum());
    };
    toBottom(0);
    QCOMPARE(m_source->olderRequests, 1);
    QVERIFY(m_view->isLoadingOlder());
    toBottom(10);
    // A refresh answer in between is not the older page.
    m_source->deliver(ids(100, 159));
    QCoreApplication::processEvents();
    QCOMPARE(m_source->olderRequests, 1);
    QVERIFY(m_view->isLoadingOlder());

    const QPair<int, int> before = topMessage();
    m_source->deliverOlder(ids(70, 99));
    QCoreApplication::processEvents();
    QVERIFY(!m_view->isLoadingOlder());
    QCOMPARE(m_list->rowCount(), 90);
    QCOMPARE(topMessage(), before);

    toBottom(0);
    QCOMPARE(m_source->olderRequests, 2);
    QCOMPARE(m_view->endText(), QString());
    m_source->deliverOlder(QString());
    QCoreApplication::processEvents();
    QVERIFY(!m_view->isLoadingOlder());
    QCOMPARE(m_view->endText(), QStringLiteral("No older messages"));
    toBottom(50);
    QCOMPARE(m_source->olderRequests, 2);

    // Scrolled to the end, the words are in view under the last message.
    const QRect last = m_view->visualRect(m_list->index(m_list->rowCount() - 1));
    const QRect mark(0, last.bottom() + 1, m_view->viewport()->width(), MessageListView::endMarkHeight);
    QVERIFY(m_view->viewport()->rect().contains(mark));
    const QImage band = m_view->viewport()->grab(mark).toImage();
    const QColor background = band.pixelColor(2, 2);
    int drawn = 0;
    for (int x = mark.width() / 3; x < mark.width() * 2 / 3; ++x)
        drawn += band.pixelColor(x, mark.height() / 2) != background;
    QVERIFY(drawn > 10);
}

void tst_MessageList::hoveringRepaintsOnlyTheRowsItChanges()
{
    QVERIFY(showList());
    QCoreApplication::processEvents();
    QRegion painted;
    PaintRecorder recorder(m_view->viewport(), &painted);
    auto moveTo = [this](const QPoint& point) {
        QMouseEvent move(QEvent::MouseMove, point, Qt::NoButton, Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(m_view->viewport(), &move);
    };
    const QRect row0 = m_view->visualRect(m_list->index(0));
    const QRect row1 = m_view->visualRect(m_list->index(1));
    const QPoint like0 = m_view->partRect(0, MessageHit::Like).center();

    moveTo(like0);
    QTRY_VERIFY(!painted.isEmpty());
    QVERIFY(row0.contains(painted.boundingRect()));

    // Along the same part nothing changes; on to the next row, the two rows change.
    painted = QRegion();
    moveTo(like0 + QPoint(1, 0));
    moveTo(m_view->partRect(1, MessageHit::Reply).center());
    QTRY_VERIFY(!painted.isEmpty());
    QVERIFY(row0.united(row1).contains(painted.boundingRect()));
    QVERIFY(painted.intersects(row0) && painted.intersects(row1));

    painted = QRegion();
    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(m_view.get(), &leave);
    QTRY_VERIFY(!painted.isEmpty());
    QVERIFY(row1.contains(painted.boundingRect()));
}

// With the focus the newest message is current and framed. Left and right go through its parts,
// each framed in turn; Return or Space acts on the marked part. Without one, L, R and Return act on
// the message as clicks on its parts do, and the arrows move on to the next message.
void tst_MessageList::theKeysReachEveryPart()
{
    QVERIFY(showList());
    MessageDelegate* delegate = m_view->messageDelegate();
    QSignalSpy likes(delegate, &MessageDelegate::likeClicked);
    QSignalSpy replies(delegate, &MessageDelegate::replyClicked);
    QSignalSpy links(delegate, &MessageDelegate::linkClicked);
    QSignalSpy symbols(delegate, &MessageDelegate::symbolClicked);
    QSignalSpy users(delegate, &MessageDelegate::userClicked);
    m_view->activateWindow();
    m_view->setFocus();
    QTRY_VERIFY(m_view->hasFocus());
    QCOMPARE(m_view->currentIndex().row(), 0);
    const QColor highlight = m_view->palette().color(QPalette::Highlight);
    auto framed = [this, &highlight](int row) {
        const QImage item = m_view->viewport()->grab(m_view->visualRect(m_list->index(row))).toImage();
        const int w = item.width();
        const int h = item.height();
        return item.pixelColor(2, h / 2) == highlight && item.pixelColor(w - 3, h / 2) == highlight
            && item.pixelColor(w / 2, 2) == highlight && item.pixelColor(w / 2, h - 4) == highlight;
    };
    QVERIFY(framed(0));
    QVERIFY(!framed(1));

    QStringList steps;
    for (int i = 0; i < 5; ++i) {
        QTest::keyClick(m_view.get(), Qt::Key_Right);
        steps << m_view->actionText(0, m_view->markedPart());
    }
    QCOMPARE(steps, (QStringList{"Open @alice's messages", "Open $AAPL", "Like", "Reply to @alice", QString()}));
    QTest::keyClick(m_view.get(), Qt::Key_Left);
    QCOMPARE(m_view->markedPart().kind, MessageHit::Reply);
    QTest::keyClick(m_view.get(), Qt::Key_Left);
    QTest::keyClick(m_view.get(), Qt::Key_Space);
    QTest::keyClick(m_view.get(), Qt::Key_Left);
    const QRect symbol = m_view->partRect(0, m_view->markedPart());
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QTest::keyClick(m_view.get(), Qt::Key_Left);
    QTest::keyClick(m_view.get(), Qt::Key_Enter);
    QCOMPARE(likes, (QList<QList<QVariant>>{{159, false}}));
    QCOMPARE(symbols, (QList<QList<QVariant>>{{QStringLiteral("AAPL")}}));
    QCOMPARE(users, (QList<QList<QVariant>>{{QStringLiteral("alice")}}));

    // The marked part has a frame of its own, a little outside its text.
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    QVERIFY(symbol.isValid());
    const QImage image = m_view->viewport()->grab().toImage();
    QCOMPARE(image.pixelColor(symbol.left() - 2, symbol.center().y()), highlight);
    QCOMPARE(image.pixelColor(symbol.right() + 2, symbol.center().y()), highlight);

    QTest::keyClick(m_view.get(), Qt::Key_Escape);
    QCOMPARE(m_view->markedPart().kind, MessageHit::None);
    QTest::keyClick(m_view.get(), Qt::Key_L);
    QTest::keyClick(m_view.get(), Qt::Key_L, Qt::ControlModifier);
    QTest::keyClick(m_view.get(), Qt::Key_R);
    QTest::keyClick(m_view.get(), Qt::Key_Return); // a message without chart or video
    QCOMPARE(likes, (QList<QList<QVariant>>{{159, false}, {159, false}}));
    QCOMPARE(replies, (QList<QList<QVariant>>{{159, QStringLiteral("alice")}}));
    QCOMPARE(links.count(), 0);

    QTest::keyClick(m_view.get(), Qt::Key_Right);
    QTest::keyClick(m_view.get(), Qt::Key_Down);
    QCOMPARE(m_view->currentIndex().row(), 1);
    QCOMPARE(m_view->markedPart().kind, MessageHit::None);
    QTest::keyClick(m_view.get(), Qt::Key_L);
    QCOMPARE(likes.last(), (QList<QVariant>{158, false}));

    Ventari::Messages charted = PageModel::page(QStringLiteral("160"));
    charted[0].chart[Ventari::Message::ChartThumb] = QStringLiteral("http://127.0.0.1:9/thumb.png");
    charted[0].chart[Ventari::Message::ChartLarge] = QStringLiteral("http://127.0.0.1:9/large.png");
    m_source->deliver(charted);
    m_view->setCurrentIndex(m_list->index(0));
    QTest::keyClick(m_view.get(), Qt::Key_Return);
    QCOMPARE(links, (QList<QList<QVariant>>{{QUrl(QStringLiteral("http://127.0.0.1:9/large.png"))}}));
}

// A day at the top of a busy stream: the rows stay within their limit. Scrolling down shows what
// the model holds before it is asked for more; while the user reads there, new messages are
// counted, not piled up, and the button brings the newest back.
void tst_MessageList::aDayOfMessagesKeepsTheRowsBounded()
{
    QVERIFY(showList());
    m_list->setRowLimit(200);
    auto deliverNew = [this](int count) {
        for (int k = 0; k < count; k += 20) {
            const int newest = m_source->messageByIndex(m_source->count() - 1).id;
            m_source->deliver(ids(newest - 9, newest + 20));
        }
        QCoreApplication::processEvents();
    };
    // The message the keys are on goes with the oldest rows; the keys stay on what is in view.
    m_view->setCurrentIndex(m_list->index(0));
    deliverNew(1000);
    QCOMPARE(m_source->count(), 1000); // five windows' worth: the plugin model is bounded too
    QCOMPARE(m_list->rowCount(), 200);
    QCOMPARE(topMessage().first, 1159);
    QCOMPARE(m_view->unseenCount(), 0);
    QVERIFY(m_view->viewport()->rect().intersects(m_view->visualRect(m_view->currentIndex())));

    for (int i = 0; i < 20 && m_list->messageAt(m_list->rowCount() - 1).id > 700; ++i)
        scrollTo(m_view->verticalScrollBar()->maximum());
    QVERIFY(m_list->messageAt(m_list->rowCount() - 1).id <= 700);
    QCOMPARE(m_source->olderRequests, 0);
    QCOMPARE(m_list->rowCount(), 200);
    QVERIFY(m_list->rowOfMessage(1159) == -1);

    const QPair<int, int> before = topMessage();
    deliverNew(400);
    QCOMPARE(m_list->rowCount(), 200);
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 400);

    m_view->scrollToNewest();
    QCoreApplication::processEvents();
    QCOMPARE(topMessage().first, 1559);
    QCOMPARE(m_view->unseenCount(), 0);
    QCOMPARE(m_list->rowCount(), 200);
}

// A message of 2,000 words shows its first six lines and "Show more"; a click or M shows it whole,
// and "Show less" cuts it short again. Short messages have nothing to show more of.
void tst_MessageList::longMessagesShowTheirFirstLines()
{
    QVERIFY(showList());
    m_source->deliver(Ventari::Messages{longMessage(160, 2000)});
    QVERIFY(m_list->messageAt(0).body.size() > 10000);
    QCoreApplication::processEvents();
    const int line = QFontMetrics(m_view->font()).lineSpacing();
    const QRect body = m_view->partRect(0, MessageHit::Anchor);
    // Six lines, as the text layout spaces them (a little apart from the font's own spacing under Qt 6).
    QVERIFY2(body.height() > 5 * line && body.height() < 7 * line, qPrintable(QString::number(body.height())));
    const QRect more = m_view->partRect(0, MessageHit::More);
    QVERIFY(more.top() > body.bottom());
    QCOMPARE(m_view->actionText(0, {MessageHit::More, QString(), -1}), QStringLiteral("Show more"));
    const int collapsed = m_view->visualRect(m_list->index(0)).height();
    QVERIFY(m_view->partRect(1, MessageHit::More).isEmpty());

    QTest::mouseClick(m_view->viewport(), Qt::LeftButton, {}, more.center());
    QTRY_VERIFY(m_view->visualRect(m_list->index(0)).height() > 3 * m_view->viewport()->height());
    QCOMPARE(m_view->actionText(0, {MessageHit::More, QString(), -1}), QStringLiteral("Show less"));
    QVERIFY(m_view->partRect(0, MessageHit::More).top() > m_view->viewport()->height());
    QCOMPARE(topMessage(), qMakePair(160, 0));

    m_view->setFocus();
    m_view->setCurrentIndex(m_list->index(0));
    QTest::keyClick(m_view.get(), Qt::Key_M);
    QTRY_COMPARE(m_view->visualRect(m_list->index(0)).height(), collapsed);
    QTest::keyClick(m_view.get(), Qt::Key_Down);
    QTest::keyClick(m_view.get(), Qt::Key_M);
    QCOMPARE(m_view->visualRect(m_list->index(1)).height(), m_view->visualRect(m_list->index(2)).height());
    QVERIFY(!m_list->isExpanded(159));
}

// A screen reader finds each message as an item of the list, read as author, time and text and
// then its likes, with a link or button for each thing it can do; acting through them does what
// clicks do, and the focus follows the keys into the parts.
void tst_MessageList::screenReadersReadEveryMessage()
{
    QVERIFY(showList());
    Ventari::Messages extra = PageModel::page(QStringLiteral("160+7+8"));
    extra[0].chart[Ventari::Message::ChartThumb] = QStringLiteral("http://127.0.0.1:9/thumb.png");
    extra[0].chart[Ventari::Message::ChartLarge] = QStringLiteral("http://127.0.0.1:9/large.png");
    extra << longMessage(161, 400);
    m_source->deliver(extra);
    m_list->setCurrentUserId(7);
    MessageDelegate* delegate = m_view->messageDelegate();
    QSignalSpy likes(delegate, &MessageDelegate::likeClicked);
    QSignalSpy links(delegate, &MessageDelegate::linkClicked);
    QSignalSpy symbols(delegate, &MessageDelegate::symbolClicked);

    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(m_view.get());
    QVERIFY(list);
    QCOMPARE(list->role(), QAccessible::List);
    QCOMPARE(list->childCount(), 62);

    QAccessibleInterface* plain = list->child(2);
    QCOMPARE(plain->role(), QAccessible::ListItem);
    QCOMPARE(list->indexOfChild(plain), 2);
    QCOMPARE(plain->parent(), list);
    const QString name = plain->text(QAccessible::Name);
    QVERIFY2(name.startsWith(QStringLiteral("Alice Archer @alice, ")) && name.endsWith(QStringLiteral(": Message 159 about $AAPL")),
             qPrintable(name));
    QVERIFY(plain->text(QAccessible::Description).startsWith(QStringLiteral("0 likes.")));
    QCOMPARE(childNames(plain), (QStringList{"Alice Archer", "$AAPL", "Like", "Reply"}));
    QCOMPARE(plain->child(1)->role(), QAccessible::Link);
    QCOMPARE(plain->child(1)->text(QAccessible::Description), QStringLiteral("Open $AAPL"));
    QCOMPARE(plain->child(2)->role(), QAccessible::Button);
    QCOMPARE(plain->indexOfChild(plain->child(3)), 3);
    QCOMPARE(plain->child(3)->parent(), plain);
    QAccessibleActionInterface* actions = plain->actionInterface();
    QVERIFY(actions);
    QCOMPARE(actions->actionNames(), (QStringList{QAccessibleActionInterface::setFocusAction(), "Like", "Reply"}));
    QCOMPARE(actions->keyBindingsForAction(QStringLiteral("Like")), QStringList{"L"});
    actions->doAction(QStringLiteral("Like"));
    plain->child(1)->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(likes, (QList<QList<QVariant>>{{159, false}}));
    QCOMPARE(symbols, (QList<QList<QVariant>>{{QStringLiteral("AAPL")}}));

    // Liked by the user and one more, with a chart.
    QAccessibleInterface* charted = list->child(1);
    QVERIFY(charted->text(QAccessible::Description).startsWith(QStringLiteral("2 likes, yours among them. With a chart.")));
    QCOMPARE(charted->actionInterface()->actionNames(),
             (QStringList{QAccessibleActionInterface::setFocusAction(), "Unlike", "Reply", "Open chart"}));
    QAccessibleInterface* unlike = childNamed(charted, QStringLiteral("Unlike"));
    QVERIFY(unlike && unlike->state().checkable && unlike->state().checked);
    childNamed(charted, QStringLiteral("Open chart"))->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
    QCOMPARE(links, (QList<QList<QVariant>>{{QUrl(QStringLiteral("http://127.0.0.1:9/large.png"))}}));

    // Where things are, and where the keys are.
    const QPoint likeAt = plain->child(2)->rect().center();
    QCOMPARE(list->childAt(likeAt.x(), likeAt.y()), plain);
    QCOMPARE(plain->childAt(likeAt.x(), likeAt.y()), plain->child(2));
    m_view->activateWindow();
    m_view->setFocus();
    QTRY_VERIFY(m_view->hasFocus());
    m_view->setCurrentIndex(m_list->index(2));
    QCOMPARE(list->focusChild(), plain);
    QVERIFY(plain->state().focused);
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    QTest::keyClick(m_view.get(), Qt::Key_Right);
    QCOMPARE(list->focusChild(), plain->child(1));
    QVERIFY(plain->child(1)->state().focused && !plain->child(0)->state().focused);

    // The long message reads as far as it is shown, then opens up.
    QAccessibleInterface* long_ = list->child(0);
    QVERIFY(long_->state().expandable && !long_->state().expanded);
    const QString cut = long_->text(QAccessible::Name);
    QVERIFY2(cut.contains(QStringLiteral(": $AAPL w1 w2 ")) && cut.endsWith(QChar(0x2026)) && !cut.contains(QStringLiteral("w399")),
             qPrintable(cut));
    const int shortHeight = long_->rect().height();
    long_->actionInterface()->doAction(QStringLiteral("Show more"));
    QTRY_VERIFY(long_->state().expanded);
    QVERIFY(long_->rect().height() > shortHeight);
    QVERIFY(long_->text(QAccessible::Name).endsWith(QStringLiteral(" w398 w399")));
    QVERIFY(childNamed(long_, QStringLiteral("Show less")));

    // The last message says that there is none older.
    m_source->deliverOlder(QString());
    QCoreApplication::processEvents();
    QVERIFY(list->child(61)->text(QAccessible::Description).endsWith(QStringLiteral("No older messages.")));
    QVERIFY(!list->child(60)->text(QAccessible::Description).contains(QStringLiteral("older")));
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    DeskTheme::apply(DeskOptions::Theme::Dark, &application);
    tst_MessageList test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagelist.moc"
