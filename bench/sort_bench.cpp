// The number-mode column sort against a plain stable sort of the same values held as doubles.
#include "memory.h"
#include "support.h"

#include "listsort/sortlistcolumn.h"
#include "scan/getscores.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

// Levels as the scan writes them: mostly small, some zero, a few large.
std::vector<int> randomLevels(int count) {
    std::mt19937 random(1234);
    std::uniform_int_distribution<int> level(0, 120);
    std::vector<int> levels(static_cast<size_t>(count));
    for (int &l : levels)
        l = random() % 50 == 0 ? static_cast<int>(random() % 2000000) : level(random);
    return levels;
}

void BM_SortListColumnNumberMode(benchmark::State &state) {
    const int rows = static_cast<int>(state.range(0));
    const std::vector<int> levels = randomLevels(rows);
    const double start = orvantis::bench::processStartMiB();
    orvantis::ReportList list({"Username", "Highest Level", "Char No.", "Char Name"});
    for (int i = 0; i < rows; ++i) {
        orvantis::ListItem item = list.listItems().Add(i + 1, QStringLiteral("user%1").arg(i));
        item.SetSubItems(2, QStringLiteral("1"));
        item.SetSubItems(3, QStringLiteral("Name"));
    }
    orvantis::bench::SilentMessageBox messages;
    const orvantis::SortEnvironment services{messages, QLocale::c()};
    for (auto _ : state) {
        state.PauseTiming();
        for (int i = 0; i < rows; ++i)
            list.setCell(i, 1,
                         orvantis::levelTextWithRoom(
                             levels[static_cast<size_t>(i)])); // as the scan makes them
        state.ResumeTiming();
        const bool ok = orvantis::SortListColumn(list, 2, orvantis::SortNumber,
                                                 orvantis::SortDescending, services);
        benchmark::DoNotOptimize(ok);
    }
    state.SetItemsProcessed(state.iterations() * rows);
    orvantis::bench::reportMemory(state, start, rows);
}
BENCHMARK(BM_SortListColumnNumberMode)->Apply(orvantis::bench::standardSizes);

void BM_PlainStableSortOfDoubles(benchmark::State &state) {
    const std::vector<int> levels = randomLevels(static_cast<int>(state.range(0)));
    const double start = orvantis::bench::processStartMiB();
    for (auto _ : state) {
        state.PauseTiming();
        std::vector<double> values(levels.begin(), levels.end());
        state.ResumeTiming();
        std::stable_sort(values.begin(), values.end(), std::greater<double>());
        benchmark::DoNotOptimize(values.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    orvantis::bench::reportMemory(state, start, state.range(0));
}
BENCHMARK(BM_PlainStableSortOfDoubles)->Apply(orvantis::bench::standardSizes);

} // namespace

BENCHMARK_MAIN();
