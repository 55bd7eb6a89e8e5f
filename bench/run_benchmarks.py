#!/usr/bin/env python3
"""Runs every benchmark, each size in a process of its own (so that its peak memory is its own),
measures orvantis-rank's peak memory, checks the performance targets, and writes the figures:
bench/results/latest.json, the results table in docs/PERFORMANCE.md and docs/performance.png.

    bench/run_benchmarks.py [--build DIR] [--million | --redraw]

--million adds 1,000,000 account files (made once in the temporary folder; several minutes).
--redraw measures nothing and writes the targets, table and plot again from latest.json.
"""

import argparse
import json
import os
import platform
import re
import subprocess
import sys
import shutil
import tempfile
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

BENCHMARKS = [  # binary, benchmark, what it measures
    ("scan_bench", "BM_BaselineListAndReadEveryFile", "sequential baseline: list the folder, open, read and close every file, one at a time"),
    ("scan_bench", "BM_ParallelBaseline", "parallel baseline: the same with the scan's reads in flight, one thread each"),
    ("scan_bench", "BM_RingBaseline", "ring baseline: the same through io_uring, as the scan reads, at its fastest depth"),
    ("scan_bench", "BM_GetScoresWithSort", "scan with its closing sort (core list)"),
    ("scan_bench", "BM_BaselineListAndReadEveryFileCold", "sequential baseline, data-cold"),
    ("scan_bench", "BM_ParallelBaselineCold", "parallel baseline, data-cold"),
    ("scan_bench", "BM_RingBaselineCold", "ring baseline, data-cold"),
    ("scan_bench", "BM_GetScoresWithSortCold", "scan with its closing sort, data-cold"),
    ("window_bench", "BM_ConsoleRanking", "orvantis-rank's work: scan, sort, ranking text"),
    ("window_bench", "BM_WindowRefresh", "Refresh of the shown window, view painted"),
    ("window_bench", "BM_WindowViewFill", "the window's view filled and painted after a scan"),
    ("sort_bench", "BM_SortListColumnNumberMode", "number-mode column sort alone"),
    ("sort_bench", "BM_PlainStableSortOfDoubles", "plain stable sort of the same values as doubles"),
]


def warm_up(build, size):
    """Reads the folder once, so that every benchmark finds its files in the page cache."""
    folder = cached_folder(size)
    if os.path.exists(os.path.join(folder, "complete")):
        subprocess.run([os.path.join(build, "src", "app", "orvantis-rank"), folder],
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=False)


