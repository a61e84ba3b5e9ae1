#pragma once

#include "ventariglobal.h"

#include <corvane/corvane.h>

// The plugin's log categories and usage counter, registered with the host when the library loads.
namespace Ventari {
namespace Log {

VENTARI_EXPORT Corvane::CategoryHandle authorization(); // "Ventari.Authorization"
VENTARI_EXPORT Corvane::CategoryHandle requestPool();   // "Ventari.RequestPool"

} // namespace Log

// Counts the messages sent from the share dialog.
VENTARI_EXPORT Corvane::CounterHandle shareCounter();

} // namespace Ventari
