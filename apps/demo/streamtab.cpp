#include "streamtab.h"

#include "addressopener.h"
#include "addresspolicy.h"
#include "bellicon.h"
#include "desktheme.h"
#include "imagecache.h"
#include "messagedelegate.h"
#include "messagelayout.h"
#include "messagelistmodel.h"
#include "messagelistview.h"
#include "mnemonictext.h"
#include "replydialog.h"
#include "safetext.h"
#include "ui_streamtab.h"
#include "unreadcounter.h"

#include <iauthorization.h>
#include <iventarimodel.h>
#include <iventariservice.h>
#include <kelvar/combocontrol.h>
#include <kelvar/commoninputmodel.h>
#include <streams/iventaristream.h>
#include <ventaristreamshandler.h>

#include <QtCore/QDateTime>
#include <QtWidgets/QAbstractItemView>
#include <QtWidgets/QComboBox>
#include <QtWidgets/QLineEdit>
#include <QtWidgets/QMenu>

namespace {

// Pixels of the follow button's subject before it is shortened.
const int followSubjectWidth = 140;

} // namespace

StreamTab::StreamTab(Ventari::IVentariService* service, ImageCache* images, AddressOpener* opener, QWidget* parent)
    : QWidget(parent)
    , m_ui(std::make_unique<Ui::StreamTab>())
    , m_service(service)
    , m_opener(opener)
    , m_messages(new MessageListModel(this))
    , m_unread(new UnreadCounter(m_messages, this))
{
    m_ui->setupUi(this);
    const DeskTheme& theme = DeskTheme::current();
    m_ui->banner->setStyleSheet(QStringLiteral("QFrame#banner { background: %1; } QLabel { color: %2; }")
                                    .arg(theme.bannerBackground.name(), theme.bannerText.name()));
    m_ui->banner->hide();
    m_ui->followButton->setStyleSheet(QStringLiteral("QPushButton:checked { background: %1; color: white; }")
                                          .arg(palette().color(QPalette::Highlight).name()));
    QIcon bell = BellIcon::make(palette().color(QPalette::Highlight), true);
    const QIcon off = BellIcon::make(theme.dim, false);
    for (const int side : {16, 32})
        bell.addPixmap(off.pixmap(side, side), QIcon::Normal, QIcon::Off);
    m_ui->bellButton->setIcon(bell);
    m_ui->messages->setImageCache(images);
    m_ui->messages->setModel(m_messages);

    for (Ventari::IVentariStream* stream : Ventari::VentariStreamsHandler::instance()->streams())
        m_ui->streamCombo->addItem(stream->name(), stream->id());
    // The box is as wide as most names; its list shows them all whole.
    m_ui->streamCombo->view()->setMinimumWidth(m_ui->streamCombo->view()->sizeHintForColumn(0) + 24);

    connect(m_ui->streamCombo, QOverload<int>::of(&QComboBox::activated), this, &StreamTab::onStreamPicked);
    connect(m_ui->filterCombo, QOverload<int>::of(&QComboBox::activated), this, &StreamTab::onFilterPicked);
    connect(m_ui->followButton, &QPushButton::clicked, this, &StreamTab::onFollowClicked);
    auto* share = new QMenu(m_ui->shareButton);
    share->addAction(QStringLiteral("Share an &idea…"), this, &StreamTab::onShareIdea);
    share->addAction(QStringLiteral("Share a &screenshot of the desk…"), this, &StreamTab::shareScreenshot);
    m_ui->shareButton->setMenu(share);
    connect(m_ui->shareButton, &QToolButton::clicked, this, &StreamTab::onShareIdea);
    connect(m_ui->bannerRetry, &QPushButton::clicked, this, &StreamTab::onRetry);
    connect(m_ui->bannerSignIn, &QPushButton::clicked, this, &StreamTab::onSignIn);
    connect(m_ui->bannerClose, &QToolButton::clicked, this, &StreamTab::onBannerClosed);
    connect(m_messages, &MessageListModel::errorOccurred, this, &StreamTab::onModelError);
    connect(m_messages, &MessageListModel::answered, this, &StreamTab::onAnswered);
    connect(m_messages, &MessageListModel::followStateChanged, this, &StreamTab::onFollowStateChanged);
    connect(m_unread, &UnreadCounter::countChanged, this, &StreamTab::unreadChanged);
    connect(m_unread, &UnreadCounter::arrived, this, &StreamTab::newMessages);
    connect(m_ui->bellButton, &QToolButton::toggled, this, &StreamTab::onBellToggled);

    // Clicks come in once the view is done with the mouse: they may open a modal dialog, during
    // which refreshes change the rows under it.
    MessageDelegate* delegate = m_ui->messages->messageDelegate();
    connect(delegate, &MessageDelegate::likeClicked, this, &StreamTab::onLikeClicked, Qt::QueuedConnection);
    connect(delegate, &MessageDelegate::replyClicked, this, &StreamTab::onReplyClicked, Qt::QueuedConnection);
    connect(delegate, &MessageDelegate::linkClicked, this, &StreamTab::onLinkClicked, Qt::QueuedConnection);
    connect(delegate, &MessageDelegate::symbolClicked, this, &StreamTab::onSymbolClicked, Qt::QueuedConnection);
    connect(delegate, &MessageDelegate::userClicked, this, &StreamTab::onUserClicked, Qt::QueuedConnection);

    authorization()->subscribe("authorizationChanged", this, "onAuthorizationChanged");
    authorization()->subscribe("userInfoChanged", this, "onUserInfoChanged");
    onUserInfoChanged();
}

