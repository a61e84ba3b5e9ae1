#include "refreshround.h"

#include "actions/ventariabstractaction.h"

#include <cmath>

namespace Ventari {

int RefreshRound::next(const QList<PooledRequest>& queue, qint64 now)
{
    forgetGoneOwners();
    int chosen = -1;
    Owner best;
    for (int i = 0; i < queue.size(); ++i) {
        const PooledRequest& request = queue.at(i);
        if (request.notBefore > now)
            continue;
        const bool onScreen = request.action->refreshTurn().onScreen;
        Owner& owner = ownerOf(request.action);
        // Time spent waiting for a retry, or without a request, earns no turns to catch up with.
        owner.pass = qMax(owner.pass, m_time);
        // Just come on screen: the earliest turn there is, and ties go to owners on screen.
        if (onScreen && !owner.onScreen)
            owner.pass = m_time;
        owner.onScreen = onScreen;
        if (chosen == -1 || owner.pass < best.pass || (owner.pass == best.pass && owner.onScreen && !best.onScreen)) {
            chosen = i;
            best = owner;
        }
    }
    if (chosen == -1)
        return -1;

    const qreal weight = queue.at(chosen).action->refreshTurn().weight;
    const qreal share = (std::isfinite(weight) && weight > 0 ? weight : 1) * (best.onScreen ? onScreenFactor : 1);
    m_time = best.pass;
    ownerOf(queue.at(chosen).action).pass += 1 / share;
    return chosen;
}

RefreshRound::Owner& RefreshRound::ownerOf(const VentariAbstractAction* action)
{
    QObject* object = action->refreshTurn().owner;
    if (!object)
        object = const_cast<VentariAbstractAction*>(action);
    Owner& owner = m_owners[object];
    if (!owner.object) { // new, or a gone owner's address taken again
        owner = Owner();
        owner.object = object;
        owner.pass = m_time;
    }
    return owner;
}

void RefreshRound::forgetGoneOwners()
{
    for (auto it = m_owners.begin(); it != m_owners.end();) {
        if (it->object)
            ++it;
        else
            it = m_owners.erase(it);
    }
}

} // namespace Ventari