def run_one(build, binary, name, size, million, repetitions=None, folder=True):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ORVANTIS_BENCH_MILLION="1" if million else "0")
    if folder:
        warm_up(build, size)
    if repetitions is None:
        repetitions = 1 if size >= 1000000 else 3
    out = subprocess.run(
        [os.path.join(build, "bench", binary), f"--benchmark_filter=^{name}/{size}(/|$)",
         "--benchmark_format=json", f"--benchmark_repetitions={repetitions}", "--benchmark_min_warmup_time=0.5",
         "--benchmark_report_aggregates_only=true" if repetitions > 1 else "--benchmark_report_aggregates_only=false"],
        env=env, check=True, capture_output=True, text=True).stdout
    runs = json.loads(out)["benchmarks"]
    factor = lambda r: {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[r["time_unit"]]
    # One figure per argument set (the median where repeated); of several (a baseline at each of
    # its depths), the fastest.
    per_arguments = {}
    for r in runs:
        if r.get("aggregate_name") == "median" or r["run_name"] not in per_arguments:
            per_arguments[r["run_name"]] = r
    chosen = min(per_arguments.values(), key=lambda r: r["real_time"] * factor(r))
    result = {"time_ms": chosen["real_time"] * factor(chosen)}
    if len(per_arguments) > 1:
        result["best_of"] = {name.split("/")[-1]: r["real_time"] * factor(r) for name, r in per_arguments.items()}
    standard = {"name", "family_index", "per_family_instance_index", "run_name", "run_type", "repetitions",
                "repetition_index", "threads", "iterations", "real_time", "cpu_time", "time_unit",
                "aggregate_name", "aggregate_unit", "items_per_second"}
    for key, value in chosen.items():  # the benchmark's own counters
        if key not in standard:
            result[key] = value
    return result


def median(values):
    values = sorted(values)
    return values[len(values) // 2]


def evict(folder):
    """Drops the cached data of every account file, as after a reboot."""
    accounts = os.path.join(folder, "accounts")
    for name in os.listdir(accounts):
        try:
            fd = os.open(os.path.join(accounts, name), os.O_RDONLY)
        except OSError:
            continue
        os.posix_fadvise(fd, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(fd)


def process_seconds(command, cold_folder=None):
    """How long a whole process takes; with cold_folder, after dropping that folder's data."""
    if cold_folder:
        evict(cold_folder)
    start = time.monotonic()
    subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return time.monotonic() - start


DEPTHS = (64, 128, 256, 512)  # the reads in flight swept for the raw readers


def rank_against_raw_read(build, size):
    """orvantis-rank and raw reads of the same folder, as whole processes, warm and data-cold:
    medians in ms. "raw" reads one file after another. The blocking reader (one thread a read)
    and the ring are first swept over DEPTHS, each once, and each then runs at its fastest depth;
    "best" is the faster of the two in each round, and "ratio" the median of orvantis-rank's time
    over it, rounds alternating so that all meet the same machine."""
    folder = cached_folder(size)
    bench = os.path.join(build, "bench")
    rank = [os.path.join(build, "src", "app", "orvantis-rank"), folder]
    raw = [os.path.join(bench, "orvantis-rawread"), folder]
    blocking = lambda depth: [os.path.join(bench, "orvantis-rawread"), folder, str(depth)]
    ring = lambda depth: [os.path.join(bench, "orvantis-ringread"), folder, str(depth)]
    runs = 5 if size <= 100000 else 3
    result = {}
    for label, cold in (("warm", None), ("cold", folder)):
        warm_up(build, size)
        sweep = {way: {depth: process_seconds(reader(depth), cold) * 1000 for depth in DEPTHS}
                 for way, reader in (("blocking", blocking), ("ring", ring))}
        best_depth = {way: min(times, key=times.get) for way, times in sweep.items()}
        times = {"rank": [], "raw": [], "best": []}
        ratios = []
        for _ in range(runs):
            times["raw"].append(process_seconds(raw, cold))
            times["best"].append(min(process_seconds(blocking(best_depth["blocking"]), cold),
                                     process_seconds(ring(best_depth["ring"]), cold)))
            times["rank"].append(process_seconds(rank, cold))
            ratios.append(times["rank"][-1] / times["best"][-1])
        result[label] = {k: median(v) * 1000 for k, v in times.items()}
        result[label]["ratio"] = median(ratios)
        result[label]["sweep_ms"] = sweep
        result[label]["best_depth"] = best_depth
    return result


def window_start_seconds(build, size):
    """Seconds from starting the window on a data-cold folder until it is on the screen, under
    Xvfb; None where Xvfb or xdotool is missing."""
    if not (shutil.which("xvfb-run") and shutil.which("xdotool")):
        return None
    folder = cached_folder(size)
    program = os.path.join(folder, "orvantis")
    shutil.copy(os.path.join(build, "src", "app", "orvantis"), program)
    evict(folder)
    env = {k: v for k, v in os.environ.items() if k != "QT_QPA_PLATFORM"}
    out = subprocess.run(["xvfb-run", "-a", "-s", "-screen 0 1024x768x24", sys.executable,
                          os.path.join(ROOT, "bench", "window_start.py"), program],
                         env=env, capture_output=True, text=True, check=True).stdout
    return float(out.strip())


def reads_in_flight(build, million):
    """The scan with other numbers of reads in flight, warm and cold, through the ring and with
    blocking reads, at 100,000 files and, with million, at 1,000,000."""
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ORVANTIS_BENCH_MILLION="1" if million else "0")
    for size in (100000, 1000000) if million else (100000,):
        warm_up(build, size)
    out = subprocess.run(
        [os.path.join(build, "bench", "scan_bench"), "--benchmark_filter=^BM_ReadsInFlight",
         "--benchmark_format=json"], env=env, check=True, capture_output=True, text=True).stdout
    table = {}
    for r in json.loads(out)["benchmarks"]:
        name, size, threads = r["run_name"].split("/")[:3]
        way = "blocking" if "Blocking" in name else "ring"
        key = threads if size == "100000" else f"{threads} at {int(size):,}"
        table.setdefault(way, {}).setdefault(key, {})["cold" if name.endswith("Cold") else "warm"] = r["real_time"]
    return table


def rank_peak_memory(build, folder):
    """orvantis-rank's peak resident memory on a folder, in MiB."""
    program = os.path.join(build, "src", "app", "orvantis-rank")
    with open(os.devnull, "wb") as devnull:
        process = subprocess.Popen([program, folder], stdout=devnull, stderr=devnull)
        _, status, usage = os.wait4(process.pid, 0)
    if status != 0:
        raise RuntimeError(f"orvantis-rank failed on {folder}")
    return usage.ru_maxrss / 1024.0


def cached_folder(size):
    return os.path.join(tempfile.gettempdir(), f"orvantis-bench-{size}")


def check(targets, name, value, limit, below=True, information=False):
    """A target met or missed; an informational one (the targets of earlier rounds, kept in the
    table) never fails the run."""
    ok = value <= limit if below else value >= limit
    targets.append({"target": name, "value": round(value, 3), "limit": limit, "met": ok,
                    "information": information})


def evaluate(report):
    results, sizes = report["results"], report["sizes"]
    t = lambda name, n: results[name][str(n)]["time_ms"]
    targets = []
    # orvantis-rank as a whole process against the best raw read of the same files.
    # (Figures saved before these were measured lack them.)
    whole = {n: r for n, r in report["rank_vs_raw_read"].items() if "ratio" in r["warm"]}
    for n in (100000, 1000000):
        if str(n) in whole:
            check(targets, f"orvantis-rank / best raw read, whole processes, warm, at {n:,}",
                  whole[str(n)]["warm"]["ratio"], 1.25)
    if "1000000" in whole:
        check(targets, "orvantis-rank / best raw read at its best depth, whole processes, data-cold, at 1,000,000",
              whole["1000000"]["cold"]["ratio"], 1.10)
        check(targets, "orvantis-rank / best raw read at its best depth, whole processes, warm, at 1,000,000",
              whole["1000000"]["warm"]["ratio"], 1.10)
        check(targets, "orvantis-rank's time per file, warm, at 1,000,000 / at 100,000",
              (whole["1000000"]["warm"]["rank"] / 1e6) / (whole["100000"]["warm"]["rank"] / 1e5), 1.15)
    # The targets of earlier rounds, as information. At 1,000,000 files the ratios of 100,000
    # were to hold within 10 %.
    slack = {100000: 1.0, 1000000: 1.1}
    for n in (100000, 1000000):
        if n not in sizes:
            continue
        k = slack[n]
        check(targets, f"data-cold scan + sort / sequential baseline at {n:,}",
              t("BM_GetScoresWithSortCold", n) / t("BM_BaselineListAndReadEveryFileCold", n), round(0.3 * k, 3),
              information=True)
        check(targets, f"data-cold scan + sort / parallel baseline at {n:,}",
              t("BM_GetScoresWithSortCold", n) / t("BM_ParallelBaselineCold", n), round(1.3 * k, 3),
              information=True)
        check(targets, f"warm scan + sort / sequential baseline at {n:,}",
              t("BM_GetScoresWithSort", n) / t("BM_BaselineListAndReadEveryFile", n), round(0.75 * k, 3),
              information=True)
        process = report["rank_vs_raw_read"][str(n)]["warm"]
        check(targets, f"orvantis-rank / sequential raw read, whole processes, warm, at {n:,}",
              process["rank"] / process["raw"], round(0.8 * k, 3), information=True)
    # The ratios are targets at the scale the tool is for; at 1,000 and 10,000 rows fixed costs
    # (painting the view, setting up the sort, starting threads) dominate and the table shows
    # them for reference.
    at_scale = [n for n in sizes if n >= 100000]
    for n in at_scale:
        check(targets, f"window view fill / scan at {n:,}", t("BM_WindowViewFill", n) / t("BM_GetScoresWithSort", n), 0.25)
    for n in at_scale:
        check(targets, f"number-mode sort / plain sort at {n:,}", t("BM_SortListColumnNumberMode", n) / t("BM_PlainStableSortOfDoubles", n), 6.0,
              information=True)
    top = max(sizes)
    if top > 10000:
        per_file = lambda n: t("BM_GetScoresWithSort", n) / n
        check(targets, f"per-file scan time at {top:,} / at 10,000", per_file(top) / per_file(10000), 1.3,
              information=True)
    rank_memory = report["rank_peak_MiB"]
    if "100000" in rank_memory:
        check(targets, "orvantis-rank peak memory at 100,000 (MiB)", rank_memory["100000"], 100)
    if "1000000" in rank_memory:
        check(targets, "orvantis-rank peak memory at 1,000,000 (MiB)", rank_memory["1000000"], 250)
    window = results["BM_WindowRefresh"].get("1000000", {})
    if "peak_rss_MiB" in window:
        check(targets, "the window's peak memory over a Refresh of 1,000,000 (MiB)", window["peak_rss_MiB"], 400)
    growth = results["BM_WindowTwentyRefreshes"]["100000"]["growth_pct"]
    check(targets, "memory growth over 20 Refreshes at 100,000 (%)", growth, 5)
    gap = results["BM_WindowEventLoopGapCold"]["100000"]["longest_gap_ms"]
    check(targets, "longest event-loop gap during a data-cold 100,000 scan (ms)", gap, 100)
    if report.get("window_start_s") is not None:
        check(targets, "window on screen after start, data-cold 100,000 (s)", report["window_start_s"], 1.5)
    if "BM_WindowFindTyping" in results:
        find_gap = results["BM_WindowFindTyping"]["1000000"]["longest_gap_ms"]
        check(targets, "longest event-loop gap typing into the find field, 1,000,000 rows (ms)", find_gap, 100)
    for n, live in sorted(results.get("BM_WindowLiveChanges", {}).items(), key=lambda kv: int(kv[0])):
        check(targets, f"the window's processor time for 20 changes / one Refresh, at {int(n):,}",
              live["changes_per_refresh"], 0.25)
        check(targets, f"longest time from a file's close to its row shown, of 20 changes, at {int(n):,} (ms)",
              live["latency_max_ms"], 1000)
    return targets


def markdown(report):
    sizes = report["sizes"]
    t = lambda name, n: report["results"][name][str(n)]["time_ms"]
    lines = ["| step | " + " | ".join(f"{n:,} files" for n in sizes) + " |",
             "|---|" + "---:|" * len(sizes)]
    for binary, name, what in BENCHMARKS:
        cells = []
        for n in sizes:
            r = report["results"][name][str(n)]
            cell = f"{r['time_ms']:.1f} ms"
            if "peak_rss_MiB" in r:
                cell += f"<br>{r['peak_rss_MiB']:.0f} MiB, {r['bytes_per_row']:.0f} B/row"
            cells.append(cell)
        lines.append(f"| {what} | " + " | ".join(cells) + " |")
    lines.append("")
    lines.append("Whole processes, medians (ms): " + "; ".join(
        f"{int(n):,} files {label}: orvantis-rank {r[label]['rank']:.0f}, best raw read {r[label].get('best', float('nan')):.0f}, "
        f"raw sequential read {r[label]['raw']:.0f}"
        for n, r in report["rank_vs_raw_read"].items() for label in ("warm", "cold")) + ".")
    lines.append("")
    for way, table in sorted(report["reads_in_flight"].items(), reverse=True):
        lines.append("")
        lines.append(f"Reads in flight, scan with sort, {way} (ms; at 100,000 files unless said): " + "; ".join(
            f"{threads}: {v['warm']:.0f} warm, {v['cold']:.0f} cold"
            for threads, v in sorted(table.items(), key=lambda kv: (len(kv[0]), int(kv[0].split()[0])))) + ".")
    lines.append("")
    lines.append("The scan against reading its files its own way without parsing them (the ring baseline), "
                 "data-cold: " + "; ".join(
                     f"{n:,} files {t('BM_GetScoresWithSortCold', n) / t('BM_RingBaselineCold', n):.2f} times"
                     for n in sizes if n >= 100000) + ".")
    gap = report["results"]["BM_WindowEventLoopGapCold"]["100000"]
    start = report.get("window_start_s")
    lines.append("")
    lines.append(f"The window during a data-cold Refresh of 100,000 accounts: the longest gap between ticks of a 10 ms timer "
                 f"{gap['longest_gap_ms']:.1f} ms (the scan took {gap['time_ms']:.0f} ms)"
                 + (f"; on screen {start:.2f} s after start on a data-cold 100,000-account folder." if start is not None else "."))
    if "BM_WindowFindTyping" in report["results"]:
        find = report["results"]["BM_WindowFindTyping"]["1000000"]
        lines.append("")
        lines.append(f"Typing into the find field over 1,000,000 rows: the longest gap between ticks of a 10 ms timer "
                     f"{find['longest_gap_ms']:.1f} ms (the keystrokes and the counting of their matches took "
                     f"{find['time_ms']:.0f} ms).")
    for n, live in sorted(report["results"].get("BM_WindowLiveChanges", {}).items(), key=lambda kv: int(kv[0])):
        lines.append("")
        lines.append(f"The window following {int(n):,} accounts: twenty files rewritten in place, each applied on its own, "
                     f"cost {live['changes_cpu_s'] * 1000:.0f} ms of processor time against {live['refresh_cpu_s'] * 1000:.0f} ms "
                     f"for one Refresh ({live['changes_per_refresh']:.2f} times); from a file's close to its row shown "
                     f"{live['latency_median_ms']:.0f} ms at the median, {live['latency_max_ms']:.0f} ms at most.")
    lines.append("")
    rank = report["rank_peak_MiB"]
    lines.append("orvantis-rank peak memory: " + ", ".join(f"{float(v):.0f} MiB at {int(k):,}" for k, v in rank.items()) + ".")
    r = report["results"]["BM_WindowTwentyRefreshes"]["100000"]
    lines.append(f"Twenty Refreshes at 100,000: {r['rss_after_first_MiB']:.1f} MiB after the first, "
                 f"{r['rss_after_last_MiB']:.1f} MiB after the last ({r['growth_pct']:+.1f} %).")
    lines += ["", "| target | value | limit | met |", "|---|---:|---:|---|"]
    for target in report["targets"]:
        met = "yes" if target["met"] else ("no (information)" if target.get("information") else "**no**")
        lines.append(f"| {target['target']} | {target['value']} | {target['limit']} | {met} |")
    return "\n".join(lines)


def plot(report, path):
    data = tempfile.NamedTemporaryFile("w", suffix=".dat", delete=False)
    for n in report["sizes"]:
        data.write(f"{n} " + " ".join(f"{report['results'][name][str(n)]['time_ms']:.4f}" for _, name, _ in BENCHMARKS) + "\n")
    data.close()
    titles = [what.split(":")[0] if ": " in what else what for _, name, what in BENCHMARKS]
    quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    plots = ", ".join(
        f"{quoted(data.name)} using 1:{i + 2} with linespoints lw {3 if i == 0 else 1.5} dt {2 if i == 0 else 1 + i // 8} lc {i + 1} title {quoted(titles[i])}"
        for i in range(len(BENCHMARKS)))
    script = f"""
set terminal pngcairo size 1280,640 font 'DejaVu Sans,10'
set output '{path}'
set logscale xy
set grid
set key outside right center
set xlabel 'account files'
set ylabel 'time (ms)'
set title 'Orvantis: time per step against the number of account files'
plot {plots}
"""
    subprocess.run(["gnuplot"], input=script, text=True, check=True)
    os.unlink(data.name)


def update_docs(report):
    path = os.path.join(ROOT, "docs", "PERFORMANCE.md")
    with open(path) as f:
        text = f.read()
    machine = (f"{platform.machine()}, {os.cpu_count()} cores, Linux {platform.release()}; "
               f"run on {report['date']}")
    block = f"<!-- results -->\n{machine}\n\n{markdown(report)}\n<!-- /results -->"
    text = re.sub(r"<!-- results -->.*?<!-- /results -->", lambda _: block, text, flags=re.S)
    with open(path, "w") as f:
        f.write(text)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--million", action="store_true")
    parser.add_argument("--redraw", action="store_true",
                        help="measure nothing: check the targets, the table and the plot again from bench/results/latest.json")
    args = parser.parse_args()
    if args.redraw:
        with open(os.path.join(ROOT, "bench", "results", "latest.json")) as f:
            report = json.load(f)
        return publish(report)
    sizes = [1000, 10000, 100000] + ([1000000] if args.million else [])

    results = {}
    for binary, name, _ in BENCHMARKS:
        results[name] = {}
        for n in sizes:
            print(f"{name}/{n} ...", file=sys.stderr, flush=True)
            results[name][str(n)] = run_one(args.build, binary, name, n, args.million)
    # One run: its counters compare the first and the last of the same twenty Refreshes.
    results["BM_WindowTwentyRefreshes"] = {
        "100000": run_one(args.build, "window_bench", "BM_WindowTwentyRefreshes", 100000, False, repetitions=1)}
    results["BM_WindowEventLoopGapCold"] = {
        "100000": run_one(args.build, "window_bench", "BM_WindowEventLoopGapCold", 100000, False, repetitions=1)}
    # Twenty files rewritten in place while the window follows its folder, against one Refresh.
    results["BM_WindowLiveChanges"] = {
        str(n): run_one(args.build, "window_bench", "BM_WindowLiveChanges", n, args.million, repetitions=1)
        for n in sizes if n >= 100000}
    # Rows made in the window's list directly: no folder of a million files is needed.
    results["BM_WindowFindTyping"] = {
        "1000000": run_one(args.build, "window_bench", "BM_WindowFindTyping", 1000000, False, repetitions=1,
                           folder=False)}
    rank_memory = {}
    for n in sizes:
        if n >= 100000:
            warm_up(args.build, n)
            rank_memory[n] = rank_peak_memory(args.build, cached_folder(n))

    print("orvantis-rank against a raw read, reads in flight, window start ...", file=sys.stderr, flush=True)
    report = {
        "date": subprocess.run(["date", "-u", "+%Y-%m-%d %H:%M UTC"], capture_output=True, text=True).stdout.strip(),
        "sizes": sizes, "results": results, "rank_peak_MiB": {str(k): v for k, v in rank_memory.items()},
        "rank_vs_raw_read": {str(n): rank_against_raw_read(args.build, n) for n in sizes if n >= 100000},
        "reads_in_flight": reads_in_flight(args.build, args.million),
        "window_start_s": window_start_seconds(args.build, 100000),
    }
    return publish(report)


def publish(report):
    report["targets"] = evaluate(report)
    os.makedirs(os.path.join(ROOT, "bench", "results"), exist_ok=True)
    with open(os.path.join(ROOT, "bench", "results", "latest.json"), "w") as f:
        json.dump(report, f, indent=1)
    print(markdown(report))
    update_docs(report)
    plot(report, os.path.join(ROOT, "docs", "performance.png"))
    return 0 if all(t["met"] or t.get("information") for t in report["targets"]) else 1


if __name__ == "__main__":
    sys.exit(main())
