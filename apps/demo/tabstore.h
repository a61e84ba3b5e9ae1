#pragma once

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QString>

class SettingsStore;

// What one tab shows: a stream of the registry, its parameter and the filter.
struct TabState
{
    QByteArray streamId;
    QString value;       // the stream's parameter in the service's form; empty for fixed streams
    int filterIndex = 0;
    bool bell = false;   // new messages raise a notification

    // The same stream seen the same way; the bell is how the user is told of it, not what it shows.
    bool operator==(const TabState& other) const
    {
        return streamId == other.streamId && value == other.value && filterIndex == other.filterIndex;
    }
};

// The desk's tabs, kept in the host's settings store from one run to the next.
class TabStore
{
public:
    explicit TabStore(SettingsStore* store);

    // The stored tabs, or a few useful ones on the first run; entries that cannot be read are skipped.
    QList<TabState> tabs() const;
    int currentIndex() const;
    // The store writes the file on the event loop's next pass.
    void save(const QList<TabState>& tabs, int currentIndex);

    static QList<TabState> firstRunTabs();

private:
    SettingsStore* m_store;
};
