#include "sharedialog.h"

#include "ui_sharedialog.h"

#include "actions/ventarishareaction.h"
#include "common/reports.h"
#include "iauthorization.h"
#include "remotesettings.h"
#include "ventariactionhandler.h"
#include "ventarilogging.h"
#include "ventariplugin.h"
#include "ventariservices.h"

#include <kelvar/filedialogs.h>
#include <kelvar/style.h>

#include <QtCore/QFileInfo>
#include <QRegExp> // QtCore under Qt 5, Core5Compat under Qt 6
#include <QtGui/QKeySequence>
#include <QtGui/QPixmap>
#include <QShortcut> // QtWidgets under Qt 5, QtGui under Qt 6
#include <QtWidgets/QVBoxLayout>

namespace Ventari {
namespace {

const qint64 attachmentLimit = 1048576;
const int attachmentNameLength = 15;

// At most n characters: a longer name (n itself included) keeps its two ends around "...".
QString shortenedName(const QString& name, int n)
{
    if (name.length() < n)
        return name;
    const int kept = (n - 3) / 2;
    return name.left(kept) + QLatin1String("...") + name.right(kept);
}

} // namespace

ShareDialog::ShareDialog(QWidget* parent)
    : Kelvar::Dialog(parent, QStringLiteral("VentariShareDialog"), Qt::Tool, 1, 13, true)
    , m_ui(new Ui::ShareDialog)
    , m_symbolsLimit(remoteSetting("symbolsLimit", 140).toInt())
    , m_urlSymbols(remoteSetting("urlSymbols", 20).toInt())
{
    setStatisticsCounterName(QStringLiteral("VentariShareDialog"));

    auto* form = new QWidget;
    m_ui->setupUi(form);
    auto* formLayout = new QVBoxLayout;
    formLayout->setContentsMargins(0, 0, 0, 0);
    formLayout->addWidget(form);
    layout()->addLayout(formLayout);

    setStyleSheet(VentariPlugin::pluginStyleSheet());
    setMinimumSize(412, 221);
    setResizeEnabled(false, false);
    setWindowTitle(tr("Share on Ventari"));
    setGeometryRegistryPath(QStringLiteral("VentariShareDialog"), 0);

    VR_VERIFY(connect(m_ui->attach, SIGNAL(linkActivated(const QString&)), this, SLOT(attachScreenshot())));
    VR_VERIFY(connect(m_ui->text, SIGNAL(textChanged()), this, SLOT(updateState())));
    VR_VERIFY(connect(m_ui->closeButton, SIGNAL(clicked()), this, SLOT(reject())));
    VR_VERIFY(connect(m_ui->sendButton, SIGNAL(clicked()), this, SLOT(send())));
    VR_VERIFY(connect(m_ui->removeAttachmentButton, SIGNAL(clicked()), this, SLOT(removeAttachment())));

    // Enter starts a new line; with Ctrl it sends, when Send could be clicked.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL + Qt::Key_Return), QKeySequence(Qt::CTRL + Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, [this] {
            if (m_ui->sendButton->isEnabled())
                send();
        });
    }
    m_ui->sendButton->setToolTip(tr("Send (Ctrl+Enter)"));

    m_ui->nameWidget->hide();
    m_ui->image->hide();
    m_ui->attach->show();

    clear();
    updateState();

    if (IAuthorization* authorization = authorizationState())
        authorization->subscribe("authorizationChanged", this, "onAuthorizationChanged");
}

ShareDialog::~ShareDialog()
{
    delete m_ui;
}

void ShareDialog::clear()
{
    m_ui->text->clear();
    setAttachment(QString(), QImage());
    m_inReplyToMessageId = -1;
    m_ui->errorLabel->hide();
}

void ShareDialog::setText(const QString& text)
{
    m_ui->text->setPlainText(text);
    m_ui->text->moveCursor(QTextCursor::End);
    updateState();
}

