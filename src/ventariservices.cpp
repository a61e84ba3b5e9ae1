#include "ventariservices.h"

#include "iventariservice.h"

#include <kelvar/servicelocator.h>

namespace Ventari {

IAuthorization* authorizationState()
{
    IVentariService* service = Kelvar::ServiceLocator::instance()->service<IVentariService>();
    return service ? service->authorization() : nullptr;
}

} // namespace Ventari
