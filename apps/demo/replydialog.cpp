#include "replydialog.h"

#include "desktheme.h"
#include "messagetime.h"
#include "safetext.h"

#include <actions/ventarishareaction.h>
#include <remotesettings.h>
#include <ventariactionhandler.h>

#include <QtCore/QRegularExpression>
#include <QtGui/QKeySequence>
#include <QtWidgets/QDialogButtonBox>
#include <QtWidgets/QFrame>
#include <QtWidgets/QLabel>
#include <QtWidgets/QPlainTextEdit>
#include <QtWidgets/QPushButton>
#include <QShortcut> // QtWidgets under Qt 5, QtGui under Qt 6
#include <QtWidgets/QVBoxLayout>

namespace {

// The quote shows the start of a long message; the stream shows the rest.
const int quoteLength = 280;

} // namespace

ReplyDialog::ReplyDialog(QWidget* parent)
    : QDialog(parent)
    , m_author(new QLabel(this))
    , m_quote(new QLabel(this))
    , m_text(new QPlainTextEdit(this))
    , m_count(new QLabel(this))
    , m_error(new QLabel(this))
    , m_send(new QPushButton(QStringLiteral("Send"), this))
    , m_limit(Ventari::remoteSetting("symbolsLimit", 140).toInt())
    , m_linkLength(Ventari::remoteSetting("urlSymbols", 20).toInt())
{
    setObjectName(QStringLiteral("ReplyDialog"));
    setMinimumWidth(420);
    const DeskTheme& theme = DeskTheme::current();

    auto* quote = new QFrame(this);
    quote->setObjectName(QStringLiteral("quote"));
    quote->setStyleSheet(QStringLiteral("QFrame#quote { background: %1; border-radius: 4px; }").arg(theme.hover.name()));
    auto* quoteLayout = new QVBoxLayout(quote);
    quoteLayout->setContentsMargins(10, 6, 10, 6);
    quoteLayout->setSpacing(2);
    for (QLabel* label : {m_author, m_quote}) {
        label->setTextFormat(Qt::PlainText);
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
        quoteLayout->addWidget(label);
    }
    m_author->setObjectName(QStringLiteral("author"));
    m_quote->setObjectName(QStringLiteral("quoteText"));
    QFont bold = m_author->font();
    bold.setBold(true);
    m_author->setFont(bold);

    m_text->setObjectName(QStringLiteral("text"));
    m_text->setTabChangesFocus(true);
    m_text->setMinimumHeight(80);
    m_count->setObjectName(QStringLiteral("count"));
    m_error->setObjectName(QStringLiteral("error"));
    m_error->setTextFormat(Qt::PlainText);
    m_error->setWordWrap(true);
    m_error->setStyleSheet(QStringLiteral("color: %1;").arg(theme.like.name()));
    m_error->hide();
    m_send->setObjectName(QStringLiteral("send"));

    auto* buttons = new QDialogButtonBox(this);
    m_send->setDefault(true);
    m_send->setToolTip(QStringLiteral("Send the reply (Ctrl+Enter)"));
    buttons->addButton(m_send, QDialogButtonBox::AcceptRole);
    QPushButton* cancel = buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    cancel->setAutoDefault(false);
    connect(m_send, &QPushButton::clicked, this, &ReplyDialog::send);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(m_count);
    bottom->addWidget(m_error, 1);
    bottom->addWidget(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(quote);
    layout->addWidget(m_text, 1);
    layout->addLayout(bottom);

    // Enter starts a new line in the reply; with Ctrl it sends, as in the share dialog.
    for (const QKeySequence& keys : {QKeySequence(Qt::CTRL + Qt::Key_Return), QKeySequence(Qt::CTRL + Qt::Key_Enter)}) {
        auto* shortcut = new QShortcut(keys, this);
        connect(shortcut, &QShortcut::activated, this, &ReplyDialog::send);
    }
    connect(m_text, &QPlainTextEdit::textChanged, this, &ReplyDialog::updateState);
    updateState();
}

ReplyDialog::~ReplyDialog() = default;

void ReplyDialog::setMessage(const Ventari::Message& message)
{
    m_message = message;
    const QString handle = SafeText::handle(QLatin1Char('@'), message.user.username);
    setWindowTitle(QStringLiteral("Reply to %1").arg(handle));
    const QString name = SafeText::inset(message.user.name);
    const MessageTime time = MessageTime::forHostUser();
    m_author->setText(QStringLiteral("%1 %2 · %3")
                          .arg(name.isEmpty() ? handle : name, name.isEmpty() ? QString() : handle,
                               time.relative(message.createdAt, QDateTime::currentDateTimeUtc()))
                          .simplified());
    m_author->setToolTip(time.exact(message.createdAt));
    QString quoted = SafeText::plain(message.body);
    if (quoted.size() > quoteLength)
        quoted = quoted.left(quoteLength - 1).trimmed() + QChar(0x2026);
    m_quote->setText(quoted);
    m_quote->setToolTip(quoted.size() < message.body.size() ? SafeText::plain(message.body).left(4000) : QString());
    // A direction control in the name would turn round what the user types after it.
    m_text->setPlainText(QLatin1Char('@') + SafeText::plain(message.user.username) + QLatin1Char(' '));
    m_text->moveCursor(QTextCursor::End);
    m_error->hide();
    m_text->setFocus(Qt::OtherFocusReason);
}

QString ReplyDialog::text() const
{
    return m_text->toPlainText();
}

int ReplyDialog::remaining() const
{
    return m_limit - countedLength(text(), m_linkLength);
}

int ReplyDialog::countedLength(const QString& text, int linkLength)
{
    static const QRegularExpression link(QStringLiteral("https?://\\S+"));
    int length = 0;
    int from = 0;
    auto codePoints = [](QStringView piece) { return piece.toUcs4().size(); };
    for (auto it = link.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        length += codePoints(QStringView(text).mid(from, match.capturedStart() - from));
        length += qMin<int>(codePoints(match.capturedView()), linkLength);
        from = match.capturedEnd();
    }
    return length + codePoints(QStringView(text).mid(from));
}

void ReplyDialog::send()
{
    if (!m_send->isEnabled())
        return;
    Ventari::VentariActionHandler* handler = Ventari::VentariActionHandler::instance();
    if (!handler) {
        onError({-1, QStringLiteral("The Ventari plugin is not running.")});
        return;
    }
    auto* action = new Ventari::VentariShareAction(text(), QImage(), m_message.id);
    connect(action, &Ventari::VentariAbstractAction::success, this, &ReplyDialog::onSuccess);
    connect(action, &Ventari::VentariAbstractAction::error, this, &ReplyDialog::onError);
    handler->executeAction(action);
    m_sending = true;
    m_error->hide();
    updateState();
}

void ReplyDialog::updateState()
{
    const int left = remaining();
    m_count->setText(QString::number(left));
    m_count->setToolTip(QStringLiteral("Characters left; a link counts for at most %1").arg(m_linkLength));
    m_count->setStyleSheet(left < 0 ? QStringLiteral("color: %1;").arg(DeskTheme::current().like.name()) : QString());
    const bool something = !text().trimmed().isEmpty();
    m_send->setEnabled(!m_sending && left >= 0 && something);
    m_text->setReadOnly(m_sending);
}

void ReplyDialog::onSuccess()
{
    m_sending = false;
    updateState();
    emit sent();
    accept();
}

void ReplyDialog::onError(const Ventari::ResponseError& error)
{
    m_sending = false;
    m_error->setText(error.errorText.isEmpty() ? QStringLiteral("The reply was not sent.") : error.errorText);
    m_error->setToolTip(m_error->text());
    m_error->show();
    updateState();
}
