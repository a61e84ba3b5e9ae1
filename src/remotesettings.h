#pragma once

#include "ventariglobal.h"

#include <QtCore/QByteArray>
#include <QtCore/QVariant>

class SettingsStore;

namespace Ventari {

// The value the host keeps under "RemoteSettings/Ventari/" + key, cached for the life of the
// process once the store has one; the caller's default otherwise (not cached).
VENTARI_EXPORT QVariant remoteSetting(const QByteArray& key, const QVariant& defaultValue = QVariant());

// The host's settings store, carried by its application object.
VENTARI_EXPORT SettingsStore* settingsStore();

} // namespace Ventari
