#pragma once

#include <QtCore/QString>

namespace Kelvar {

// The host's own failed checks go to the same service object as the plugin's.
void reportHostFailure(const char* file, int line, const char* function, const QString& expression);

} // namespace Kelvar

#define KELVAR_REPORT(text) ::Kelvar::reportHostFailure(__FILE__, __LINE__, Q_FUNC_INFO, QStringLiteral(text))