StreamTab::~StreamTab()
{
    // The view lets go of the model before this tab's reference to it goes.
    m_messages->setSource({});
    if (Ventari::IAuthorization* auth = authorization())
        auth->unsubscribe(this);
}

void StreamTab::setState(const TabState& state)
{
    m_settingUp = true;
    int index = m_ui->streamCombo->findData(state.streamId);
    m_state = state;
    if (index == -1) {
        index = 0;
        m_state = TabState{m_ui->streamCombo->itemData(0).toByteArray(), QString(), 0};
    }
    m_ui->streamCombo->setCurrentIndex(index);
    m_ui->bellButton->setChecked(m_state.bell);
    rebuildFilters();
    rebuildEditor();
    m_settingUp = false;
    openModel();
}

QString StreamTab::title() const
{
    Ventari::IVentariStream* current = stream();
    if (!current)
        return QString();
    QString title = subjectText();
    if (title.isEmpty())
        title = current->needsId() ? QStringLiteral("%1 …").arg(current->name()) : current->name();
    const Ventari::StreamFilters filters = current->filters();
    if (m_state.filterIndex > 0 && m_state.filterIndex < filters.size())
        title += QStringLiteral(" · ") + filters.at(m_state.filterIndex).label;
    return title;
}

MessageListView* StreamTab::view() const
{
    return m_ui->messages;
}

QString StreamTab::bannerText() const
{
    return m_ui->banner->isHidden() ? QString() : m_ui->bannerText->text();
}

void StreamTab::focusEditor()
{
    if (!m_editor)
        return;
    auto* line = qobject_cast<QLineEdit*>(m_editor.data());
    if (!line)
        line = m_editor->findChild<QLineEdit*>();
    if (line && line->isEnabled()) {
        line->setFocus(Qt::ShortcutFocusReason);
        line->selectAll();
        return;
    }
    if (auto* combo = m_editor->findChild<QComboBox*>())
        combo->setFocus(Qt::ShortcutFocusReason);
    else
        m_editor->setFocus(Qt::ShortcutFocusReason);
}

ReplyDialog* StreamTab::replyDialog() const
{
    return m_reply;
}

int StreamTab::unreadCount() const
{
    return m_unread->count();
}

void StreamTab::setBell(bool bell)
{
    m_ui->bellButton->setChecked(bell);
}

void StreamTab::onBellToggled(bool bell)
{
    m_ui->bellButton->setToolTip(bell ? QStringLiteral("New messages here raise a notification; click to stop")
                                      : QStringLiteral("Notify me of new messages in this tab"));
    if (bell == m_state.bell)
        return;
    m_state.bell = bell;
    emit stateChanged();
}

