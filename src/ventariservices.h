#pragma once

#include "ventariglobal.h"

class QString;

namespace Ventari {

class IAuthorization;

namespace Tessel {
class ITavSymbolMapper;
}

// The authorization state, reached through the facade registered in the host's service locator;
// null (the locator reports it) while no facade is registered.
VENTARI_EXPORT IAuthorization* authorizationState();

// The symbol mapper registered in the host's service locator; null (the locator reports it) while
// none is registered.
VENTARI_EXPORT Tessel::ITavSymbolMapper* symbolMapper();

// Shows a host notification (icon 0 plain, 1 error); shows nothing (the locator reports it) while
// the host offers no notifications.
VENTARI_EXPORT void postNotification(const QString& title, const QString& text, int icon);

} // namespace Ventari
