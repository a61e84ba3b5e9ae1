#include "testhost.h"

#include "authorization/signinview.h"

#include <QtTest/QSignalSpy>
#include <QtTest/QtTest>

using Ventari::SignInView;

// The sign-in dialog's web page on its own, whichever engine draws it, against the emulator.
class tst_SignInView : public QObject
{
    Q_OBJECT

private slots:
    void goesSilentlyWhileItsPageLoads();
};

// The engine's view goes with the widget base, after the sign-in view's own part, and reports the
// end of a page still loading as it goes: nothing may be heard from a view that is no longer one.
void tst_SignInView::goesSilentlyWhileItsPageLoads()
{
    const int slow = sharedEmulator().addFault(Emulator::Fault::latency(1500).onPath("/slow"));
    SignInView* view = SignInView::create(nullptr);
    QSignalSpy started(view, &SignInView::loadStarted);
    view->load(QUrl(QString::fromStdString(sharedEmulator().baseUrl()) + QStringLiteral("slow")));
    QVERIFY(QTest::qWaitFor([&] { return !started.isEmpty(); }, 5000));

    // No event is handled between these and the delete: whatever they hear, they hear from it.
    QStringList heard;
    connect(view, &SignInView::loadFinished, this, [&] { heard << QStringLiteral("loadFinished"); });
    connect(view, &SignInView::urlChanged, this, [&] { heard << QStringLiteral("urlChanged"); });
    delete view;
    sharedEmulator().faults().remove(slow);
    QCOMPARE(heard, QStringList());
}

QTEST_MAIN(tst_SignInView)
#include "tst_signinview.moc"
