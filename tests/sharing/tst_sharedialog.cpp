#include "sharingfixture.h"

#include "protocolfixture.h"
#include "shareform.h"

#include "sharedialog.h"
#include "ventariplugin.h"

#include <corvane/corvanesink.h>
#include <kelvar/filedialogs.h>

#include <QtCore/QRandomGenerator>
#include <QtCore/QTemporaryDir>
#include <QtWidgets/QApplication>
#include <QtTest/QtTest>

using namespace SharingTest;
using Ventari::ResponseError;
using Ventari::ShareDialog;

namespace {

const QString shareCounter = QStringLiteral("Feature.Ventari_TryShareAnIdea.count");

// A dialog whose attachment measures as many JPEG bytes as the test says; the rule is the dialog's.
class MeasuredShareDialog : public ShareDialog
{
public:
    explicit MeasuredShareDialog(qint64 size)
        : ShareDialog(nullptr)
        , m_size(size)
    {
    }

protected:
    qint64 encodedJpegSize(const QImage&) const override { return m_size; }

private:
    qint64 m_size;
};

// Answers the host's open-file dialog for the user and notes how it was asked.
struct FileChoices
{
    FileChoices()
    {
        Kelvar::setOpenFileChooser([this](QWidget* parent, const QString& caption, const QString& dir, const QString& filter) {
            asked.append(QStringList{caption, dir, filter});
            parents.append(parent);
            return answers.isEmpty() ? QString() : answers.takeFirst();
        });
    }
    ~FileChoices() { Kelvar::setOpenFileChooser(nullptr); }

    QStringList answers;
    QList<QStringList> asked;
    QList<QWidget*> parents;
};

void clickLink(SysLinkLabel* label)
{
    QTest::mouseClick(label, Qt::LeftButton, Qt::NoModifier, QPoint(4, label->height() / 2));
}

} // namespace

// The share dialog offscreen: its form, count and attachment rules, and its posts to the emulator.
class tst_ShareDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void form();
    void characterCount_data();
    void characterCount();
    void attachment_data();
    void attachment();
    void attachFromFile();
    void sends();

private:
    Ventari::VentariPlugin m_plugin;
};

// The host registers the theme bundle before any dialog is built; the services come from each
// test's own host, so only the plugin base's part of start-up runs here.
void tst_ShareDialog::initTestCase()
{
    m_plugin.Kelvar::PluginBase::init();
    QVERIFY(!Ventari::VentariPlugin::pluginStyleSheet().isEmpty());
}

void tst_ShareDialog::init()
{
    ProtocolTest::resetEmulator();
}

void tst_ShareDialog::cleanupTestCase()
{
    m_plugin.Kelvar::PluginBase::term();
}

