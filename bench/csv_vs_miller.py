#!/usr/bin/env python3
"""Compares `calquor csv` with Miller 6 (`mlr --icsv --ocsv put`, Debian
package miller) on the same job, side by side in one run: a generated order
file of 300,000 lines gets three columns, a rounded money product, a text
label and a comparison. Both outputs must be the same bytes. Then a
1,000,000-line file shows calquor's peak memory.

    python3 bench/csv_vs_miller.py [--calquor build/tools/calquor/calquor]
                                   [--rows 300000] [--memory-rows 1000000]
                                   [--repeat 5] [--workdir /tmp/calquor-bench]

Each tool runs --repeat times, alternating; the table shows the best wall
time (the machine may be shared) and the CPU time of that run. Prints a
Markdown table. Needs Linux (os.wait4).
"""
import argparse
import filecmp
import os
import shutil
import subprocess
import sys
import time

from csv_throughput import ensure_input  # the generated orders file, made once per size

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))

CALQUOR_COLUMNS = [
    "Amount=Round({Quantity} * {UnitPrice}, 2)",
    "Label=UpperCase(SubStr({Region}, 1, 3)) + '-' + {OrderID}",
    "Big={Quantity} * {UnitPrice} > 1000",
]
MILLER_PUT = ("$Amount = round($Quantity * ${Unit Price} * 100) / 100; "
              "$Label = toupper(substr0($Region, 0, 2)) . \"-\" . ${Order ID}; "
              "$Big = $Quantity * ${Unit Price} > 1000")


def run(command, output):
    """Runs command with stdout to output; returns (wall s, CPU s, peak RSS KiB)."""
    with open(output, "wb") as out:
        start = time.perf_counter()
        process = subprocess.Popen(command, stdout=out)
        _, status, usage = os.wait4(process.pid, 0)
        seconds = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"{command[0]} exited with {code}")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser(description="calquor csv against Miller")
    parser.add_argument("--calquor", default=os.path.join(ROOT, "build", "tools", "calquor", "calquor"))
    parser.add_argument("--rows", type=int, default=300_000)
    parser.add_argument("--memory-rows", type=int, default=1_000_000)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--workdir", default="/tmp/calquor-bench")
    args = parser.parse_args()
    mlr = shutil.which("mlr")
    if mlr is None:
        sys.exit("mlr not found: apt-get install -y miller")
    os.makedirs(args.workdir, exist_ok=True)

    path = ensure_input(args.workdir, args.rows)
    calquor = [args.calquor, "csv", path]
    for column in CALQUOR_COLUMNS:
        calquor += ["--column", column]
    miller = [mlr, "--icsv", "--ocsv", "put", MILLER_PUT, path]
    version = subprocess.run([mlr, "--version"], capture_output=True, text=True).stdout.strip()
    tools = [("calquor csv", calquor, os.path.join(args.workdir, "calquor.csv")),
             (version, miller, os.path.join(args.workdir, "miller.csv"))]
    best = {}
    for _ in range(args.repeat):
        for name, command, output in tools:
            result = run(command, output)
            if name not in best or result[0] < best[name][0]:
                best[name] = result
    same = filecmp.cmp(tools[0][2], tools[1][2], shallow=False)

    print(f"{args.rows:,} lines ({os.path.getsize(path) / 2**20:.1f} MiB), three added columns, "
          f"best of {args.repeat}, {os.cpu_count()} cores; same output bytes: {'yes' if same else 'NO'}")
    print()
    print("| tool | wall s | rows per second | CPU s | peak RSS | wall time against calquor |")
    print("|---|---:|---:|---:|---:|---:|")
    base = best[tools[0][0]][0]
    for name, _, _ in tools:
        seconds, cpu, rss = best[name]
        print(f"| {name} | {seconds:.2f} | {args.rows / seconds:,.0f} | {cpu:.2f} | {rss / 1024:.1f} MiB | "
              f"{seconds / base:.1f}x |")

    big = ensure_input(args.workdir, args.memory_rows)
    command = [args.calquor, "csv", big]
    for column in CALQUOR_COLUMNS:
        command += ["--column", column]
    seconds, cpu, rss = run(command, os.devnull)
    print()
    print(f"calquor on {args.memory_rows:,} lines ({os.path.getsize(big) / 2**20:.1f} MiB): "
          f"{seconds:.2f} s, peak RSS {rss / 1024:.1f} MiB")
    if not same:
        sys.exit("the outputs differ")


if __name__ == "__main__":
    main()
