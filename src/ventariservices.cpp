#include "ventariservices.h"

#include "iventariservice.h"
#include "tessel/itavsymbolmapper.h"

#include <kelvar/notifications.h>
#include <kelvar/servicelocator.h>

#include <QtCore/QObject>
#include <QtCore/QPointer>

namespace Ventari {

IAuthorization* authorizationState()
{
    IVentariService* service = Kelvar::ServiceLocator::instance()->service<IVentariService>();
    return service ? service->authorization() : nullptr;
}

// The mapper is a QObject: the one found is kept until it is destroyed, then looked up again.
Tessel::ITavSymbolMapper* symbolMapper()
{
    static QPointer<QObject> s_mapperObject;
    static Tessel::ITavSymbolMapper* s_mapper = nullptr;
    if (s_mapperObject)
        return s_mapper;
    s_mapper = Kelvar::ServiceLocator::instance()->service<Tessel::ITavSymbolMapper>();
    s_mapperObject = dynamic_cast<QObject*>(s_mapper);
    return s_mapper;
}

void postNotification(const QString& title, const QString& text, int icon)
{
    if (auto* notifications = Kelvar::ServiceLocator::instance()->service<Kelvar::INotifications>())
        notifications->notificationManager()->addEvent(new Kelvar::SimpleNotificationInfo(title, text, icon));
}

} // namespace Ventari