// An empty dialog, shown as a host window: counted, fixed in size, first over the window the user
// works in, then where it was left; the editor has the focus.
void tst_ShareDialog::form()
{
    TestHost host;
    QWidget desk;
    desk.setGeometry(300, 200, 900, 700);
    desk.show();
    desk.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&desk));
    ReportRecorder recorder;
    RecordingTranslator translator;
    QCoreApplication::installTranslator(&translator);
    ShareDialog dialog(nullptr);
    QCoreApplication::removeTranslator(&translator);
    const ShareForm form{&dialog};
    QVERIFY(form.isComplete());

    QCOMPARE(dialog.objectName(), QStringLiteral("VentariShareDialog"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Share on Ventari"));
    QCOMPARE(dialog.minimumSize(), QSize(412, 221));
    QCOMPARE(dialog.styleSheet(), Ventari::VentariPlugin::pluginStyleSheet());
    QCOMPARE(form.attach->linkText(), QStringLiteral("Attach screenshot"));
    // The form's texts in the form's context, the dialog's own in the class's.
    for (const char* text : {"Attach screenshot", "Remove Attachment", "Send", "Close", "chart1", "TextLabel"})
        QVERIFY2(translator.asked.contains(QStringLiteral("ShareDialog|") + QLatin1String(text)), text);
    QVERIFY(translator.asked.contains(QStringLiteral("Ventari::ShareDialog|Share on Ventari")));
    // No attachment, no error, every input open.
    QVERIFY(form.nameWidget->isHidden());
    QVERIFY(form.image->isHidden());
    QVERIFY(!form.attach->isHidden());
    QVERIFY(form.errorLabel->isHidden());
    QVERIFY(form.inputsEnabled());

    const qint64 shown = qMax<qint64>(0, Corvane::counterValue(QStringLiteral("Window.VentariShareDialog.count")));
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(Corvane::counterValue(QStringLiteral("Window.VentariShareDialog.count")), shown + 1);
    QCOMPARE(dialog.focusWidget(), form.text);
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
    const QPoint middle = dialog.frameGeometry().topLeft() + QPoint(dialog.frameGeometry().width() / 2,
                                                                    dialog.frameGeometry().height() / 2);
    QVERIFY2((middle - QPoint(750, 550)).manhattanLength() <= 2, qPrintable(QStringLiteral("%1,%2").arg(middle.x()).arg(middle.y())));

    dialog.move(40, 30);
    QTest::mouseClick(form.closeButton, Qt::LeftButton);
    QVERIFY(dialog.isHidden());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(!host.settings().store()->value("Geometry/VentariShareDialog").toByteArray().isEmpty());
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    QCOMPARE(dialog.pos(), QPoint(40, 30));
    QVERIFY_NO_REPORTS(recorder);
}

void tst_ShareDialog::characterCount_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("attached");
    QTest::addColumn<int>("remaining");
    QTest::addColumn<bool>("sendable");

    QTest::newRow("empty") << QString() << false << 140 << false;
    QTest::newRow("one letter") << QStringLiteral("a") << false << 139 << true;
    QTest::newRow("140 letters") << QString(140, QLatin1Char('x')) << false << 0 << true;
    QTest::newRow("141 letters") << QString(141, QLatin1Char('x')) << false << -1 << false;
    QTest::newRow("blank") << QStringLiteral(" ") << false << 139 << true;
    QTest::newRow("letters count once") << QString::fromUtf8("\xC3\xBC" "ber \xE6\xA0\xAA") << false << 134 << true;
    QTest::newRow("attachment alone") << QString() << true << 100 << true;
    QTest::newRow("attachment and 100") << QString(100, QLatin1Char('x')) << true << 0 << true;
    QTest::newRow("attachment and 101") << QString(101, QLatin1Char('x')) << true << -1 << false;
    // 4 + 1 + 22 for "http://example.c" + 1 for the "o" after it.
    QTest::newRow("link") << QStringLiteral("Look http://example.co") << false << 112 << true;
    // "https://a.b.c" up to its last full stop and one more character; "/path" counts on.
    QTest::newRow("link with a path") << QStringLiteral("https://a.b.co/path") << false << 140 - 22 - 6 << true;
    QTest::newRow("two links") << QStringLiteral("http://a.io/x https://b.co") << false << 140 - (22 + 3 + 1 + 22 + 1) << true;
    QTest::newRow("no full stop, no link") << QStringLiteral("http://localhost") << false << 124 << true;
    QTest::newRow("no colon, no link") << QStringLiteral("www.example.com") << false << 125 << true;
}

void tst_ShareDialog::characterCount()
{
    QFETCH(QString, text);
    QFETCH(bool, attached);
    QFETCH(int, remaining);
    QFETCH(bool, sendable);

    TestHost host;
    ReportRecorder recorder;
    ShareDialog dialog(nullptr);
    const ShareForm form{&dialog};
    if (attached)
        dialog.setAttachment(QStringLiteral("chart"), testPicture());
    dialog.setText(text);

    QCOMPARE(form.count->text(), QString::number(remaining));
    QCOMPARE(form.isRed(form.count), remaining < 0);
    QCOMPARE(form.sendButton->isEnabled(), sendable);
    QCOMPARE(form.text->textCursor().position(), text.length());

    // Typing goes through the same count.
    form.text->setFocus();
    QTest::keyClicks(form.text, QStringLiteral("ab"));
    QCOMPARE(form.count->text(), QString::number(remaining - 2));
    QCOMPARE(form.isRed(form.count), remaining - 2 < 0);
    QVERIFY_NO_REPORTS(recorder);
}

void tst_ShareDialog::attachment_data()
{
    QTest::addColumn<qint64>("size"); // -1: the dialog's own measure of the picture
    QTest::addColumn<bool>("noisy");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<bool>("accepted");

    QTest::newRow("a byte under 1 MB") << qint64(1048575) << false << "abcdefghijklmn" << "abcdefghijklmn" << true;
    QTest::newRow("1 MB") << qint64(1048576) << false << "abcdefghijklmno" << "abcdef...jklmno" << false;
    QTest::newRow("small picture") << qint64(-1) << false << "abcdefghijklmnopqrst" << "abcdef...opqrst" << true;
    QTest::newRow("picture of noise") << qint64(-1) << true << "chart" << "chart" << false;
}

