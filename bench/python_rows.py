#!/usr/bin/env python3
"""Per-row cost of calquor.calculate_rows over a pandas DataFrame, against
DataFrame.apply with the same five expressions written in Python, and against
the `calquor csv` tool on the same rows.

    PYTHONPATH=build/python /usr/bin/python3 bench/python_rows.py
        [--calquor build/tools/calquor/calquor] [--rows 100000] [--apply-rows 20000]
        [--workdir /tmp/calquor-bench]

The columns are those of bench/csv_throughput.py (Net, Total, Period,
ShipDays, Label of examples/orders.formulas); the input comes from
examples/generate_orders.py. Figures are CPU microseconds per row (the
steadier figure on a shared machine), the best of three runs. calculate_rows
is timed with the conversion of the DataFrame's cells and of the results;
the csv tool with reading, typing and writing the file. Before timing, the
Python expressions are checked to give the engine's values.
"""
import argparse
import math
import os
import subprocess
import sys
import time

import pandas as pd

import calquor
from csv_throughput import ensure_input  # the generated orders file, made once per size

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
COLUMNS = ["Net", "Total", "Period", "ShipDays", "Label"]


def named_formulas():
    formulas = {}
    with open(os.path.join(ROOT, "examples", "orders.formulas"), encoding="utf-8") as lines:
        for line in lines:
            if line.strip() and not line.lstrip().startswith("#"):
                name, text = line.split("=", 1)
                formulas[name.strip()] = text.strip()
    return formulas


def round_half_up(x, digits):
    scale = 10.0**digits
    return math.floor(x * scale + 0.5) / scale


def in_python(row):
    """The five columns as a Python programmer writes them for apply."""
    net = round_half_up(row["Quantity"] * row["UnitPrice"] * (1 - row["Discount"]), 2)
    total = net + round_half_up(net * 0.2, 2)
    date = row["OrderDate"]
    period = f"{date.year}-Q{(date.month + 2) // 3}"
    ship_days = (row["ShipDate"] - date).days
    label = row["Region"][:3].upper() + "-" + str(row["OrderID"])
    return net, total, period, ship_days, label


def cpu(function, repeat=3):
    best = math.inf
    for _ in range(repeat):
        start = time.process_time()
        function()
        best = min(best, time.process_time() - start)
    return best


def tool_cpu(calquor_tool, path, repeat=3):
    command = [calquor_tool, "csv", path, "--formulas", os.path.join(ROOT, "examples", "orders.formulas"),
               "-o", os.devnull]
    for column in COLUMNS:
        command += ["--column", column]
    best = math.inf
    for _ in range(repeat):
        process = subprocess.Popen(command)
        _, status, usage = os.wait4(process.pid, 0)
        if os.waitstatus_to_exitcode(status) != 0:
            sys.exit("calquor csv failed")
        best = min(best, usage.ru_utime + usage.ru_stime)
    return best


def main():
    parser = argparse.ArgumentParser(description="calquor.calculate_rows per-row cost")
    parser.add_argument("--calquor", default=os.path.join(ROOT, "build", "tools", "calquor", "calquor"))
    parser.add_argument("--rows", type=int, default=100_000)
    parser.add_argument("--apply-rows", type=int, default=20_000)
    parser.add_argument("--workdir", default="/tmp/calquor-bench")
    args = parser.parse_args()
    os.makedirs(args.workdir, exist_ok=True)
    path = ensure_input(args.workdir, args.rows)

    frame = pd.read_csv(path, parse_dates=["Order Date", "Ship Date"])
    frame.columns = [calquor.operand_name(name) for name in frame.columns]  # for the Python expressions
    formulas = named_formulas()
    small = frame.head(args.apply_rows)

    engine = calquor.calculate_rows(formulas, small.head(1000), COLUMNS)
    python = small.head(1000).apply(in_python, axis=1, result_type="expand")
    for i, name in enumerate(COLUMNS):
        for ours, theirs in zip(engine[name], python[i]):
            same = math.isclose(ours, theirs, rel_tol=1e-12) if isinstance(theirs, float) else ours == theirs
            if not same:
                sys.exit(f"{name}: the engine gives {ours!r}, Python {theirs!r}")

    rows_us = cpu(lambda: calquor.calculate_rows(formulas, frame, COLUMNS)) / len(frame) * 1e6
    apply_us = cpu(lambda: small.apply(in_python, axis=1, result_type="expand")) / len(small) * 1e6
    tool_us = tool_cpu(args.calquor, path) / len(frame) * 1e6

    print(f"columns: {', '.join(COLUMNS)} (examples/orders.formulas); CPU microseconds per row, best of 3")
    print(f"{'method':<40} {'rows':>8} {'us/row':>8} {'vs calculate_rows':>18}")
    print(f"{'calquor.calculate_rows(DataFrame)':<40} {len(frame):>8} {rows_us:>8.2f} {1.0:>17.2f}x")
    print(f"{'DataFrame.apply, the same in Python':<40} {len(small):>8} {apply_us:>8.2f} {apply_us / rows_us:>17.2f}x")
    print(f"{'calquor csv (read, calculate, write)':<40} {len(frame):>8} {tool_us:>8.2f} {tool_us / rows_us:>17.2f}x")


if __name__ == "__main__":
    main()
