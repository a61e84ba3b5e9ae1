#include "ventariservice.h"

#include "authorization/authorization.h"
#include "common/reports.h"
#include "sharedialog.h"
#include "streams/iventaristream.h"
#include "ventariactionhandler.h"
#include "ventarimodel.h"
#include "ventaristreamshandler.h"

#include <QtGui/QImage>

#include <tuple>

namespace Ventari {

bool VentariService::ModelKey::operator<(const ModelKey& other) const
{
    return std::tie(streamId, streamValue, filterIndex) < std::tie(other.streamId, other.streamValue, other.filterIndex);
}

// The registry comes first: the streams exist before anything that could ask for them. The pool,
// made with the handler, finds the authorization state only on its queued start.
VentariService::VentariService()
{
    m_streamsHandler.reset(new VentariStreamsHandler);
    m_actionHandler.reset(new VentariActionHandler);
    m_authorization.reset(new Authorization);
}

// Models still held by the host outlive the table; only their entries go.
VentariService::~VentariService()
{
    m_streamsHandler.reset();
    m_shareDialog.reset();
    m_authorization.reset();
    m_actionHandler.reset();
    m_models.clear();
}

QSharedPointer<IVentariModel> VentariService::model(IVentariStream* stream, const QByteArray& streamValue, int filterIndex)
{
    if (!VR_ASSERT(stream))
        return {};
    const ModelKey key{streamValue, stream->id(), filterIndex};
    QSharedPointer<VentariModel> model = m_models.value(key).toStrongRef();
    if (!model) {
        model.reset(new VentariModel(stream, streamValue, filterIndex));
        m_models.insert(key, model);
    }
    return model;
}

IAuthorization* VentariService::authorization()
{
    return m_authorization.get();
}

void VentariService::shareImage(const QString& name, const QImage& image)
{
    ShareDialog* dialog = authorizedShareDialog();
    if (!dialog)
        return;
    dialog->clear();
    dialog->setAttachment(name, image);
    present(dialog);
}

void VentariService::shareText(const QString& text)
{
    ShareDialog* dialog = authorizedShareDialog();
    if (!dialog)
        return;
    if (!text.isEmpty()) {
        dialog->clear();
        dialog->setText(text);
    }
    present(dialog);
}

void VentariService::replyToMessage(int messageId, const QString& userName)
{
    ShareDialog* dialog = authorizedShareDialog();
    if (!dialog)
        return;
    dialog->clear();
    dialog->setText(QLatin1Char('@') + userName + QLatin1Char(' '));
    dialog->setInReplyToMessageId(messageId);
    present(dialog);
}

ShareDialog* VentariService::authorizedShareDialog()
{
    if (!authorization()->authorize())
        return nullptr;
    if (!m_shareDialog)
        m_shareDialog.reset(new ShareDialog(nullptr));
    return m_shareDialog.get();
}

void VentariService::present(ShareDialog* dialog)
{
    dialog->show();
    dialog->raise();
}

} // namespace Ventari