// Names of 15 characters and more are cut in the middle; pictures of 1 MB of JPEG and more are refused.
void tst_ShareDialog::attachment()
{
    QFETCH(qint64, size);
    QFETCH(bool, noisy);
    QFETCH(QString, name);
    QFETCH(QString, shown);
    QFETCH(bool, accepted);

    TestHost host;
    QImage picture = testPicture();
    if (noisy) {
        picture = QImage(1600, 1600, QImage::Format_RGB32);
        QRandomGenerator random(11);
        for (int y = 0; y < picture.height(); ++y)
            random.fillRange(reinterpret_cast<quint32*>(picture.scanLine(y)), picture.width());
        QVERIFY(jpegOf(picture).size() >= 1048576);
    }
    ReportRecorder recorder;
    std::unique_ptr<ShareDialog> dialog(size < 0 ? new ShareDialog(nullptr) : new MeasuredShareDialog(size));
    const ShareForm form{dialog.get()};
    dialog->setText(QStringLiteral("My chart"));
    dialog->setAttachment(name, picture);

    QCOMPARE(form.attName->text(), shown);
    QCOMPARE(form.attName->toolTip(), name);
    QVERIFY(!form.nameWidget->isHidden());
    QVERIFY(!form.image->isHidden());
    QVERIFY(form.attach->isHidden());
    // The preview fills the square, whatever the picture's shape.
    QCOMPARE(form.image->pixmap(Qt::ReturnByValue).size(), QSize(128, 128));
    QCOMPARE(form.sendButton->isEnabled(), accepted);
    QCOMPARE(form.errorLabel->isHidden(), accepted);
    QCOMPARE(form.count->text(), QStringLiteral("92"));
    if (!accepted) {
        QCOMPARE(form.errorLabel->text(), QStringLiteral("File should be under 1MB"));
        QCOMPARE(form.errorLabel->toolTip(), QStringLiteral("File should be under 1MB"));
    }

    // Taking the attachment away clears the refusal; the text alone can go.
    QTest::mouseClick(form.removeAttachmentButton, Qt::LeftButton);
    QVERIFY(form.errorLabel->isHidden());
    QVERIFY(form.nameWidget->isHidden());
    QVERIFY(form.image->isHidden());
    QVERIFY(!form.attach->isHidden());
    QCOMPARE(form.count->text(), QStringLiteral("132"));
    QVERIFY(form.sendButton->isEnabled());
    QVERIFY_NO_REPORTS(recorder);
}

void tst_ShareDialog::attachFromFile()
{
    TestHost host;
    QTemporaryDir folder;
    const QString picturePath = folder.filePath(QStringLiteral("My screen.v2.png"));
    QVERIFY(testPicture().save(picturePath));
    const QString notAPicture = folder.filePath(QStringLiteral("notes.png"));
    QFile notes(notAPicture);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("plain words") > 0);
    notes.close();

    ReportRecorder recorder;
    ShareDialog dialog(nullptr);
    const ShareForm form{&dialog};
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    FileChoices choices;
    choices.answers = QStringList{picturePath, notAPicture, QString()};

    const QString filter = QStringLiteral("All Images (*.jpg *.png *.gif)");
    clickLink(form.attach);
    QCOMPARE(choices.asked.size(), 1);
    QCOMPARE(choices.asked.at(0), (QStringList{QStringLiteral("Open Image"), QString(), filter}));
    QCOMPARE(choices.parents.at(0), &dialog);
    QCOMPARE(form.attName->text(), QStringLiteral("My screen"));
    QVERIFY(!form.image->pixmap(Qt::ReturnByValue).isNull());
    QCOMPARE(form.count->text(), QStringLiteral("100"));

    // A file that is no picture, then a cancelled choice: nothing is attached, nothing is said.
    QTest::mouseClick(form.removeAttachmentButton, Qt::LeftButton);
    clickLink(form.attach);
    clickLink(form.attach);
    QCOMPARE(choices.asked.size(), 3);
    QCOMPARE(choices.asked.at(1).at(1), QFileInfo(picturePath).absolutePath());
    QCOMPARE(choices.asked.at(2).at(1), QFileInfo(picturePath).absolutePath());
    QVERIFY(form.image->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(!form.attach->isHidden());
    QVERIFY(form.errorLabel->isHidden());
    QCOMPARE(form.count->text(), QStringLiteral("140"));
    QVERIFY_NO_REPORTS(recorder);
}