void StreamTab::onEditDone()
{
    if (m_settingUp || !m_editor || !stream())
        return;
    const QString value = stream()->controlValue(m_editor).trimmed();
    if (value == m_state.value)
        return;
    m_state.value = value;
    openModel();
}

void StreamTab::onEditorChoicesChanged()
{
    if (!m_editor)
        return;
    // A value missing from the new choices (or none yet) falls back to the stream's first choice.
    stream()->setControlValue(m_editor, m_state.value);
    const QString shown = stream()->controlValue(m_editor);
    if (shown.isEmpty() || shown == m_state.value) {
        emit stateChanged();
        return;
    }
    m_state.value = shown;
    openModel();
}

void StreamTab::onStreamPicked(int index)
{
    const QByteArray id = m_ui->streamCombo->itemData(index).toByteArray();
    if (id == m_state.streamId)
        return;
    // A symbol typed in the symbol stream does not become a user name in the user stream.
    setState({id, QString(), 0});
    focusEditor();
}

void StreamTab::onFilterPicked(int index)
{
    if (index == m_state.filterIndex)
        return;
    m_state.filterIndex = index;
    openModel();
}

void StreamTab::onFollowClicked(bool follow)
{
    if (!m_model || !ensureSignedIn()) {
        updateFollowButton();
        return;
    }
    // The button shows the wish at once; the model's answer confirms it or flips it back.
    showFollowing(follow);
    m_model->follow(follow);
}

void StreamTab::onFollowStateChanged(bool)
{
    updateFollowButton();
}

void StreamTab::onShareIdea()
{
    m_service->shareText(QString());
}

void StreamTab::shareScreenshot()
{
    const QImage screenshot = window()->grab().toImage();
    m_service->shareImage(QStringLiteral("desk-%1.png").arg(QTime::currentTime().toString(QStringLiteral("HHmm"))),
                          screenshot);
}

void StreamTab::onModelError(const QString& text)
{
    m_failure = text;
    showBanner(text, false);
    updatePlaceholder();
}

void StreamTab::onAnswered()
{
    m_failure.clear();
    m_ui->banner->hide();
    updatePlaceholder();
    updateFollowButton();
}

// The model keeps what it shows and loads afresh; its refreshes go on from that load.
void StreamTab::onRetry()
{
    if (!m_model) {
        openModel();
        return;
    }
    m_ui->banner->hide();
    m_failure.clear();
    m_model->forceUpdateData();
    updatePlaceholder();
}

// Narrow, the row of controls does without its labels (the boxes keep their names for screen
// readers and tooltips) and the follow button without its subject (its tooltip has it) before
// anything is squeezed.
void StreamTab::resizeEvent(QResizeEvent* event)
{
    QWidget::resizeEvent(event);
    fitControls();
}

void StreamTab::fitControls()
{
    int wanted = m_ui->controlsLayout->sizeHint().width();
    if (m_compact) {
        for (QLabel* label : {m_ui->streamLabel, m_ui->filterLabel})
            wanted += label->sizeHint().width() + m_ui->controlsLayout->spacing();
        const QFontMetrics metrics = m_ui->followButton->fontMetrics();
        wanted += metrics.horizontalAdvance(followText(false)) - metrics.horizontalAdvance(followText(true));
    }
    const bool compact = width() < wanted;
    if (compact == m_compact)
        return;
    m_compact = compact;
    m_ui->streamLabel->setVisible(!compact);
    m_ui->filterLabel->setVisible(!compact);
    if (!m_ui->followButton->isHidden())
        showFollowing(m_ui->followButton->isChecked());
}

void StreamTab::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_model)
        m_model->setOnScreen(true);
    m_unread->setOnScreen(true);
}

void StreamTab::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_model)
        m_model->setOnScreen(false);
    m_unread->setOnScreen(false);
}

void StreamTab::onBannerClosed()
{
    m_ui->banner->hide();
    updatePlaceholder();
}

