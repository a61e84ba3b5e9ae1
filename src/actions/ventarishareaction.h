#pragma once

#include "ventariabstractaction.h"

#include <QtGui/QImage>

namespace Ventari {

// Posts one message: as a URL-encoded form, or with an image as a hand-built multipart body.
class VENTARI_EXPORT VentariShareAction : public VentariAbstractAction
{
    Q_OBJECT

public:
    VentariShareAction(const QString& text, const QImage& image, int inReplyToMessageId);

    QUrl url() override;
    QNetworkRequest createRequest() override;
    QByteArray postData() override;

    // The image as the chart part carries it: JPEG at the writer's default quality.
    static QByteArray encodeJpeg(const QImage& image);

private:
    const QByteArray& body();
    QByteArray formBody() const;
    QByteArray multipartBody() const;

    QString m_text;
    QImage m_image;
    int m_inReplyToMessageId;
    QByteArray m_body;
};

} // namespace Ventari
