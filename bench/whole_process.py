#!/usr/bin/env python3
"""Runs orvantis-rank as a whole process against the best raw read of the same files on the same
host, one after the other in rounds, warm and data-cold, and prints the ratios and peak memory:
the raw reads are orvantis-rawread with 2 blocking threads and orvantis-ringread with 64 reads
in flight, whichever is faster in each round.

    bench/whole_process.py [--build DIR] [--rounds N] [--cold] FOLDER...

Each FOLDER holds an accounts folder (bench/generator/orvantis-generate makes them)."""

import argparse
import os
import statistics
import subprocess
import sys
import time

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def run(command):
    """Wall time in seconds and peak memory in MiB of one run."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as null:
        child = subprocess.Popen(command, stdout=null, stderr=null)
        _, status, usage = os.wait4(child.pid, 0)
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{command[0]} failed with {status}")
    return time.perf_counter() - start, usage.ru_maxrss / 1024


def measure(build, folder, rounds, cold):
    rank = [os.path.join(build, "src", "app", "orvantis-rank"), folder]
    raw = [os.path.join(build, "bench", "orvantis-rawread"), folder, "2"]
    ring = [os.path.join(build, "bench", "orvantis-ringread"), folder, "64"]
    evict = [os.path.join(build, "bench", "orvantis-rawread"), "--evict", folder]
    run(rank)  # warms the cache, and the program's own files
    ratios, ranks, bests, memory = [], [], [], []
    for _ in range(rounds):
        times = {}
        for name, command in (("raw", raw), ("ring", ring), ("rank", rank)):
            if cold:
                run(evict)
            times[name], mib = run(command)
            if name == "rank":
                memory.append(mib)
        best = min(times["raw"], times["ring"])
        ratios.append(times["rank"] / best)
        ranks.append(times["rank"])
        bests.append(best)
    return statistics.median(ranks), statistics.median(bests), statistics.median(ratios), max(memory)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--cold", action="store_true")
    parser.add_argument("folders", nargs="+")
    args = parser.parse_args()
    print("| folder | files | orvantis-rank | best raw read | ratio (median of rounds) | per file | peak MiB |")
    print("|---|---:|---:|---:|---:|---:|---:|")
    for folder in args.folders:
        files = len(os.listdir(os.path.join(folder, "accounts")))
        rank, best, ratio, mib = measure(args.build, folder, args.rounds, args.cold)
        print(f"| {folder}{' (data-cold)' if args.cold else ''} | {files:,} | {rank:.2f} s | "
              f"{best:.2f} s | {ratio:.2f} | {rank / files * 1e6:.2f} µs | {mib:.0f} |")


if __name__ == "__main__":
    main()
