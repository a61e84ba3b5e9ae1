#pragma once

#include "hostglobal.h"

#include <QtCore/QString>

namespace Corvane {

// The text with the value of every access token replaced by "***": "access_token=" in addresses and
// form bodies, a multipart field named access_token, a JSON member "access_token" and the
// "Token Loaded:" and "Token Received:" records.
HOST_EXPORT QString maskAccessTokens(const QString& text);

} // namespace Corvane
