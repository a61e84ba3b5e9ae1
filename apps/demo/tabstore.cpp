#include "tabstore.h"

#include <settings/settingsstore.h>

#include <QtCore/QStringList>

namespace {

const QByteArray tabsKey = QByteArrayLiteral("VentariDesk/tabs");
const QByteArray currentKey = QByteArrayLiteral("VentariDesk/currentTab");
const QChar separator = QLatin1Char('\t');
const QString bellField = QStringLiteral("bell");

} // namespace

TabStore::TabStore(SettingsStore* store)
    : m_store(store)
{
}

QList<TabState> TabStore::tabs() const
{
    const QVariant stored = m_store->value(tabsKey);
    if (!stored.isValid())
        return firstRunTabs();
    QList<TabState> tabs;
    for (const QString& entry : stored.toStringList()) {
        const QStringList fields = entry.split(separator);
        bool ok = false;
        const int filter = fields.value(2).toInt(&ok);
        const bool bell = fields.size() == 4 && fields.at(3) == bellField;
        if ((fields.size() != 3 && !bell) || fields.at(0).isEmpty() || !ok || filter < 0)
            continue;
        tabs.append({fields.at(0).toUtf8(), fields.at(1), filter, bell});
    }
    return tabs.isEmpty() ? firstRunTabs() : tabs;
}

int TabStore::currentIndex() const
{
    return m_store->value(currentKey, 0).toInt();
}

void TabStore::save(const QList<TabState>& tabs, int currentIndex)
{
    QStringList entries;
    for (const TabState& tab : tabs) {
        QString value = tab.value;
        value.remove(separator);
        QString entry = QString::fromUtf8(tab.streamId) + separator + value + separator + QString::number(tab.filterIndex);
        if (tab.bell)
            entry += separator + bellField;
        entries << entry;
    }
    m_store->setValue(tabsKey, entries);
    m_store->setValue(currentKey, currentIndex);
}

QList<TabState> TabStore::firstRunTabs()
{
    return {{"symbol", QStringLiteral("AAPL"), 0}, {"trending", QString(), 0}, {"mentions", QString(), 0}};
}
