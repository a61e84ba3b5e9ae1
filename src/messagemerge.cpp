#include "messagemerge.h"

#include <algorithm>

namespace Ventari {
namespace {

bool lessById(const Message& a, const Message& b)
{
    return a.id < b.id;
}

bool sameId(const Message& a, const Message& b)
{
    return a.id == b.id;
}

// The page smallest id first. A page that names an id twice keeps its first message of that id:
// a second one would break the order of the list it lands in.
Messages ascendingPage(const Messages& page)
{
    Messages sorted = page;
    std::stable_sort(sorted.begin(), sorted.end(), lessById);
    sorted.erase(std::unique(sorted.begin(), sorted.end(), sameId), sorted.end());
    return sorted;
}

// The first position from `from` on whose id is not below `id`.
int lowerBound(const Messages& stored, int from, int id)
{
    int low = from;
    int high = stored.size();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (stored.at(mid).id < id)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

} // namespace

// Only const access reads the stored list, so a list that shares its storage is copied no sooner
// than something really changes.
MessageChanges mergePage(Messages& stored, const Messages& page)
{
    const Messages incoming = ascendingPage(page);
    const int pageSize = incoming.size();
    MessageChanges changes;
    int next = 0; // the incoming message to place, smallest id first

    if (stored.isEmpty()) {
        for (const Message& message : incoming) {
            stored.append(message);
            changes.added.append(message.id);
        }
        return changes;
    }

    // Older than everything stored: to the front, in ascending order.
    const int oldest = stored.at(0).id;
    int i = 0;
    while (next < pageSize && incoming.at(next).id < oldest) {
        stored.insert(i++, incoming.at(next));
        changes.added.append(incoming.at(next).id);
        ++next;
    }
    if (next == pageSize)
        return changes;

    // Stored messages older than the rest of the page stay as they are.
    i = lowerBound(stored, i, incoming.at(next).id);

    // The overlap. A stored message whose id differs from the incoming one is removed, and so is
    // every stored message after it up to one with the incoming id: they go as one run.
    while (i < stored.size() && next < pageSize) {
        const Message& message = incoming.at(next);
        if (stored.at(i).id != message.id) {
            int end = i + 1;
            while (end < stored.size() && stored.at(end).id != message.id)
                ++end;
            for (int r = i; r < end; ++r)
                changes.removed.append(stored.at(r).id);
            stored.erase(stored.begin() + i, stored.begin() + end);
            continue;
        }
        if (stored.at(i).likes != message.likes) {
            stored[i] = message;
            changes.changed.append(message.id);
        }
        ++i;
        ++next;
    }

    // Newer than everything left: to the end.
    for (; next < pageSize; ++next) {
        stored.append(incoming.at(next));
        changes.added.append(incoming.at(next).id);
    }
    return changes;
}

Messages independentCopy(const Messages& messages)
{
    Messages copy = messages;
    copy.detach();
    return copy;
}

} // namespace Ventari