// Enter starts a line; Ctrl+Enter sends, as a click on Send would, and only when Send could be
// clicked. A refused send keeps everything for another try; a send that succeeds empties and hides
// the dialog; every send is counted. Signing out hides the dialog.
void tst_ShareDialog::sends()
{
    ProtocolTest::StartedHost started(true);
    QVERIFY(started.isStarted());
    ReportRecorder recorder;
    const qint64 sent = Corvane::counterValue(shareCounter);
    const int newest = sharedEmulator().store().newestMessageId();
    ShareDialog dialog(nullptr);
    const ShareForm form{&dialog};
    dialog.show();
    dialog.activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), &dialog);

    QTest::keyClick(form.text, Qt::Key_Return, Qt::ControlModifier);
    QCOMPARE(Corvane::counterValue(shareCounter), sent);
    dialog.setAttachment(QStringLiteral("AAPL daily"), testPicture(160, 90));
    dialog.setInReplyToMessageId(5); // the service has no such message
    QTest::keyClicks(form.text, QStringLiteral("Breakout on $AAPL,"));
    QTest::keyClick(form.text, Qt::Key_Return);
    QTest::keyClicks(form.text, QStringLiteral("see http://example.com"));
    const QString text = QStringLiteral("Breakout on $AAPL,\nsee http://example.com");
    QCOMPARE(form.text->toPlainText(), text);
    QCOMPARE(Corvane::counterValue(shareCounter), sent);
    // The keypad's Enter as well.
    QTest::keyClick(form.text, Qt::Key_Enter, Qt::ControlModifier | Qt::KeypadModifier);
    QVERIFY(form.inputsDisabled());
    QCOMPARE(Corvane::counterValue(shareCounter), sent + 1);
    QVERIFY(QTest::qWaitFor([&] { return !form.errorLabel->isHidden(); }));
    QVERIFY2(form.errorLabel->text().endsWith(QStringLiteral("server replied: Not Found")), qPrintable(form.errorLabel->text()));
    QCOMPARE(form.errorLabel->toolTip(), form.errorLabel->text());
    QVERIFY(form.isRed(form.errorLabel));
    QVERIFY(dialog.isVisible());
    QCOMPARE(form.text->toPlainText(), text);
    QVERIFY(!form.image->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(form.inputsEnabled());
    QVERIFY(form.sendButton->isEnabled());
    QCOMPARE(sharedEmulator().store().newestMessageId(), newest);

    // Another try goes out with the same content and hides the error while it is under way.
    dialog.setInReplyToMessageId(10005);
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    QVERIFY(form.inputsDisabled());
    QVERIFY(form.errorLabel->isHidden());
    QVERIFY(QTest::qWaitFor([&] { return dialog.isHidden(); }));
    QCOMPARE(Corvane::counterValue(shareCounter), sent + 2);
    QVERIFY(form.text->toPlainText().isEmpty());
    QVERIFY(form.nameWidget->isHidden());
    QVERIFY(form.image->pixmap(Qt::ReturnByValue).isNull());
    QVERIFY(!form.attach->isHidden());
    QCOMPARE(form.count->text(), QStringLiteral("140"));
    QVERIFY(form.inputsEnabled());
    QJsonObject message = newestMessage(QStringLiteral("streams/symbol/AAPL.json"));
    QCOMPARE(message.value(QStringLiteral("body")).toString(), text);
    QCOMPARE(message.value(QStringLiteral("in_reply_to_message_id")).toInt(), 10005);
    QVERIFY(message.value(QStringLiteral("entities")).toObject().contains(QStringLiteral("chart")));

    // A late error of a finished send finds nothing to report.
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onError", Q_ARG(ResponseError, ResponseError(-1, QStringLiteral("late")))));
    QVERIFY(form.errorLabel->isHidden());
    QVERIFY(!form.sendButton->isEnabled());

    // The emptied dialog answers nobody any more, and sends text alone as a form.
    dialog.setText(QStringLiteral("Plain words"));
    dialog.show();
    QTest::mouseClick(form.sendButton, Qt::LeftButton);
    QVERIFY(QTest::qWaitFor([&] { return dialog.isHidden(); }));
    message = newestMessage(QStringLiteral("streams/user/alice.json"));
    QCOMPARE(message.value(QStringLiteral("body")).toString(), QStringLiteral("Plain words"));
    QVERIFY(!message.contains(QStringLiteral("in_reply_to_message_id")));
    QVERIFY(!message.value(QStringLiteral("entities")).toObject().contains(QStringLiteral("chart")));
    QCOMPARE(Corvane::counterValue(shareCounter), sent + 3);

    // A change that leaves the user signed in leaves the dialog open; signing out hides it.
    dialog.setText(QStringLiteral("kept"));
    dialog.show();
    QVERIFY(QMetaObject::invokeMethod(&dialog, "onAuthorizationChanged"));
    QVERIFY(dialog.isVisible());
    started.authorization()->resetToken();
    QVERIFY(dialog.isHidden());
    QCOMPARE(form.text->toPlainText(), QStringLiteral("kept"));
    QVERIFY_NO_REPORTS(recorder);
}

QTEST_MAIN(tst_ShareDialog)
#include "tst_sharedialog.moc"
