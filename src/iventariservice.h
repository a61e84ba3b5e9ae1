#pragma once

#include <QtCore/QSharedPointer>

class QByteArray;
class QImage;
class QString;

namespace Ventari {

class IAuthorization;
class IVentariModel;
class IVentariStream;

// The plugin's facade, registered in the host's service locator. It is always deleted through
// its concrete type by the locator's storage, hence no virtual destructor.
class IVentariService
{
public:
    virtual QSharedPointer<IVentariModel> model(IVentariStream* stream, const QByteArray& streamValue,
                                                int filterIndex) = 0;
    virtual IAuthorization* authorization() = 0;
    virtual void shareImage(const QString& name, const QImage& image) = 0;
    virtual void shareText(const QString& text) = 0;
    virtual void replyToMessage(int messageId, const QString& userName) = 0;

protected:
    ~IVentariService() = default;
};

} // namespace Ventari
