"""calquor.dask on a real two-process LocalCluster: every added value equals
what the calquor csv tool writes for the same file."""

import csv
import datetime as dt
import os
import subprocess

import dask.dataframe as dd
import pandas as pd
import pytest
from distributed import Client, LocalCluster

import calquor
import calquor.dask

EXAMPLES = os.environ["CALQUOR_EXAMPLES"]
TOOL = os.environ["CALQUOR_TOOL"]
ORDERS = os.path.join(EXAMPLES, "orders.csv")


def named_formulas():
    formulas = {}
    with open(os.path.join(EXAMPLES, "orders.formulas"), encoding="utf-8") as lines:
        for line in lines:
            if line.strip() and not line.lstrip().startswith("#"):
                name, text = line.split("=", 1)
                formulas[name.strip()] = text.strip()
    return formulas


def tool_output(columns):
    command = [TOOL, "csv", ORDERS, "--formulas", os.path.join(EXAMPLES, "orders.formulas")]
    for name in columns:
        command += ["--column", name]
    run = subprocess.run(command, capture_output=True, text=True, check=True, timeout=60)
    return list(csv.DictReader(run.stdout.splitlines()))


def same(value, cell):
    """The tool's cell text against the engine's value, by meaning: numbers
    numerically, dates by their ISO text, Empty and Null as the empty cell."""
    if value is None or value is calquor.EMPTY:
        return cell == ""
    if isinstance(value, bool):
        return cell == ("true" if value else "false")
    if isinstance(value, (int, float)):
        return cell != "" and float(cell) == pytest.approx(value, rel=1e-12, abs=1e-12)
    if isinstance(value, dt.datetime):
        return cell == (value.strftime("%Y-%m-%d") if value.time() == dt.time() else value.strftime("%Y-%m-%d %H:%M:%S"))
    return cell == value


@pytest.fixture(scope="module")
def client():
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True, dashboard_address=":0",
                      worker_dashboard_address=":0") as cluster, Client(cluster, timeout=60) as client:
        yield client


def test_orders_on_a_cluster_match_the_csv_tool(client):
    formulas = named_formulas()
    frame = pd.read_csv(ORDERS, parse_dates=["Order Date", "Ship Date"])
    ddf = dd.from_pandas(frame, npartitions=5)
    result = calquor.dask.add_columns(ddf, formulas)
    assert list(result.dtypes[list(formulas)]) == [object] * len(formulas)
    assert list(result.dtypes[list(frame.columns)]) == list(frame.dtypes)
    out = client.compute(result).result(timeout=60)
    assert list(out.index) == list(frame.index)  # partitions in order

    expected = tool_output(formulas)
    assert len(expected) == len(out) > 0
    mismatches = [(row, name, out[name].iloc[row], cells[name])
                  for row, cells in enumerate(expected) for name in formulas
                  if not same(out[name].iloc[row], cells[name])]
    assert mismatches == []


def test_errors_reach_the_client(client):
    ddf = dd.from_pandas(pd.DataFrame({"Qty": [1, 2, 3, 4]}), npartitions=2)
    with pytest.raises(calquor.CompileError):
        calquor.dask.add_columns(ddf, {"N": "{Qty} +"})
    result = calquor.dask.add_columns(ddf, {"N": "{Qty} * {Missing}"})
    with pytest.raises(calquor.CalculationError) as raised:
        client.compute(result).result(timeout=60)
    assert raised.value.message.startswith("Unrecognized element:Missing")
