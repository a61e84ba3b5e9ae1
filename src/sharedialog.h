#pragma once

#include "ventariglobal.h"
#include "ventaritypes.h"

#include <kelvar/dialog.h>

#include <QtGui/QImage>

namespace Ui {
class ShareDialog;
}

namespace Ventari {

// The window in which the user writes a message, attaches an image and sends it to the service.
class VENTARI_EXPORT ShareDialog : public Kelvar::Dialog
{
    Q_OBJECT

public:
    explicit ShareDialog(QWidget* parent);
    ~ShareDialog() override;

    void clear();
    void setText(const QString& text);
    void setAttachment(const QString& name, const QImage& image);
    void setInReplyToMessageId(int id) { m_inReplyToMessageId = id; }

public slots:
    void removeAttachment();
    void attachScreenshot();
    void updateState();
    void send();

private slots:
    void onError(const ResponseError& error);
    void onSuccess();
    void onAuthorizationChanged();

protected:
    void showEvent(QShowEvent* event) override;
    // The size of the image as the share action will send it.
    virtual qint64 encodedJpegSize(const QImage& image) const;

private:
    int remainingCharacters() const;
    bool checkAttachmentSize();
    void showError(const QString& text);

    Ui::ShareDialog* m_ui;
    int m_inReplyToMessageId = -1;
    int m_symbolsLimit;
    int m_urlSymbols;
    bool m_sending = false;
    QString m_lastDirectory;
    QImage m_attachment;
    bool m_attachmentAccepted = true;
};

} // namespace Ventari
