// The scan with its closing sort, against the least any scan must do: list the folder and open,
// read and close every file once, one file at a time (the sequential baseline), with as many
// reads in flight as the scan keeps on as many threads (the parallel baseline), or through the
// ring as the scan does (the ring baseline). Each runs warm (the files in the
// page cache) and data-cold (every file's data dropped from the cache before each iteration).
#include "accountgenerator.h"
#include "memory.h"
#include "pagecache.h"
#include "support.h"

#include "scan/accounts/accountcells.h"
#include "scan/getscores.h"
#include "scan/reading/inifiles.h"
#include "scan/system/filering.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using orvantis::bench::evictFolderData;

std::string accountsOf(int count) {
    return (orvantis::bench::cachedAccountsFolder(count) + QStringLiteral("/accounts/"))
        .toStdString();
}

// Runs `work` on `threads` threads, this one among them, and waits for all.
template <typename Work> void onThreads(int threads, const Work &work) {
    std::vector<std::thread> helpers;
    for (int t = 1; t < threads; ++t)
        helpers.emplace_back(work);
    work();
    for (std::thread &helper : helpers)
        helper.join();
}

// Lists the folder, then opens, reads and closes every file with `threads` reads in flight.
size_t readEveryFile(const std::string &accounts, int threads) {
    const std::vector<std::string> names = orvantis::bench::folderNames(accounts);
    std::atomic<size_t> next{0}, bytes{0};
    const auto work = [&] {
        char buffer[64 * 1024];
        size_t mine = 0;
        for (size_t i; (i = next.fetch_add(1, std::memory_order_relaxed)) < names.size();) {
            const int fd = ::open((accounts + names[i]).c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                mine += static_cast<size_t>(got);
            ::close(fd);
        }
        bytes += mine;
    };
    onThreads(threads, work);
    return bytes;
}

// Lists the folder, then opens, reads and closes every file through the ring, as the scan
// arranges it: one ring per core, sharing `readsInFlight` slots. A file longer than a piece is
// read on the blocking way.
size_t readEveryFileThroughRing(const std::string &accounts, int readsInFlight) {
    const std::vector<std::string> names = orvantis::bench::folderNames(accounts);
    const int folder = ::open(accounts.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int threads =
        std::max(1, std::min<int>(readsInFlight, std::thread::hardware_concurrency()));
    std::atomic<size_t> next{0}, bytes{0};
    const auto work = [&] {
        const auto ring = orvantis::FileRing::create(
            static_cast<unsigned>(std::max(1, readsInFlight / threads)), orvantis::kFileReadPiece);
        if (!ring) {
            std::fprintf(stderr, "this system offers no io_uring\n");
            std::abort();
        }
        std::vector<char> rest(orvantis::kFileReadPiece);
        size_t mine = 0;
        bool more = true;
        while (more || ring->busy() > 0) {
            for (size_t i; more && ring->hasFreeSlot();) {
                if ((i = next.fetch_add(1, std::memory_order_relaxed)) < names.size())
                    ring->start(folder, names[i].c_str(), orvantis::kIniOpenFlags, i);
                else
                    more = false;
            }
            ring->collect(std::chrono::milliseconds(50), [&](const orvantis::RingRead &read) {
                mine += static_cast<size_t>(std::max(read.result, 0));
                if (static_cast<size_t>(read.result) == orvantis::kFileReadPiece) {
                    const int fd = ::openat(folder, names[read.tag].c_str(), O_RDONLY | O_CLOEXEC);
                    off_t at = read.result;
                    for (ssize_t got; (got = ::pread(fd, rest.data(), rest.size(), at)) > 0;
                         at += got)
                        mine += static_cast<size_t>(got);
                    ::close(fd);
                }
            });
        }
        bytes += mine;
    };
    onThreads(threads, work);
    ::close(folder);
    return bytes;
}

// One benchmark body for all: `cold` drops the files' data before each timed iteration.
template <typename Work> void measure(benchmark::State &state, bool cold, Work &&work) {
    const std::string accounts = accountsOf(static_cast<int>(state.range(0)));
    const double start = orvantis::bench::processStartMiB();
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            evictFolderData(accounts);
            state.ResumeTiming();
        }
        work();
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    orvantis::bench::reportMemory(state, start, state.range(0));
}

void sequentialBaseline(benchmark::State &state, bool cold) {
    const std::string accounts = accountsOf(static_cast<int>(state.range(0)));
    measure(state, cold, [&] { benchmark::DoNotOptimize(readEveryFile(accounts, 1)); });
}

void parallelBaseline(benchmark::State &state, bool cold) {
    const std::string accounts = accountsOf(static_cast<int>(state.range(0)));
    measure(state, cold, [&] {
        benchmark::DoNotOptimize(readEveryFile(accounts, orvantis::kDefaultReadsInFlight));
    });
}

// At the reads in flight of its second argument: the table takes the fastest.
void ringBaseline(benchmark::State &state, bool cold) {
    const std::string accounts = accountsOf(static_cast<int>(state.range(0)));
    measure(state, cold, [&] {
        benchmark::DoNotOptimize(
            readEveryFileThroughRing(accounts, static_cast<int>(state.range(1))));
    });
}
void ringDepths(benchmark::internal::Benchmark *b) {
    std::vector<int64_t> sizes = {1000, 10000, 100000};
    if (const char *million = std::getenv("ORVANTIS_BENCH_MILLION");
        million && std::string(million) == "1")
        sizes.push_back(1000000);
    for (const int64_t n : sizes)
        for (const int64_t depth : {64, 128, 256, 512})
            b->Args({n, depth});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void scanWithSort(benchmark::State &state, bool cold, int readsInFlight,
                  orvantis::FileReading reading = orvantis::FileReading::Ring) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    const orvantis::SortEnvironment environment{messages, QLocale::c()};
    orvantis::ScanSettings settings;
    settings.readsInFlight = readsInFlight;
    settings.reading = reading;
    measure(state, cold, [&] {
        orvantis::ReportList list(orvantis::reportColumnTitles());
        orvantis::GetScores(folder, list, environment, settings);
        benchmark::DoNotOptimize(list.listItems().Count());
    });
}

void BM_BaselineListAndReadEveryFile(benchmark::State &state) {
    sequentialBaseline(state, false);
}
void BM_BaselineListAndReadEveryFileCold(benchmark::State &state) {
    sequentialBaseline(state, true);
}
void BM_ParallelBaseline(benchmark::State &state) {
    parallelBaseline(state, false);
}
void BM_ParallelBaselineCold(benchmark::State &state) {
    parallelBaseline(state, true);
}
void BM_RingBaseline(benchmark::State &state) {
    ringBaseline(state, false);
}
void BM_RingBaselineCold(benchmark::State &state) {
    ringBaseline(state, true);
}
void BM_GetScoresWithSort(benchmark::State &state) {
    scanWithSort(state, false, orvantis::kDefaultReadsInFlight);
}
void BM_GetScoresWithSortCold(benchmark::State &state) {
    scanWithSort(state, true, orvantis::kDefaultReadsInFlight);
}

// The scan at 100,000 files with other numbers of reads in flight, warm and cold, through the
// ring and with blocking reads: the figures behind kDefaultReadsInFlight and the ring.
void BM_ReadsInFlight(benchmark::State &state) {
    scanWithSort(state, false, static_cast<int>(state.range(1)));
}
void BM_ReadsInFlightCold(benchmark::State &state) {
    scanWithSort(state, true, static_cast<int>(state.range(1)));
}
void BM_ReadsInFlightBlocking(benchmark::State &state) {
    scanWithSort(state, false, static_cast<int>(state.range(1)), orvantis::FileReading::Blocking);
}
void BM_ReadsInFlightBlockingCold(benchmark::State &state) {
    scanWithSort(state, true, static_cast<int>(state.range(1)), orvantis::FileReading::Blocking);
}
void readsInFlightSizes(benchmark::internal::Benchmark *b) {
    for (int threads : {16, 32, 64, 128, 256, 512})
        b->Args({100000, threads});
    if (const char *million = std::getenv("ORVANTIS_BENCH_MILLION");
        million && std::string(million) == "1")
        for (int threads : {64, 128, 256, 512})
            b->Args({1000000, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

BENCHMARK(BM_BaselineListAndReadEveryFile)->Apply(orvantis::bench::standardSizes)->UseRealTime();
BENCHMARK(BM_ParallelBaseline)->Apply(orvantis::bench::standardSizes)->UseRealTime();
BENCHMARK(BM_RingBaseline)->Apply(ringDepths);
BENCHMARK(BM_RingBaselineCold)->Apply(ringDepths);
BENCHMARK(BM_GetScoresWithSort)->Apply(orvantis::bench::standardSizes)->UseRealTime();
BENCHMARK(BM_BaselineListAndReadEveryFileCold)
    ->Apply(orvantis::bench::standardSizes)
    ->UseRealTime();
BENCHMARK(BM_ParallelBaselineCold)->Apply(orvantis::bench::standardSizes)->UseRealTime();
BENCHMARK(BM_GetScoresWithSortCold)->Apply(orvantis::bench::standardSizes)->UseRealTime();
BENCHMARK(BM_ReadsInFlight)->Apply(readsInFlightSizes);
BENCHMARK(BM_ReadsInFlightCold)->Apply(readsInFlightSizes);
BENCHMARK(BM_ReadsInFlightBlocking)->Apply(readsInFlightSizes);
BENCHMARK(BM_ReadsInFlightBlockingCold)->Apply(readsInFlightSizes);

} // namespace

BENCHMARK_MAIN();
