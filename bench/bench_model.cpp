// Merges stream pages into message lists of 1,000, 10,000 and 100,000 messages, as a model does on
// every answered load: a refresh page of the 30 newest messages (25 known, one of them with a
// changed likes set, and 5 new) and an older page of 30 at the front. A refresh must cost about
// the same whatever the list holds; the last line gives the ratio of the largest to the smallest.

#include "messagemerge.h"

#include "timesreporter.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>
#include <string>

namespace {

using Ventari::Message;
using Ventari::Messages;

const int firstId = 40000000;
const int idStep = 3; // gaps, as a filtered stream has them
const int knownInPage = 25;
const int newInPage = 5;
const int olderPageSize = 30;
const int changedUser = 424242;

// Messages as the service sends them: bodies, authors, symbols, likes, some charts.
class MessageFactory
{
public:
    Message message(int id)
    {
        Message message;
        message.id = id;
        message.body = QStringLiteral("$AAPL breaking out above %1 on volume, next stop %2? https://example.com/n/%3")
                           .arg(150 + pick(50))
                           .arg(200 + pick(50))
                           .arg(id);
        message.createdAt = QDateTime::fromSecsSinceEpoch(1700000000 + id, Qt::UTC);
        Ventari::SymbolInfo symbol;
        symbol.id = 600 + pick(8);
        symbol.symbol = QStringLiteral("AAPL");
        symbol.title = QStringLiteral("Apple Inc.");
        message.symbols.append(symbol);
        for (int i = pick(6); i > 0; --i)
            message.likes.insert(1000 + pick(5000));
        if (pick(4) == 0) {
            message.chart[Message::ChartThumb] = QStringLiteral("https://charts.example.com/%1/thumb.png").arg(id);
            message.chart[Message::ChartLarge] = QStringLiteral("https://charts.example.com/%1/large.png").arg(id);
            message.chart[Message::ChartOriginal] = QStringLiteral("https://charts.example.com/%1/original.png").arg(id);
        }
        message.user.id = 1 + pick(900);
        message.user.username = QStringLiteral("trader%1").arg(message.user.id);
        message.user.name = QStringLiteral("A Trader");
        message.user.avatarUrl = QStringLiteral("https://avatars.example.com/%1.png").arg(message.user.id);
        return message;
    }

    Messages list(int count)
    {
        Messages messages;
        messages.reserve(count);
        for (int i = 0; i < count; ++i)
            messages.append(message(firstId + i * idStep));
        return messages;
    }

private:
    int pick(int count) { return std::uniform_int_distribution<int>(0, count - 1)(m_random); }

