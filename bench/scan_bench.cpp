// The scan with its closing sort, against the least any scan must do: list the folder and
// open, read and close every file once. Both run on the same files, in the page cache.
#include "accountgenerator.h"
#include "memory.h"
#include "support.h"

#include "scan/getscores.h"
#include "scan/reportcolumns.h"

#include <benchmark/benchmark.h>

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

void BM_BaselineListAndReadEveryFile(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    const std::string accounts = (folder + QStringLiteral("/accounts/")).toStdString();
    const double start = orvantis::bench::processStartMiB();
    char buffer[64 * 1024];
    for (auto _ : state) {
        DIR *dir = ::opendir(accounts.c_str());
        size_t bytes = 0;
        while (const dirent *entry = ::readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            const int fd = ::open((accounts + entry->d_name).c_str(), O_RDONLY | O_CLOEXEC);
            for (ssize_t got; (got = ::read(fd, buffer, sizeof buffer)) > 0;)
                bytes += static_cast<size_t>(got);
            ::close(fd);
        }
        ::closedir(dir);
        benchmark::DoNotOptimize(bytes);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    orvantis::bench::reportMemory(state, start, state.range(0));
}

void BM_GetScoresWithSort(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    const orvantis::SortEnvironment services{messages, QLocale::c()};
    const double start = orvantis::bench::processStartMiB();
    for (auto _ : state) {
        orvantis::ReportList list(orvantis::reportColumnTitles());
        orvantis::GetScores(folder, list, services);
        benchmark::DoNotOptimize(list.listItems().Count());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
    orvantis::bench::reportMemory(state, start, state.range(0));
}

BENCHMARK(BM_BaselineListAndReadEveryFile)->Apply(orvantis::bench::standardSizes);
BENCHMARK(BM_GetScoresWithSort)->Apply(orvantis::bench::standardSizes);

} // namespace

BENCHMARK_MAIN();
