#pragma once

#include <ventaritypes.h>

#include <QtWidgets/QDialog>

class QLabel;
class QPlainTextEdit;
class QPushButton;

// The desk's answer to a message: the message answered (author, time and text, as the service
// sent them but made safe to show), the reply with the characters it has left, and Send, also
// on Ctrl+Enter. It posts through the plugin's request pool like any share.
class ReplyDialog : public QDialog
{
    Q_OBJECT

public:
    explicit ReplyDialog(QWidget* parent = nullptr);
    ~ReplyDialog() override;

    // Starts a reply to message: its author's handle first, the cursor after it.
    void setMessage(const Ventari::Message& message);
    Ventari::Message message() const { return m_message; }
    QString text() const;
    // Characters the service would still take; below 0 it refuses the reply.
    int remaining() const;
    // Counted as the service counts: a link for at most linkLength characters.
    static int countedLength(const QString& text, int linkLength);

public slots:
    void send();

signals:
    void sent();

private slots:
    void updateState();
    void onSuccess();
    void onError(const Ventari::ResponseError& error);

private:
    Ventari::Message m_message;
    QLabel* m_author;
    QLabel* m_quote;
    QPlainTextEdit* m_text;
    QLabel* m_count;
    QLabel* m_error;
    QPushButton* m_send;
    int m_limit;
    int m_linkLength;
    bool m_sending = false;
};
