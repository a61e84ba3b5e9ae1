#include "streamidinputmodel.h"

#include "common/jsonparser.h"
#include "remotesettings.h"

#include <settings/settingsstore.h>

#include <QtCore/QStringList>

namespace Ventari {

StreamIdInputModel::StreamIdInputModel(const QByteArray& settingsKey)
    : m_settingsKey(settingsKey)
{
    if (m_settingsKey.isEmpty())
        return;
    SettingsStore* store = settingsStore();
    const QVariant stored = store ? store->value(m_settingsKey, QVariant()) : QVariant();
    if (!stored.canConvert<QStringList>())
        return;
    const QStringList names = stored.toStringList();
    if (!names.isEmpty())
        setValues(Common::stringListToByteArrayList(names));
}

StreamIdInputModel::~StreamIdInputModel()
{
    if (m_settingsKey.isEmpty())
        return;
    if (SettingsStore* store = settingsStore())
        store->setValue(m_settingsKey, Common::byteArrayListToStringList(values()));
}

void StreamIdInputModel::setItems(const QList<QByteArray>& items)
{
    setValues(items);
}

QByteArray StreamIdInputModel::defaultValue() const
{
    return QByteArray();
}

bool StreamIdInputModel::acceptsValue(const QByteArray&) const
{
    return true;
}

} // namespace Ventari
