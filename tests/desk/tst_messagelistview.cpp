#include "pagemodel.h"

#include <desktheme.h>
#include <imagecache.h>
#include <messagelistmodel.h>
#include <messagelistview.h>

#include <QtTest/QtTest>
#include <QtWidgets/QApplication>
#include <QtWidgets/QScrollBar>

// The list as a reader meets it: scrolled somewhere in the middle while messages come and go.
class tst_MessageListView : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void newMessagesDoNotMoveWhatIsRead();
    void atTheTopNewMessagesComeIntoView();
    void removalsAboveDoNotMoveWhatIsRead();
    void olderMessagesOneRequestAtATime();
    void anEmptyOlderPageEndsTheStream();

private:
    // The message at the top of the viewport and where it is.
    QPair<int, int> topMessage() const
    {
        const QModelIndex top = m_view->indexAt(QPoint(1, 1));
        return {top.data(MessageListModel::MessageIdRole).toInt(), m_view->visualRect(top).top()};
    }
    static QString ids(int from, int to)
    {
        QStringList list;
        for (int id = from; id <= to; ++id)
            list << QString::number(id);
        return list.join(QLatin1Char(' '));
    }
    void scrollTo(int value)
    {
        m_view->verticalScrollBar()->setValue(value);
        QCoreApplication::processEvents();
    }

    TestHost m_host; // the plugin's services, for the model to be built on
    QSharedPointer<PageModel> m_source;
    MessageListModel* m_list = nullptr;
    MessageListView* m_view = nullptr;
    ImageCache* m_images = nullptr;
};

void tst_MessageListView::init()
{
    m_source = PageModel::create();
    QVERIFY(m_source);
    m_source->deliver(ids(100, 159));
    m_images = new ImageCache;
    m_list = new MessageListModel;
    m_list->setSource(m_source);
    m_view = new MessageListView;
    m_view->setImageCache(m_images);
    m_view->setModel(m_list);
    m_view->resize(640, 480);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view));
    QVERIFY(m_view->verticalScrollBar()->maximum() > 2000);
}

void tst_MessageListView::cleanup()
{
    delete m_view;
    delete m_list;
    delete m_images;
    m_source.reset();
}

void tst_MessageListView::newMessagesDoNotMoveWhatIsRead()
{
    scrollTo(1500);
    const QPair<int, int> before = topMessage();
    QVERIFY(before.first < 159);

    m_source->deliver(ids(160, 164));

    QCOMPARE(m_list->rowCount(), 65);
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 5);

    m_source->deliver(QStringLiteral("165"));
    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 6);

    m_view->scrollToNewest();
    QCoreApplication::processEvents();
    QCOMPARE(m_view->unseenCount(), 0);
    QCOMPARE(topMessage().first, 165);
}

void tst_MessageListView::atTheTopNewMessagesComeIntoView()
{
    QCOMPARE(topMessage().first, 159);
    m_source->deliver(ids(160, 162));
    QCOMPARE(m_view->verticalScrollBar()->value(), 0);
    QCOMPARE(topMessage().first, 162);
    QCOMPARE(m_view->unseenCount(), 0);
}

void tst_MessageListView::removalsAboveDoNotMoveWhatIsRead()
{
    scrollTo(1500);
    const QPair<int, int> before = topMessage();

    // The page drops the three newest messages: they were deleted on the service.
    m_source->deliver(ids(100, 156) + QStringLiteral(" 160"));

    QCOMPARE(topMessage(), before);
    QCOMPARE(m_view->unseenCount(), 1);
}

void tst_MessageListView::olderMessagesOneRequestAtATime()
{
    QSignalSpy ranges(m_view->verticalScrollBar(), &QScrollBar::rangeChanged);
    scrollTo(m_view->verticalScrollBar()->maximum());
    QCOMPARE(m_source->olderRequests, 1);
    QVERIFY(m_view->isLoadingOlder());

    scrollTo(m_view->verticalScrollBar()->maximum() - 10);
    scrollTo(m_view->verticalScrollBar()->maximum());
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

    scrollTo(m_view->verticalScrollBar()->maximum());
    QCOMPARE(m_source->olderRequests, 2);
}

void tst_MessageListView::anEmptyOlderPageEndsTheStream()
{
    scrollTo(m_view->verticalScrollBar()->maximum());
    QCOMPARE(m_source->olderRequests, 1);
    m_source->deliverOlder(QString());
    QCoreApplication::processEvents();
    QVERIFY(!m_view->isLoadingOlder());

    scrollTo(m_view->verticalScrollBar()->maximum() - 50);
    scrollTo(m_view->verticalScrollBar()->maximum());
    QCOMPARE(m_source->olderRequests, 1);
}

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    DeskTheme::apply(DeskOptions::Theme::Dark, &application);
    tst_MessageListView test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_messagelistview.moc"
