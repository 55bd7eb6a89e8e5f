// The window against the console ranking on the same folder: the scan into the window's list,
// and the view filled and painted from it afterwards. Runs on the offscreen platform.
#include "accountgenerator.h"

#include "console/ranking.h"
#include "scan/getscores.h"
#include "window/frmmain.h"
#include "window/levelcolumns.h"

#include <QApplication>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

namespace {

class SilentMessageBox : public orvantis::MessageBox {
public:
    void Show(const QString &, int, const QString &) override {}
};

void accountCounts(benchmark::internal::Benchmark *b) {
    b->Arg(10000)->Arg(100000);
    if (const char *million = std::getenv("ORVANTIS_BENCH_MILLION"); million && std::string(million) == "1")
        b->Arg(1000000);
    b->Unit(benchmark::kMillisecond);
}

// What orvantis-rank does: scan, sort and write the ranking text.
void BM_ConsoleRanking(benchmark::State &state) {
    const QString folder = orvantis::bench::CachedAccountsFolder(static_cast<int>(state.range(0)));
    SilentMessageBox messages;
    for (auto _ : state) {
        orvantis::ReportList list(orvantis::LevelColumnHeaders());
        orvantis::GetScores(folder, list, {messages, QLocale::c()});
        benchmark::DoNotOptimize(orvantis::RankingText(list).size());
    }
}
BENCHMARK(BM_ConsoleRanking)->Apply(accountCounts);

// A Refresh of the shown window: clear, scan, sort, and the view reset and painted.
void BM_WindowRefresh(benchmark::State &state) {
    const QString folder = orvantis::bench::CachedAccountsFolder(static_cast<int>(state.range(0)));
    SilentMessageBox messages;
    orvantis::frmMain window(folder, messages, QLocale::c());
    window.show();
    for (auto _ : state) {
        window.Command1_Click();
        window.lvLevels()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
}
BENCHMARK(BM_WindowRefresh)->Apply(accountCounts);

// The view alone: filled from a list that a scan has just rebuilt, and painted.
void BM_WindowViewFill(benchmark::State &state) {
    const QString folder = orvantis::bench::CachedAccountsFolder(static_cast<int>(state.range(0)));
    SilentMessageBox messages;
    orvantis::frmMain window(folder, messages, QLocale::c());
    window.show();
    for (auto _ : state) {
        state.PauseTiming();
        window.levels().listItems().Clear();
        orvantis::GetScores(folder, window.levels(), {messages, QLocale::c()});
        state.ResumeTiming();
        QCoreApplication::processEvents(); // the one reset the list's changes asked for
        window.lvLevels()->viewport()->repaint();
        benchmark::DoNotOptimize(window.lvLevels()->model()->rowCount());
    }
}
BENCHMARK(BM_WindowViewFill)->Apply(accountCounts);

} // namespace

int main(int argc, char **argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
