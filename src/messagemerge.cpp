#include "messagemerge.h"

#include <algorithm>
#include <climits>

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

// The first position in [from, end) whose id is not below `id`; end when there is none.
int lowerBound(const Messages& stored, int from, int end, int id)
{
    int low = from;
    int high = end;
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

int firstAtOrAbove(const Messages& messages, int id)
{
    return lowerBound(messages, 0, messages.size(), id);
}

// Only const access reads the stored list, so a list that shares its storage is copied no sooner
// than something really changes. Everything happens below `end`: the whole list, or the part under
// the page's bound.
MessageChanges mergePage(Messages& stored, const Messages& page, int below)
{
    Messages incoming = ascendingPage(page);
    if (below != -1)
        incoming.erase(incoming.begin() + lowerBound(incoming, 0, incoming.size(), below), incoming.end());
    const int pageSize = incoming.size();
    MessageChanges changes;
    int next = 0; // the incoming message to place, smallest id first
    int end = below == -1 ? stored.size() : firstAtOrAbove(stored, below);

    // Older than everything stored in range: to the front, in ascending order. Put there newest
    // first, each at the very front, which both Qts do without moving the rest of the list.
    const int oldest = end == 0 ? INT_MAX : stored.at(0).id;
    while (next < pageSize && incoming.at(next).id < oldest)
        ++next;
    for (int k = next - 1; k >= 0; --k)
        stored.prepend(incoming.at(k));
    for (int k = 0; k < next; ++k)
        changes.added.append(incoming.at(k).id);
    int i = next;
    end += next;
    if (next == pageSize)
        return changes;

    // Stored messages older than the rest of the page stay as they are.
    i = lowerBound(stored, i, end, incoming.at(next).id);

    // The overlap. A stored message whose id differs from the incoming one is removed, and so is
    // every stored message after it up to one with the incoming id: they go as one run.
    while (i < end && next < pageSize) {
        const Message& message = incoming.at(next);
        if (stored.at(i).id != message.id) {
            int runEnd = i + 1;
            while (runEnd < end && stored.at(runEnd).id != message.id)
                ++runEnd;
            for (int r = i; r < runEnd; ++r)
                changes.removed.append(stored.at(r).id);
            stored.erase(stored.begin() + i, stored.begin() + runEnd);
            end -= runEnd - i;
            continue;
        }
        if (stored.at(i).likes != message.likes) {
            stored[i] = message;
            changes.changed.append(message.id);
        }
        ++i;
        ++next;
    }

    // Newer than everything left in range: to its end.
    for (; next < pageSize; ++next) {
        stored.insert(end++, incoming.at(next));
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
