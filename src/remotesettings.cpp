#include "remotesettings.h"

#include "common/reports.h"

#include <settings/settingsstore.h>

#include <QtCore/QCoreApplication>
#include <QtCore/QHash>

namespace Ventari {

QVariant remoteSetting(const QByteArray& key, const QVariant& defaultValue)
{
    static QHash<QByteArray, QVariant> cache;
    const auto cached = cache.constFind(key);
    if (cached != cache.constEnd())
        return cached.value();

    SettingsStore* store = settingsStore();
    const QVariant value = store ? store->value("RemoteSettings/Ventari/" + key, QVariant()) : QVariant();
    if (!value.isValid())
        return defaultValue;
    cache.insert(key, value);
    return value;
}

SettingsStore* settingsStore()
{
    SettingsStore* store = SettingsStore::of(QCoreApplication::instance());
    VR_ASSERT(store);
    return store;
}

} // namespace Ventari