void ShareDialog::setAttachment(const QString& name, const QImage& image)
{
    m_attachment = image;
    if (image.isNull())
        m_ui->image->clear();
    else
        m_ui->image->setPixmap(QPixmap::fromImage(image.scaled(128, 128, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)));

    m_ui->attName->setText(shortenedName(name, attachmentNameLength));
    m_ui->attName->setToolTip(name);

    const bool attached = !image.isNull();
    m_ui->nameWidget->setVisible(attached);
    m_ui->image->setVisible(attached);
    m_ui->attach->setVisible(!attached);

    m_attachmentAccepted = checkAttachmentSize();
    updateState();
}

void ShareDialog::removeAttachment()
{
    setAttachment(QString(), QImage());
}

void ShareDialog::attachScreenshot()
{
    const QString file = Kelvar::getOpenFileName(this, tr("Open Image"), m_lastDirectory,
                                                 QStringLiteral("All Images (*.jpg *.png *.gif)"));
    if (file.isEmpty())
        return;
    const QFileInfo info(file);
    m_lastDirectory = info.absolutePath();
    QImage image;
    if (image.load(file))
        setAttachment(info.baseName(), image);
}

void ShareDialog::updateState()
{
    const int remaining = remainingCharacters();
    m_ui->count->setText(QString::number(remaining));
    m_ui->count->setProperty("negative", remaining < 0);
    Kelvar::polish(m_ui->count, false);

    const bool acceptable = remaining >= 0 && remaining != m_symbolsLimit;
    m_ui->sendButton->setEnabled(m_attachmentAccepted && acceptable && !m_sending);
    m_ui->attach->setEnabled(!m_sending);
    m_ui->text->setEnabled(!m_sending);
    m_ui->removeAttachmentButton->setEnabled(!m_sending);
}

void ShareDialog::send()
{
    OrvaneServiceApi()->addToCounter(shareCounter(), 1);

    auto* action = new VentariShareAction(m_ui->text->toPlainText(), m_attachment, m_inReplyToMessageId);
    VR_VERIFY(connect(action, SIGNAL(success()), this, SLOT(onSuccess())));
    VR_VERIFY(connect(action, SIGNAL(error(ResponseError)), this, SLOT(onError(ResponseError))));
    VentariActionHandler* handler = VentariActionHandler::instance();
    if (!handler) {
        delete action; // nothing could ever answer it; instance() has reported why
        return;
    }
    handler->executeAction(action);

    m_ui->errorLabel->hide();
    m_sending = true;
    updateState();
}

void ShareDialog::onError(const ResponseError& error)
{
    if (!m_sending)
        return;
    m_sending = false;
    showError(error.errorText);
    updateState();
}

void ShareDialog::onSuccess()
{
    m_sending = false;
    clear();
    updateState();
    hide();
}

void ShareDialog::onAuthorizationChanged()
{
    IAuthorization* authorization = authorizationState();
    if (!authorization || !authorization->isAuthorized())
        hide();
}

void ShareDialog::showEvent(QShowEvent*)
{
    m_ui->text->setFocus(Qt::OtherFocusReason);
}

qint64 ShareDialog::encodedJpegSize(const QImage& image) const
{
    return VentariShareAction::encodeJpeg(image).size();
}

// Links count for a fixed number of characters, whatever their length.
int ShareDialog::remainingCharacters() const
{
    static const QRegExp link(QStringLiteral(R"re(http(s?)\:{1}\S+\.[\S+^"])re"), Qt::CaseSensitive, QRegExp::RegExp);
    static const QString linkStandIn(m_urlSymbols + 2, QLatin1Char('a'));

    QString text = m_ui->text->toPlainText();
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    text = link.replaceIn(text, linkStandIn);
#else
    text.replace(link, linkStandIn);
#endif
    int remaining = m_symbolsLimit - text.length();
    if (!m_ui->image->pixmap(Qt::ReturnByValue).isNull())
        remaining -= 2 * m_urlSymbols;
    return remaining;
}

bool ShareDialog::checkAttachmentSize()
{
    if (m_attachment.isNull()) {
        m_ui->errorLabel->hide();
        return true;
    }
    if (encodedJpegSize(m_attachment) >= attachmentLimit) {
        showError(tr("File should be under 1MB"));
        return false;
    }
    return true;
}

void ShareDialog::showError(const QString& text)
{
    m_ui->errorLabel->setText(text);
    m_ui->errorLabel->setToolTip(text);
    m_ui->errorLabel->show();
}

} // namespace Ventari
