// The window against the console ranking on the same folder: the scan into the window's
// records, and the view filled and painted from them afterwards. Runs on the offscreen platform.
#include "accountgenerator.h"
#include "memory.h"
#include "pagecache.h"
#include "scanwaiting.h"
#include "support.h"

#include "formats/accountranking.h"
#include "scan/reading/scanaccounts.h"
#include "window/findbar.h"
#include "window/frmmain.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <functional>
#include <vector>

namespace {

// While it lives, the longest gap between the ticks of a 10 ms timer, which is how long the
// window's event loop could not paint or answer; kept in `longestMs` as it goes.
class EventLoopGaps {
public:
    explicit EventLoopGaps(double &longestMs) : longestMs_(longestMs) {
        ticks_.setInterval(10);
        QObject::connect(&ticks_, &QTimer::timeout, [this] { tick(); });
        sinceTick_.start();
        ticks_.start();
    }
    ~EventLoopGaps() { tick(); }

private:
    void tick() {
        longestMs_ = std::max(longestMs_, sinceTick_.nsecsElapsed() / 1e6);
        sinceTick_.restart();
    }
    double &longestMs_;
    QElapsedTimer sinceTick_;
    QTimer ticks_;
};

// What orvantis-rank does: scan into ranked records and write the ranking text.
void BM_ConsoleRanking(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    const double start = orvantis::bench::processStartMiB();
    for (auto _ : state) {
        const orvantis::ScanResult scan = orvantis::scanAccounts(folder);
        benchmark::DoNotOptimize(
            orvantis::rankingText(*scan.records, scan.characters.get()).size());
    }
    orvantis::bench::reportMemory(state, start, state.range(0));
}
BENCHMARK(BM_ConsoleRanking)->Apply(orvantis::bench::standardSizes);

// A Refresh of the shown window: clear, scan, sort, and the view reset and painted.
void BM_WindowRefresh(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    const double start = orvantis::bench::processStartMiB();
    orvantis::frmMain window(folder, messages);
    window.show();
    for (auto _ : state) {
        refreshAndWait(window);
        window.levelsView()->viewport()->repaint();
        QCoreApplication::processEvents();
    }
    orvantis::bench::reportMemory(state, start, state.range(0));
}
BENCHMARK(BM_WindowRefresh)->Apply(orvantis::bench::standardSizes);

// The view alone: filled from the records a scan has just made, and painted.
void BM_WindowViewFill(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    const double start = orvantis::bench::processStartMiB();
    orvantis::frmMain window(folder, messages);
    window.show();
    for (auto _ : state) {
        state.PauseTiming();
        orvantis::ScanResult scan = orvantis::scanAccounts(folder);
        state.ResumeTiming();
        window.lvLevels().setRanking(std::make_shared<orvantis::LiveRanking>(std::move(scan)));
        QCoreApplication::processEvents();
        window.levelsView()->viewport()->repaint();
        benchmark::DoNotOptimize(window.levelsView()->model()->rowCount());
    }
    orvantis::bench::reportMemory(state, start, state.range(0));
}
BENCHMARK(BM_WindowViewFill)->Apply(orvantis::bench::standardSizes);

// The window's event loop while a Refresh scans a data-cold folder: the longest gap between the
// ticks of a 10 ms timer, which is how long the window could not paint or answer.
void BM_WindowEventLoopGapCold(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    const std::string accounts = (folder + QStringLiteral("/accounts/")).toStdString();
    orvantis::bench::SilentMessageBox messages;
    orvantis::frmMain window(folder, messages);
    loadAndWait(window);
    window.show();
    double longestGapMs = 0;
    for (auto _ : state) {
        state.PauseTiming();
        orvantis::bench::evictFolderData(accounts);
        state.ResumeTiming();
        EventLoopGaps gaps(longestGapMs);
        refreshAndWait(window);
        window.levelsView()->viewport()->repaint();
    }
    state.counters["longest_gap_ms"] = longestGapMs;
}
BENCHMARK(BM_WindowEventLoopGapCold)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

// Memory over twenty Refreshes of the same folder, after the window has started as it does for
// a user: what the first Refresh leaves held, the last must not exceed by more than a little.
void BM_WindowTwentyRefreshes(benchmark::State &state) {
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    orvantis::frmMain window(folder, messages);
    loadAndWait(window);
    window.show();
    QCoreApplication::processEvents();
    double afterFirst = 0, afterLast = 0;
    for (auto _ : state) {
        for (int refresh = 1; refresh <= 20; ++refresh) {
            refreshAndWait(window);
            window.levelsView()->viewport()->repaint();
            QCoreApplication::processEvents();
            if (refresh == 1)
                afterFirst = orvantis::bench::residentMiB();
        }
        afterLast = orvantis::bench::residentMiB();
    }
    state.counters["rss_after_first_MiB"] = afterFirst;
    state.counters["rss_after_last_MiB"] = afterLast;
    state.counters["growth_pct"] =
        afterFirst > 0 ? 100.0 * (afterLast - afterFirst) / afterFirst : 0;
}
BENCHMARK(BM_WindowTwentyRefreshes)->Arg(100000)->Iterations(1)->Unit(benchmark::kMillisecond);

// Calls `painted` after each paint of a widget, once the paint is done.
class PaintWatch : public QObject {
public:
    PaintWatch(QWidget &widget, std::function<void()> painted)
        : widget_(widget), painted_(std::move(painted)) {
        widget_.installEventFilter(this);
    }
    ~PaintWatch() override { widget_.removeEventFilter(this); }
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == &widget_ && event->type() == QEvent::Paint) // told once it has painted
            QMetaObject::invokeMethod(this, painted_, Qt::QueuedConnection);
        return false;
    }

