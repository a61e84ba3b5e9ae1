#include "actionledger.h"

#include "actions/ventariabstractaction.h"

using Ventari::VentariAbstractAction;

namespace Soak {

bool ActionLedger::track(VentariAbstractAction* action, const QString& name, const char* resultSignal)
{
    Entry entry;
    entry.name = QStringLiteral("%1 #%2").arg(name).arg(m_entries.size());
    entry.ownResult = qstrcmp(resultSignal, SIGNAL(success())) != 0;
    m_live.insert(action, m_entries.size());
    m_entries.append(entry);

    bool ok = connect(action, resultSignal, this, SLOT(onResult()));
    if (entry.ownResult)
        ok = connect(action, SIGNAL(success()), this, SLOT(onSuccess())) && ok;
    ok = connect(action, SIGNAL(error(const ResponseError&)), this, SLOT(onError(const ResponseError&))) && ok;
    ok = connect(action, SIGNAL(destroyed(QObject*)), this, SLOT(onDestroyed(QObject*))) && ok;
    return ok;
}

void ActionLedger::markCancelled(VentariAbstractAction* action)
{
    if (Entry* entry = entryOf(action))
        entry->cancelled = true;
}

int ActionLedger::results() const
{
    int count = 0;
    for (const Entry& entry : m_entries)
        count += entry.results;
    return count;
}

int ActionLedger::errors(int status) const
{
    int count = 0;
    for (const Entry& entry : m_entries)
        count += entry.errors.count(status);
    return count;
}

QStringList ActionLedger::violations() const
{
    QStringList found;
    for (const Entry& entry : m_entries) {
        const int answers = entry.results + entry.errors.size();
        if (answers > 1 || (answers == 0 && !entry.cancelled))
            found << QStringLiteral("%1 answered %2 times").arg(entry.name).arg(answers);
        if (entry.ownResult && entry.results > 0 && entry.successes != 1)
            found << QStringLiteral("%1 gave its result after %2 successes").arg(entry.name).arg(entry.successes);
        if (entry.successes > 1)
            found << QStringLiteral("%1 succeeded %2 times").arg(entry.name).arg(entry.successes);
        if (!entry.deleted)
            found << QStringLiteral("%1 was never deleted").arg(entry.name);
    }
    return found;
}

void ActionLedger::onSuccess()
{
    if (Entry* entry = entryOf(sender()))
        ++entry->successes;
}

void ActionLedger::onResult()
{
    if (Entry* entry = entryOf(sender()))
        ++entry->results;
}

void ActionLedger::onError(const ResponseError& error)
{
    if (Entry* entry = entryOf(sender()))
        entry->errors.append(error.status);
}

// The address may be taken by a later action, so it leaves the index now.
void ActionLedger::onDestroyed(QObject* object)
{
    const auto found = m_live.find(object);
    if (found == m_live.end())
        return;
    m_entries[*found].deleted = true;
    m_live.erase(found);
}

ActionLedger::Entry* ActionLedger::entryOf(QObject* action)
{
    const auto found = m_live.constFind(action);
    return found == m_live.constEnd() ? nullptr : &m_entries[*found];
}

} // namespace Soak
