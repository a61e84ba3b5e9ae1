#pragma once

#include "ventariglobal.h"

namespace Ventari {

class IAuthorization;

// The authorization state, reached through the facade registered in the host's service locator;
// null (the locator reports it) while no facade is registered.
VENTARI_EXPORT IAuthorization* authorizationState();

} // namespace Ventari
