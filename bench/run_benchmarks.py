#!/usr/bin/env python3
"""Runs every benchmark, each size in a process of its own (so that its peak memory is its own),
measures orvantis-rank's peak memory, checks the performance targets, and writes the figures:
bench/results/latest.json, the results table in docs/PERFORMANCE.md and docs/performance.png.

    bench/run_benchmarks.py [--build DIR] [--million]

--million adds 1,000,000 account files (made once in the temporary folder; several minutes).
"""

import argparse
import json
import os
import platform
import re
import subprocess
import sys
import tempfile

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))

BENCHMARKS = [  # binary, benchmark, what it measures
    ("scan_bench", "BM_BaselineListAndReadEveryFile", "baseline: list the folder, open, read and close every file"),
    ("scan_bench", "BM_GetScoresWithSort", "scan with its closing sort (core list)"),
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


def run_one(build, binary, name, size, million, repetitions=None):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen", ORVANTIS_BENCH_MILLION="1" if million else "0")
    warm_up(build, size)
    if repetitions is None:
        repetitions = 1 if size >= 1000000 else 3
    out = subprocess.run(
        [os.path.join(build, "bench", binary), f"--benchmark_filter=^{name}/{size}(/|$)",
         "--benchmark_format=json", f"--benchmark_repetitions={repetitions}", "--benchmark_min_warmup_time=0.5",
         "--benchmark_report_aggregates_only=true" if repetitions > 1 else "--benchmark_report_aggregates_only=false"],
        env=env, check=True, capture_output=True, text=True).stdout
    runs = json.loads(out)["benchmarks"]
    chosen = next((r for r in runs if r.get("aggregate_name") == "median"), runs[0])
    factor = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}[chosen["time_unit"]]
    result = {"time_ms": chosen["real_time"] * factor}
    for key in ("peak_rss_MiB", "bytes_per_row", "growth_pct", "rss_after_first_MiB", "rss_after_last_MiB"):
        if key in chosen:
            result[key] = chosen[key]
    return result


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


def check(targets, name, value, limit, below=True):
    ok = value <= limit if below else value >= limit
    targets.append({"target": name, "value": round(value, 3), "limit": limit, "met": ok})


def evaluate(results, rank_memory, sizes):
    t = lambda name, n: results[name][str(n)]["time_ms"]
    targets = []
    for n in (100000, 1000000):
        if n in sizes:
            check(targets, f"scan + sort / baseline at {n:,}", t("BM_GetScoresWithSort", n) / t("BM_BaselineListAndReadEveryFile", n), 1.5)
    # The ratios are targets at the scale the tool is for; at 1,000 and 10,000 rows fixed costs
    # (painting the view, setting up the sort) dominate and the table shows them for reference.
    at_scale = [n for n in sizes if n >= 100000]
    for n in at_scale:
        check(targets, f"window view fill / scan at {n:,}", t("BM_WindowViewFill", n) / t("BM_GetScoresWithSort", n), 0.25)
    for n in at_scale:
        check(targets, f"number-mode sort / plain sort at {n:,}", t("BM_SortListColumnNumberMode", n) / t("BM_PlainStableSortOfDoubles", n), 6.0)
    top = max(sizes)
    if top > 10000:
        per_file = lambda n: t("BM_GetScoresWithSort", n) / n
        check(targets, f"per-file scan time at {top:,} / at 10,000", per_file(top) / per_file(10000), 1.3)
    if "100000" in {str(k) for k in rank_memory}:
        check(targets, "orvantis-rank peak memory at 100,000 (MiB)", rank_memory[100000], 100)
    if 1000000 in rank_memory:
        check(targets, "orvantis-rank peak memory at 1,000,000 (MiB)", rank_memory[1000000], 600)
    growth = results["BM_WindowTwentyRefreshes"]["100000"]["growth_pct"]
    check(targets, "memory growth over 20 Refreshes at 100,000 (%)", growth, 5)
    return targets


def markdown(report):
    sizes = report["sizes"]
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
    rank = report["rank_peak_MiB"]
    lines.append("orvantis-rank peak memory: " + ", ".join(f"{float(v):.0f} MiB at {int(k):,}" for k, v in rank.items()) + ".")
    r = report["results"]["BM_WindowTwentyRefreshes"]["100000"]
    lines.append(f"Twenty Refreshes at 100,000: {r['rss_after_first_MiB']:.1f} MiB after the first, "
                 f"{r['rss_after_last_MiB']:.1f} MiB after the last ({r['growth_pct']:+.1f} %).")
    lines += ["", "| target | value | limit | met |", "|---|---:|---:|---|"]
    for target in report["targets"]:
        lines.append(f"| {target['target']} | {target['value']} | {target['limit']} | {'yes' if target['met'] else '**no**'} |")
    return "\n".join(lines)


def plot(report, path):
    data = tempfile.NamedTemporaryFile("w", suffix=".dat", delete=False)
    for n in report["sizes"]:
        data.write(f"{n} " + " ".join(f"{report['results'][name][str(n)]['time_ms']:.4f}" for _, name, _ in BENCHMARKS) + "\n")
    data.close()
    titles = [what.split(":")[0] if name.startswith("BM_Baseline") else what for _, name, what in BENCHMARKS]
    quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
    plots = ", ".join(
        f"{quoted(data.name)} using 1:{i + 2} with linespoints lw {3 if i == 0 else 1.5} dt {2 if i == 0 else 1} title {quoted(titles[i])}"
        for i in range(len(BENCHMARKS)))
    script = f"""
set terminal pngcairo size 960,600 font 'DejaVu Sans,10'
set output '{path}'
set logscale xy
set grid
set key top left
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
    args = parser.parse_args()
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
    rank_memory = {}
    for n in sizes:
        if n >= 100000:
            warm_up(args.build, n)
            rank_memory[n] = rank_peak_memory(args.build, cached_folder(n))

    report = {
        "date": subprocess.run(["date", "-u", "+%Y-%m-%d %H:%M UTC"], capture_output=True, text=True).stdout.strip(),
        "sizes": sizes, "results": results, "rank_peak_MiB": {str(k): v for k, v in rank_memory.items()},
    }
    report["targets"] = evaluate(results, rank_memory, sizes)
    os.makedirs(os.path.join(ROOT, "bench", "results"), exist_ok=True)
    with open(os.path.join(ROOT, "bench", "results", "latest.json"), "w") as f:
        json.dump(report, f, indent=1)
    print(markdown(report))
    update_docs(report)
    plot(report, os.path.join(ROOT, "docs", "performance.png"))
    return 0 if all(t["met"] for t in report["targets"]) else 1


if __name__ == "__main__":
    sys.exit(main())
