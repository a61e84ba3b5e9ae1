#pragma once

#include "iventariservice.h"
#include "ventariglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QMap>
#include <QtCore/QWeakPointer>

#include <memory>

namespace Ventari {

class Authorization;
class ShareDialog;
class VentariActionHandler;
class VentariModel;
class VentariStreamsHandler;

// The host's way into the plugin: shared message models per stream, value and filter, the
// authorization state, and the share dialog. Owns the plugin's long-lived singletons.
class VENTARI_EXPORT VentariService final : public IVentariService
{
public:
    VentariService();
    ~VentariService();
    VentariService(const VentariService&) = delete;
    VentariService& operator=(const VentariService&) = delete;

    QSharedPointer<IVentariModel> model(IVentariStream* stream, const QByteArray& streamValue, int filterIndex) override;
    IAuthorization* authorization() override;
    void shareImage(const QString& name, const QImage& image) override;
    void shareText(const QString& text) override;
    void replyToMessage(int messageId, const QString& userName) override;

private:
    // Ordered by stream id, then stream value, then filter index.
    struct ModelKey
    {
        QByteArray streamValue;
        QByteArray streamId;
        int filterIndex;

        bool operator<(const ModelKey& other) const;
    };

    // The share dialog once the user is authorized, made on first use; null when authorization failed.
    ShareDialog* authorizedShareDialog();
    static void present(ShareDialog* dialog);

    QMap<ModelKey, QWeakPointer<VentariModel>> m_models;
    std::unique_ptr<VentariActionHandler> m_actionHandler;
    std::unique_ptr<Authorization> m_authorization;
    std::unique_ptr<ShareDialog> m_shareDialog;
    std::unique_ptr<VentariStreamsHandler> m_streamsHandler;
};

} // namespace Ventari
