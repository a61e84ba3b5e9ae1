#pragma once

#include "ventaritypes.h"

#include <QtCore/QHash>
#include <QtCore/QObject>
#include <QtCore/QStringList>
#include <QtCore/QVector>

namespace Ventari {
class VentariAbstractAction;
}

namespace Soak {

// Signals carry it under this name, and string connections compare names.
using Ventari::ResponseError;

// Follows every action handed out, from creation to deletion: which of its signals came, how
// often, and whether the action is gone.
class ActionLedger : public QObject
{
    Q_OBJECT

public:
    // resultSignal: the SIGNAL() that carries the action's own result; SIGNAL(success()) when it has none.
    bool track(Ventari::VentariAbstractAction* action, const QString& name, const char* resultSignal);
    // A cancelled action may be dropped unanswered.
    void markCancelled(Ventari::VentariAbstractAction* action);

    int tracked() const { return m_entries.size(); }
    int alive() const { return m_live.size(); }
    int results() const;
    int errors(int status) const;
    // One line for each action that broke the rules: unanswered, answered twice, a result next to an
    // error or without success, or never deleted.
    QStringList violations() const;

private slots:
    void onSuccess();
    void onResult();
    void onError(const ResponseError& error);
    void onDestroyed(QObject* object);

private:
    struct Entry
    {
        QString name;
        bool ownResult = false; // a result signal besides success()
        bool cancelled = false;
        bool deleted = false;
        int successes = 0;
        int results = 0;
        QList<int> errors; // statuses
    };
    Entry* entryOf(QObject* action);

    QHash<QObject*, int> m_live; // action -> index into m_entries, until it is destroyed
    QVector<Entry> m_entries;
};

} // namespace Soak