// The stream opens once the authorization changes; others reload once the user record does.
void StreamTab::onSignIn()
{
    authorization()->authorize();
}

void StreamTab::onLikeClicked(int messageId, bool liked)
{
    if (!m_model || !ensureSignedIn())
        return;
    // While the user signed in, a refresh may have taken the message away.
    if (!m_model || !m_model->containsMessage(messageId))
        return;
    if (liked)
        m_model->unlikeMessage(messageId);
    else
        m_model->likeMessage(messageId);
}

// The desk's own dialog, which shows the message answered; one per tab, taken over by the next
// reply.
void StreamTab::onReplyClicked(int messageId, const QString&)
{
    const int row = m_messages->rowOfMessage(messageId);
    if (row == -1 || !ensureSignedIn())
        return;
    const Ventari::Message message = m_messages->messageAt(row);
    if (!m_reply) {
        m_reply = new ReplyDialog(this);
        m_reply->setAttribute(Qt::WA_DeleteOnClose);
        connect(m_reply, &ReplyDialog::sent, this, &StreamTab::replySent);
    }
    m_reply->setMessage(message);
    m_reply->show();
    m_reply->raise();
    m_reply->activateWindow();
}

// "Open chart" asks for the chart's address; the desk shows the chart itself, when it may load it.
void StreamTab::onLinkClicked(const QUrl& url)
{
    const bool loadable = AddressPolicy::refusal(url, AddressPolicy::Use::Load).isEmpty();
    for (int row = 0; loadable && row < m_messages->rowCount(); ++row) {
        const Ventari::Message message = m_messages->messageAt(row);
        if (MessageLayout::hasChart(message) && MessageLayout::chartUrl(message) == url) {
            emit chartRequested(message);
            return;
        }
    }
    m_opener->open(url);
}

void StreamTab::onSymbolClicked(const QString& symbol)
{
    emit openRequested({"symbol", symbol, 0});
}

void StreamTab::onUserClicked(const QString& username)
{
    emit openRequested({"user", username, 0});
}

// A stream for signed-in users lets go of the last user's messages, and opens for the next one.
void StreamTab::onAuthorizationChanged()
{
    Ventari::IVentariStream* current = stream();
    if (current && current->authorizationMode() == 2)
        openModel();
    else
        updateFollowButton();
}

void StreamTab::onUserInfoChanged()
{
    const Ventari::StoredUserInfo user = authorization()->userInfo();
    m_messages->setCurrentUserId(authorization()->isAuthorized() && !user.isEmpty ? user.info.id : -1);
}

Ventari::IVentariStream* StreamTab::stream() const
{
    for (Ventari::IVentariStream* stream : Ventari::VentariStreamsHandler::instance()->streams()) {
        if (stream->id() == m_state.streamId)
            return stream;
    }
    return nullptr;
}

Ventari::IAuthorization* StreamTab::authorization() const
{
    return m_service->authorization();
}

void StreamTab::rebuildEditor()
{
    delete m_editor;
    Ventari::IVentariStream* current = stream();
    m_editor = current ? current->createIdControl(this, SLOT(onEditDone())) : nullptr;
    if (!m_editor)
        return;
    m_ui->editorSlot->addWidget(m_editor);
    if (!m_state.value.isEmpty())
        current->setControlValue(m_editor, m_state.value);
    // Watch lists arrive after the editor is made: the chosen one is shown again once they are in.
    if (auto* combo = qobject_cast<ComboControl*>(m_editor.data()))
        connect(combo->model(), &QAbstractItemModel::modelReset, this, &StreamTab::onEditorChoicesChanged);
}

void StreamTab::rebuildFilters()
{
    m_ui->filterCombo->clear();
    if (Ventari::IVentariStream* current = stream()) {
        for (const Ventari::StreamFilter& filter : current->filters())
            m_ui->filterCombo->addItem(filter.label);
    }
    if (m_state.filterIndex >= m_ui->filterCombo->count())
        m_state.filterIndex = 0;
    m_ui->filterCombo->setCurrentIndex(m_state.filterIndex);
    m_ui->filterCombo->setEnabled(m_ui->filterCombo->count() > 1);
}

