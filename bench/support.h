#pragma once

#include "platform/messagebox.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace orvantis::bench {

// Benchmarks measure work, not dialogs.
class SilentMessageBox : public MessageBox {
public:
    void show(const QString &, orvantis::MessageBoxStyle, const QString &) override {}
};

// The sizes every benchmark runs at: 1,000, 10,000 and 100,000 rows or files, and 1,000,000 only
// with ORVANTIS_BENCH_MILLION=1, as that takes a while to make and to read.
inline void standardSizes(benchmark::internal::Benchmark *b) {
    for (int n : {1000, 10000, 100000})
        b->Arg(n);
    if (const char *million = std::getenv("ORVANTIS_BENCH_MILLION");
        million && std::string(million) == "1")
        b->Arg(1000000);
    b->Unit(benchmark::kMillisecond);
}

} // namespace orvantis::bench
