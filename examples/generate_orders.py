#!/usr/bin/env python3
"""Writes the example order lines as CSV: examples/orders.csv is this
script's output with the default arguments (300 rows, seed 2004). A larger
count makes a benchmark input; the same seed always gives the same file.

    python3 examples/generate_orders.py [--rows N] [--seed S] [-o FILE]
"""
import argparse
import csv
import datetime
import sys

REGIONS = ["North", "South", "East", "West", "Central"]
CUSTOMERS = [
    "Acme Corp", "Globex", "Initech", "Umbrella Ltd", "Hooli",
    "Smith, Jones & Partners", 'The "Blue" Bakery', "Vandelay Industries",
    "Stark Supplies", "Wayne Logistics", "Tyrell Trading", "Cyberdyne GmbH",
]
PRODUCTS = [  # name, unit price
    ("Widget", 4.99), ("Gadget", 12.50), ("Sprocket", 0.85), ("Gizmo", 27.00),
    ("Doohickey", 7.25), ("Flange, 40 mm", 3.10), ("Bracket", 1.95),
    ("Control Unit", 149.00), ("Sensor Kit", 89.90), ("Cable 5 m", 9.99),
    ("Display 24\"", 219.00), ("Power Supply", 64.50),
]
DISCOUNTS = ["0", "0", "0", "0.05", "0.1", "0.15"]
NOTES = ["", "", "", "", "", "", "rush", "gift wrap", "call before delivery",
         "deliver to dock 3, rear entrance", "split shipment:\nsecond part next week"]
FIRST_DAY = datetime.date(2023, 1, 2)


class Lcg:
    """A small linear congruential generator: the same numbers on every
    Python version, unlike the random module's helpers."""

    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFFFFFFFFFF

    def below(self, n):
        self.state = (self.state * 6364136223846793005 + 1442695040888963407) & 0xFFFFFFFFFFFFFFFF
        return (self.state >> 33) % n

    def pick(self, items):
        return items[self.below(len(items))]


def rows(count, seed):
    rng = Lcg(seed)
    for i in range(count):
        ordered = FIRST_DAY + datetime.timedelta(days=rng.below(730))
        shipped = ordered + datetime.timedelta(days=1 + rng.below(9))
        product, price = rng.pick(PRODUCTS)
        quantity = 1 + rng.below(40) if price < 100 else 1 + rng.below(5)
        yield [10001 + i, ordered.isoformat(), shipped.isoformat(), rng.pick(REGIONS),
               rng.pick(CUSTOMERS), product, quantity, f"{price:.2f}",
               rng.pick(DISCOUNTS), rng.pick(NOTES)]


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--rows", type=int, default=300)
    parser.add_argument("--seed", type=int, default=2004)
    parser.add_argument("-o", "--output", help="file to write (default: standard output)")
    args = parser.parse_args()
    out = open(args.output, "w", newline="", encoding="utf-8") if args.output else sys.stdout
    writer = csv.writer(out, lineterminator="\n")
    writer.writerow(["Order ID", "Order Date", "Ship Date", "Region", "Customer", "Product",
                     "Quantity", "Unit Price", "Discount", "Notes"])
    writer.writerows(rows(args.rows, args.seed))
    if out is not sys.stdout:
        out.close()


if __name__ == "__main__":
    main()
