#pragma once

#include "resident.h"

#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace orvantis::bench {

// The most memory this process has held, in MiB.
inline double peakResidentMiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// The memory held when the first benchmark of this process began; later repetitions of a
// benchmark start from what earlier ones left, so they are measured against this.
inline double processStartMiB() {
    static const double start = residentMiB();
    return start;
}

// Reports the peak memory and, against the memory held before the work began, its cost per row.
// Meaningful when the benchmark runs alone in its process, as the benchmark runner has it.
inline void reportMemory(benchmark::State &state, double startMiB, int64_t rows) {
    startMiB = std::min(startMiB, processStartMiB());
    const double peak = peakResidentMiB();
    state.counters["peak_rss_MiB"] = peak;
    state.counters["bytes_per_row"] =
        rows > 0 ? (peak - startMiB) * 1024.0 * 1024.0 / static_cast<double>(rows) : 0;
}

} // namespace orvantis::bench
