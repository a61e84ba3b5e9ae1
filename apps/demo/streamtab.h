#pragma once

#include "tabstore.h"

#include <ventaritypes.h>

#include <QtCore/QPointer>
#include <QtCore/QVector>
#include <QtCore/QSharedPointer>
#include <QtWidgets/QWidget>

#include <memory>

class AddressOpener;
class ImageCache;
class MessageListModel;
class MessageListView;
class QUrl;
class ReplyDialog;
class UnreadCounter;

namespace Ui {
class StreamTab;
}
namespace Ventari {
class IAuthorization;
class IVentariModel;
class IVentariService;
class IVentariStream;
}

// One stream in a tab: the stream picker, the stream's own editor, the filter picker, the bell,
// follow and share buttons, a banner for the stream's errors, and its messages, with a count of
// those that came while the tab was not on screen.
class StreamTab : public QWidget
{
    Q_OBJECT

public:
    // Clicked links, charts and videos go to opener.
    StreamTab(Ventari::IVentariService* service, ImageCache* images, AddressOpener* opener, QWidget* parent = nullptr);
    ~StreamTab() override;

    // Shows that stream, parameter and filter; an unknown stream falls back to the first one.
    void setState(const TabState& state);
    TabState state() const { return m_state; }
    QString title() const;

    MessageListView* view() const;
    MessageListModel* messages() const { return m_messages; }
    QString bannerText() const;
    // Puts the keyboard in the stream's editor, if it has one, its text selected to type over.
    void focusEditor();
    // New messages since the tab was last on screen.
    int unreadCount() const;
    // Whether new messages here raise notifications; kept with the tab's state.
    void setBell(bool bell);
    bool hasBell() const { return m_state.bell; }
    // The desk's reply to a message of this tab, while it is open.
    ReplyDialog* replyDialog() const;

public slots:
    // Offers the desk window's picture for a new message.
    void shareScreenshot();

signals:
    // The stream, parameter or filter changed.
    void stateChanged();
    // A symbol or user in a message was clicked.
    void openRequested(const TabState& state);
    void unreadChanged(int count);
    // Messages newer than any the tab had, newest first; not those of its first answer.
    void newMessages(const QVector<Ventari::Message>& messages);
    // "Open chart" on a message: the desk shows it.
    void chartRequested(const Ventari::Message& message);
    // A reply went to the service.
    void replySent();

private slots:
    // Called by the stream's editor when an entry is done.
    void onEditDone();
    void onEditorChoicesChanged();
    void onStreamPicked(int index);
    void onFilterPicked(int index);
    void onFollowClicked(bool follow);
    void onFollowStateChanged(bool follow);
    void onShareIdea();
    void onModelError(const QString& text);
    void onAnswered();
    void onRetry();
    void onBannerClosed();
    void onSignIn();
    void onLikeClicked(int messageId, bool liked);
    void onReplyClicked(int messageId, const QString& username);
    void onLinkClicked(const QUrl& url);
    void onSymbolClicked(const QString& symbol);
    void onUserClicked(const QString& username);
    // Called by the authorization state's notifier, by name.
    void onAuthorizationChanged();
    void onUserInfoChanged();
    void onBellToggled(bool bell);

protected:
    // A tab on screen tells its model, which then refreshes first.
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    Ventari::IVentariStream* stream() const;
    Ventari::IAuthorization* authorization() const;
    void rebuildEditor();
    void rebuildFilters();
    void openModel();
    void updateFollowButton();
    void showFollowing(bool following);
    QString followText(bool compact) const;
    void fitControls();
    void updatePlaceholder();
    // signIn: the banner offers to sign in rather than to retry.
    void showBanner(const QString& text, bool signIn);
    // The stream is for signed-in users and nobody is signed in.
    bool waitsForSignIn() const;
    QString signInText() const;
    bool ensureSignedIn();
    // The subject as the desk shows it: "$AAPL", "@alice", a watch list's name.
    QString subjectText() const;

    std::unique_ptr<Ui::StreamTab> m_ui;
    Ventari::IVentariService* m_service;
    AddressOpener* m_opener;
    MessageListModel* m_messages;
    UnreadCounter* m_unread;
    QPointer<ReplyDialog> m_reply;
    QPointer<QWidget> m_editor;
    QSharedPointer<Ventari::IVentariModel> m_model;
    TabState m_state;
    QString m_failure; // the model's error, until it answers
    bool m_settingUp = false;
    bool m_compact = false; // the controls row without labels and the follow button's subject
};
