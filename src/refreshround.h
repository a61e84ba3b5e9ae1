#pragma once

#include "ventariglobal.h"

#include <QtCore/QHash>
#include <QtCore/QList>
#include <QtCore/QPointer>

namespace Ventari {

class VentariAbstractAction;

// A request handed to the pool: the action (not owned; null once its owner destroyed it), its id,
// and for a retry the moment (on the pool's clock, in ms) before which it waits.
struct PooledRequest
{
    QPointer<VentariAbstractAction> action;
    int id = 0;
    qint64 notBefore = 0;

    bool operator==(const PooledRequest& other) const { return id == other.id; }
};

// Picks the periodic request that goes out at a tick. Owners take turns, each as often as its weight
// says (stride scheduling), so no owner waits while another of the same weight is served twice; an
// owner on screen counts double and, when it has just come on screen, goes first. Requests waiting
// for a retry are passed over until their moment.
class VENTARI_EXPORT RefreshRound
{
public:
    static constexpr qreal onScreenFactor = 2;

    // The position in queue of the request to send at `now`, counted as served; -1 when none is due.
    // Every request in queue must have an action.
    int next(const QList<PooledRequest>& queue, qint64 now);

private:
    struct Owner
    {
        QPointer<QObject> object;
        qreal pass = 0; // virtual time of its next turn
        bool onScreen = false;
    };

    Owner& ownerOf(const VentariAbstractAction* action);
    void forgetGoneOwners();

    QHash<const QObject*, Owner> m_owners;
    qreal m_time = 0; // the pass of the turn served last
};

} // namespace Ventari
