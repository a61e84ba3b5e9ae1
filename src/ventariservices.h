#pragma once

#include "ventariglobal.h"

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

} // namespace Ventari