void StreamTab::openModel()
{
    Ventari::IVentariStream* current = stream();
    if (current && !waitsForSignIn() && (!current->needsId() || !m_state.value.isEmpty()))
        m_model = m_service->model(current, m_state.value.toUtf8(), m_state.filterIndex);
    else
        m_model.reset();
    if (m_model)
        m_model->setOnScreen(isVisible());
    m_ui->banner->hide();
    m_failure.clear();
    m_messages->setSource(m_model);
    if (waitsForSignIn())
        showBanner(signInText(), true);
    updateFollowButton();
    updatePlaceholder();
    emit stateChanged();
}

void StreamTab::updateFollowButton()
{
    Ventari::IVentariStream* current = stream();
    const bool followable = current && current->canFollow() && m_model;
    m_ui->followButton->setVisible(followable);
    if (!followable)
        return;
    showFollowing(m_model->isFollow());
    // The service tells the subject's id with the first answer; before it there is nothing to follow.
    m_ui->followButton->setEnabled(m_messages->hasAnswered());
}

// A long user name keeps both its ends; the tooltip has it whole.
QString StreamTab::followText(bool compact) const
{
    const bool following = m_ui->followButton->isChecked();
    if (compact)
        return following ? QStringLiteral("Following") : QStringLiteral("Follow");
    const QString subject = m_ui->followButton->fontMetrics().elidedText(subjectText(), Qt::ElideMiddle, followSubjectWidth);
    return following ? QStringLiteral("Following %1").arg(subject) : QStringLiteral("Follow %1").arg(subject);
}

void StreamTab::showFollowing(bool following)
{
    m_ui->followButton->setChecked(following);
    m_ui->followButton->setText(mnemonicText(followText(m_compact)));
    m_ui->followButton->setToolTip(following ? QStringLiteral("Stop following %1").arg(subjectText())
                                             : QStringLiteral("Follow %1 on Ventari").arg(subjectText()));
    fitControls();
}

void StreamTab::updatePlaceholder()
{
    Ventari::IVentariStream* current = stream();
    QString text;
    if (!current)
        text = QStringLiteral("No such stream.");
    else if (!m_ui->banner->isHidden() && m_messages->rowCount() == 0)
        text = QString();
    else if (waitsForSignIn())
        text = signInText();
    else if (!m_model)
        text = current->id() == "watchlist" ? QStringLiteral("Pick one of your watch lists above.")
                                            : QStringLiteral("Enter a %1 above and press Enter.").arg(current->name().toLower());
    else if (!m_failure.isEmpty() && m_messages->rowCount() == 0)
        text = m_failure;
    else if (!m_messages->hasAnswered())
        text = QStringLiteral("Loading messages…");
    else
        text = QStringLiteral("No messages here yet.");
    m_ui->messages->setPlaceholderText(text);
}

void StreamTab::showBanner(const QString& text, bool signIn)
{
    m_ui->bannerText->setText(text);
    m_ui->bannerSignIn->setVisible(signIn);
    m_ui->bannerRetry->setVisible(!signIn);
    m_ui->banner->show();
}

bool StreamTab::waitsForSignIn() const
{
    Ventari::IVentariStream* current = stream();
    return current && current->authorizationMode() == 2 && !authorization()->isAuthorized();
}

QString StreamTab::signInText() const
{
    return QStringLiteral("Sign in to see %1.").arg(stream()->name());
}

bool StreamTab::ensureSignedIn()
{
    return authorization()->isAuthorized() || authorization()->authorize();
}

QString StreamTab::subjectText() const
{
    if (m_state.value.isEmpty())
        return QString();
    if (m_state.streamId == "symbol")
        return SafeText::handle(QLatin1Char('$'), m_state.value);
    if (m_state.streamId == "user")
        return SafeText::handle(QLatin1Char('@'), m_state.value);
    if (auto* combo = qobject_cast<ComboControl*>(m_editor.data()))
        return SafeText::inset(QString::fromUtf8(combo->value()));
    return SafeText::inset(m_state.value);
}
