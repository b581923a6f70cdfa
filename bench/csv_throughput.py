#!/usr/bin/env python3
"""Measures `calquor csv` throughput (rows per second) and peak memory on
generated order files of two sizes: the same peak RSS for both shows that
memory does not grow with the file.

    python3 bench/csv_throughput.py [--calquor build/tools/calquor/calquor]
                                    [--rows 1000000] [--small-rows 10000]
                                    [--workdir /tmp/calquor-bench]

The inputs come from examples/generate_orders.py (deterministic) and are
kept in the work directory between runs. Needs Linux (os.wait4).
"""
import argparse
import os
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COLUMNS = ["Net", "Total", "Period", "ShipDays", "Label"]


def ensure_input(workdir, rows):
    path = os.path.join(workdir, f"orders-{rows}.csv")
    if not os.path.exists(path):
        subprocess.run([sys.executable, os.path.join(ROOT, "examples", "generate_orders.py"),
                        "--rows", str(rows), "-o", path], check=True)
    return path


def measure(calquor, path):
    """Runs one conversion to /dev/null; returns (wall seconds, CPU seconds,
    peak RSS in KiB). CPU time is the steadier figure on a busy machine."""
    command = [calquor, "csv", path, "--formulas", os.path.join(ROOT, "examples", "orders.formulas"),
               "-o", os.devnull]
    for column in COLUMNS:
        command += ["--column", column]
    start = time.perf_counter()
    process = subprocess.Popen(command)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"calquor exited with {process.returncode}")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss  # kilobytes on Linux


def main():
    parser = argparse.ArgumentParser(description="calquor csv throughput")
    parser.add_argument("--calquor", default=os.path.join(ROOT, "build", "tools", "calquor", "calquor"))
    parser.add_argument("--rows", type=int, default=1_000_000)
    parser.add_argument("--small-rows", type=int, default=10_000)
    parser.add_argument("--workdir", default="/tmp/calquor-bench")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)

    # A Markdown table, as the README quotes it.
    print(f"columns: {', '.join(COLUMNS)} (examples/orders.formulas), {os.cpu_count()} cores")
    print()
    print("| rows | input | seconds | rows per second | rows per CPU second | peak RSS |")
    print("|---:|---:|---:|---:|---:|---:|")
    for rows in (args.small_rows, args.rows):
        path = ensure_input(args.workdir, rows)
        seconds, cpu, rss_kib = measure(args.calquor, path)
        size_mib = os.path.getsize(path) / 2**20
        print(f"| {rows:,} | {size_mib:.1f} MiB | {seconds:.2f} | {rows / seconds:,.0f} | {rows / cpu:,.0f} | "
              f"{rss_kib / 1024:.1f} MiB |")


if __name__ == "__main__":
    main()