private:
    QWidget &widget_;
    std::function<void()> painted_;
};

// The window following changes: its processor time (every thread's) for twenty account files
// rewritten in place, one after another and each applied on its own, against that of one
// Refresh of the same folder; and the time from each file's close to its row shown. The files
// get their own bytes back afterwards, so that the folder stays as it was generated.
void BM_WindowLiveChanges(benchmark::State &state) {
    constexpr int kChanges = 20;
    const QString folder = orvantis::bench::cachedAccountsFolder(static_cast<int>(state.range(0)));
    orvantis::bench::SilentMessageBox messages;
    orvantis::frmMain window(folder, messages);
    window.setRefreshWhenFilesChange(true);
    loadAndWait(window);
    window.show();
    QCoreApplication::processEvents();
    const auto cpuSeconds = [] {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return now.tv_sec + now.tv_nsec / 1e9;
    };
    const auto idle = [](int ms) {
        QEventLoop loop;
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    // Twenty accounts spread over the ranking, and their files' bytes.
    std::vector<QString> files, logins;
    std::vector<QByteArray> originals;
    const int rows = window.lvLevels().rowCount();
    for (int k = 0; k < kChanges; ++k) {
        const int row = rows / 2 + k * (rows / (2 * kChanges + 1));
        files.push_back(window.accountFileOf(row));
        logins.push_back(window.lvLevels().cellText(row, 0));
        QFile file(files.back());
        file.open(QIODevice::ReadOnly);
        originals.push_back(file.readAll());
    }
    const auto rewrite = [](const QString &path, const QByteArray &bytes) {
        QFile file(path);
        file.open(QIODevice::WriteOnly | QIODevice::Truncate);
        file.write(bytes);
    };
    std::vector<double> latencies;
    double refreshCpu = 0, changesCpu = 0;
    for (auto _ : state) {
        double start = cpuSeconds();
        refreshAndWait(window);
        window.levelsView()->viewport()->repaint();
        refreshCpu = cpuSeconds() - start;
        idle(500);

        start = cpuSeconds();
        for (int k = 0; k < kChanges; ++k) {
            // Each a new leader, so that its row moves to the top.
            rewrite(files[k],
                    "[GENERAL]\nLogin=" + logins[k].toUtf8() +
                        "\n[CHAR1]\nName=Live\nLevel=" + QByteArray::number(2000000000 + k) + "\n");
            QElapsedTimer sinceClose;
            sinceClose.start();
            // Shown once the view has painted after the change came: waited for without
            // spinning, and without a paint of the bench's own.
            QEventLoop shown;
            bool applied = false;
            const auto connection =
                QObject::connect(&window, &orvantis::frmMain::changesApplied,
                                 [&] { applied = window.lvLevels().cellText(0, 0) == logins[k]; });
            PaintWatch painted(*window.levelsView()->viewport(), [&] {
                if (applied)
                    shown.quit();
            });
            QTimer::singleShot(10000, &shown, &QEventLoop::quit);
            shown.exec();
            QObject::disconnect(connection);
            latencies.push_back(sinceClose.nsecsElapsed() / 1e6);
            idle(300); // the next change comes on its own
        }
        changesCpu = cpuSeconds() - start; // the idle waits cost next to nothing
    }
    for (int k = 0; k < kChanges; ++k)
        rewrite(files[k], originals[k]);
    idle(500);
    std::sort(latencies.begin(), latencies.end());
    state.counters["refresh_cpu_s"] = refreshCpu;
    state.counters["changes_cpu_s"] = changesCpu;
    state.counters["changes_per_refresh"] = refreshCpu > 0 ? changesCpu / refreshCpu : 0;
    state.counters["latency_median_ms"] = latencies[latencies.size() / 2];
    state.counters["latency_max_ms"] = latencies.back();
}
BENCHMARK(BM_WindowLiveChanges)
    ->Arg(100000)
    ->Arg(1000000)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Typing into the find field over a million rows: the longest gap between the ticks of a 10 ms
// timer while each keystroke's matches are found and counted, which is how long the window could
// not answer. The records are made directly; no folder is read.
void BM_WindowFindTyping(benchmark::State &state) {
    const int rows = static_cast<int>(state.range(0));
    orvantis::bench::SilentMessageBox messages;
    orvantis::frmMain window(QStringLiteral("/nonexistent"), messages);
    static const char *const names[] = {
        "Brenna",    "Aelric", "Vossa Nightbloom", "Isolde", "Old Tom of the Marsh",
        "Seraphine", "Fennick"};
    auto records = std::make_shared<orvantis::AccountRecords>();
    records->reserve(static_cast<size_t>(rows), static_cast<size_t>(rows) * 24);
    for (int i = 0; i < rows; ++i)
        records->add(static_cast<uint32_t>(i), rows - i, 1,
                     QStringLiteral("player%1").arg(i, 7, 10, QLatin1Char('0')),
                     QString::fromLatin1(names[i % 7]));
    orvantis::ScanResult made;
    made.records = std::move(records);
    window.lvLevels().setRanking(std::make_shared<orvantis::LiveRanking>(std::move(made)));
    window.show();
    QCoreApplication::processEvents();
    orvantis::FindBar *bar = window.findBar();
    bar->open();
    double longestGapMs = 0;
    for (auto _ : state) {
        EventLoopGaps gaps(longestGapMs);
        // A name that many rows hold, typed a key at a time, then one that none holds.
        for (const char *typed : {"b", "br", "bre", "bren", "brenn", "brenna", "brennaz"}) {
            bar->field()->setText(QString::fromLatin1(typed));
            QCoreApplication::processEvents();
        }
        while (bar->searching())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    state.counters["longest_gap_ms"] = longestGapMs;
}
BENCHMARK(BM_WindowFindTyping)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(3);

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