    std::mt19937 m_random{11};
};

// A page in reply order, newest first.
Messages newestFirst(Messages page)
{
    std::reverse(page.begin(), page.end());
    return page;
}

// The refresh page for a list: its 25 newest messages, the second newest with one more or one less
// like, and 5 new messages. Merging it and then dropping the 5 new ones leaves the list as it was
// except for that likes set, which the next page changes back.
Messages refreshPage(const Messages& stored, MessageFactory& factory)
{
    Messages page = stored.mid(stored.size() - knownInPage);
    Message& changed = page[knownInPage - 2];
    if (changed.likes.contains(changedUser))
        changed.likes.remove(changedUser);
    else
        changed.likes.insert(changedUser);
    const int newest = stored.last().id;
    for (int i = 1; i <= newInPage; ++i)
        page.append(factory.message(newest + i * idStep));
    return newestFirst(page);
}

Messages olderPage(const Messages& stored, MessageFactory& factory)
{
    Messages page;
    for (int i = olderPageSize; i > 0; --i)
        page.append(factory.message(stored.first().id - i * idStep));
    return newestFirst(page);
}

bool isRefresh(const Ventari::MessageChanges& changes)
{
    return changes.removed.isEmpty() && changes.added.size() == newInPage && changes.changed.size() == 1;
}

// The lists are built once per size: building 100,000 messages costs more than all the merges.
const Messages& listOf(int count)
{
    static std::map<int, Messages> lists;
    auto it = lists.find(count);
    if (it == lists.end())
        it = lists.emplace(count, MessageFactory().list(count)).first;
    return it->second;
}

// How the list is held while a page is merged into it.
enum class Holding { Alone, AfterIndependentCopy, SharedWithCopy };

// Each turn merges a refresh page and drops its 5 new messages again, which costs the same for
// every list size; making and freeing a view's copy stays outside the measured time.
void runRefresh(benchmark::State& state, Holding holding)
{
    MessageFactory factory;
    Messages stored = Ventari::independentCopy(listOf(int(state.range(0))));
    // The second page turns the changed likes set back, so every turn changes one message.
    const Messages pageA = refreshPage(stored, factory);
    Messages merged = Ventari::independentCopy(stored);
    Ventari::mergePage(merged, pageA);
    merged.erase(merged.end() - newInPage, merged.end());
    const Messages pageB = refreshPage(merged, factory);
    merged.clear();

    int turn = 0;
    Messages copy;
    for (auto _ : state) {
        if (holding != Holding::Alone) {
            state.PauseTiming();
            copy = holding == Holding::SharedWithCopy ? stored : Ventari::independentCopy(stored);
            state.ResumeTiming();
        }
        const Ventari::MessageChanges changes = Ventari::mergePage(stored, turn++ % 2 ? pageB : pageA);
        if (!isRefresh(changes)) {
            state.SkipWithError("the refresh page did not add 5 and change 1");
            break;
        }
        stored.erase(stored.end() - newInPage, stored.end());
        if (holding != Holding::Alone) {
            state.PauseTiming();
            copy.clear();
            state.ResumeTiming();
        }
    }
}

void refreshMerge(benchmark::State& state)
{
    runRefresh(state, Holding::Alone);
}

// A view took a copy with messages() before the refresh.
void refreshMergeAfterMessages(benchmark::State& state)
{
    runRefresh(state, Holding::AfterIndependentCopy);
}

// What a copy sharing the list's storage would cost the refresh: the whole list copied first.
void refreshMergeWhileShared(benchmark::State& state)
{
    runRefresh(state, Holding::SharedWithCopy);
}

// Each turn puts an older page at the front and takes it off again.
void olderPageMerge(benchmark::State& state)
{
    MessageFactory factory;
    Messages stored = Ventari::independentCopy(listOf(int(state.range(0))));
    const Messages page = olderPage(stored, factory);
    for (auto _ : state) {
        const Ventari::MessageChanges changes = Ventari::mergePage(stored, page);
        if (changes.added.size() != olderPageSize || !changes.removed.isEmpty() || !changes.changed.isEmpty()) {
            state.SkipWithError("the older page did not add 30");
            break;
        }
        stored.erase(stored.begin(), stored.begin() + olderPageSize);
    }
}

// What messages() costs a view.
void independentCopy(benchmark::State& state)
{
    const Messages& stored = listOf(int(state.range(0)));
    for (auto _ : state) {
        Messages copy = Ventari::independentCopy(stored);
        benchmark::DoNotOptimize(copy);
    }
}

BENCHMARK(refreshMerge)->Arg(1000)->Arg(10000)->Arg(100000);
// Their copies, made outside the measured time, would make the runner repeat them for minutes.
BENCHMARK(refreshMergeAfterMessages)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(300);
BENCHMARK(refreshMergeWhileShared)->Arg(1000)->Arg(10000)->Arg(100000)->Iterations(300);
BENCHMARK(olderPageMerge)->Arg(1000)->Arg(10000)->Arg(100000);
BENCHMARK(independentCopy)->Arg(1000)->Arg(10000)->Arg(100000);

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    TimesReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    const double small = reporter.seconds("refreshMerge/1000");
    const double large = reporter.seconds("refreshMerge/100000");
    if (small < 0 || large < 0)
        return 0; // filtered out
    const double ratio = large / small;
    std::printf("refresh merge 100k/1k = %.2f\n", ratio);
    return ratio <= 2 ? 0 : 1;
}
