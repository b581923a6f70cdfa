"""Formulas over a Dask DataFrame, partition by partition.

Against a running cluster::

    from distributed import Client
    client = Client("tcp://scheduler:8786")
    ddf = calquor.dask.add_columns(dd.read_csv("orders-*.csv"), formulas, ["Net", "Total"])

Every worker needs the calquor package importable (installed with
``cmake --install``, or on its PYTHONPATH).
"""

from __future__ import annotations

import importlib
from typing import Iterable, Mapping

import pandas

import calquor

__all__ = ["add_columns"]


def _partition(frame: pandas.DataFrame, formulas: dict, columns: list, errors: str, flavour: str) -> pandas.DataFrame:
    module = calquor if flavour == calquor.FLAVOUR else importlib.import_module("calquor.vcl")
    added = module.calculate_rows(formulas, frame, columns, errors=errors)
    out = frame.copy(deep=False)
    for name in columns:
        out[name] = added[name]
    return out


def add_columns(ddf, formulas: Mapping[str, str], columns: "Iterable[str] | None" = None, *,
                errors: str = "raise", flavour: str = "CLQMFC"):
    """Adds one column per formula of ``columns`` to a Dask DataFrame.

    ``formulas`` and ``columns`` are as in calquor.calculate_rows (each
    formula is also ``@name`` for the others). The formulas are compiled once
    per partition and calculated with ``map_partitions``: partitions keep
    their order, index and divisions, and existing columns keep their dtypes.
    The new columns are of dtype ``object`` in every partition, holding the
    engine's values as Python values (int, float, str, bool,
    datetime.datetime, None, calquor.EMPTY); convert with ``astype`` where
    one dtype is wanted. A column of the same name is replaced. ``flavour``
    is "CLQMFC" or "Calquor_VCL". The result is lazy; errors surface when it
    is computed.
    """
    if flavour not in ("CLQMFC", "Calquor_VCL"):
        raise ValueError(f"flavour must be 'CLQMFC' or 'Calquor_VCL', got {flavour!r}")
    formulas = dict(formulas)
    columns = list(formulas) if columns is None else list(columns)
    for name in columns:
        if name not in formulas:
            raise KeyError(f"column {name!r} is not one of the formulas")
    # Compiled here once as well, so that a syntax error is raised now rather
    # than when the result is computed.
    _partition(ddf._meta, formulas, columns, errors, flavour)
    meta = ddf._meta.copy()
    for name in columns:
        meta[name] = pandas.Series([], dtype=object, index=meta.index)
    return ddf.map_partitions(_partition, formulas, columns, errors, flavour, meta=meta)
