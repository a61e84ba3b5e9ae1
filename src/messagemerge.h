#pragma once

#include "ventariglobal.h"
#include "ventaritypes.h"

#include <QtCore/QList>

namespace Ventari {

// What one merge did to a list, as message ids in the order the model reports them.
struct MessageChanges
{
    QList<int> removed;
    QList<int> added;
    QList<int> changed;

    bool isEmpty() const { return removed.isEmpty() && added.isEmpty() && changed.isEmpty(); }
};

// Merges a page of messages, in any order, into a list kept in strictly ascending id order:
// messages older than the list go to its front, newer ones to its end; inside the page's range a
// stored message missing from the page is removed and one whose likes set differs is replaced.
// A page loaded below an id (`below`, not -1) covers only the ids under it: stored messages from
// that id on are left alone, and the page's own messages there are ignored.
// Costs what the page and its changes need, not what the stored list holds, as long as the list
// shares its storage with no other list.
VENTARI_EXPORT MessageChanges mergePage(Messages& stored, const Messages& page, int below = -1);

// The position of the first message whose id is not below `id`; the size when there is none.
VENTARI_EXPORT int firstAtOrAbove(const Messages& messages, int id);

// A copy of a list that shares no storage with it, so that the list's next merge need not copy
// the whole list before changing it.
VENTARI_EXPORT Messages independentCopy(const Messages& messages);

} // namespace Ventari
