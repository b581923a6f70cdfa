"""Calquor, the formula engine, from Python.

``calquor.Engine`` and ``calquor.calculate_rows`` follow the rules of the
CLQMFC library; ``calquor.vcl`` offers the same names with the rules of
Calquor_VCL. ``calquor.dask.add_columns`` runs formulas over a Dask
DataFrame. How values map between Python and the engine:

=====================  ==============================  =====================
Python                 engine value                    back to Python
=====================  ==============================  =====================
None                   Null                            None
calquor.EMPTY          Empty                           calquor.EMPTY
bool                   boolean                         bool
int (32-bit range)     integer                         int
int (beyond 32 bits)   double (as the csv tool reads)  float
float                  double                          float
str (no NUL)           text                            str
datetime.datetime      date (to the second, naive)     datetime.datetime
datetime.date          date at midnight                datetime.datetime
=====================  ==============================  =====================

Anything else (bytes, Decimal, a datetime with a time zone, a date before
the year 100) raises TypeError/ValueError/OverflowError, or, when an adapter
supplies it during a calculation, CalculationError with that error as its
``__cause__``.
"""

from __future__ import annotations

from typing import Any, Iterable, Mapping

from . import _clqmfc
from ._rows import calculate_rows as _calculate_rows
from ._rows import operand_name
from ._types import EMPTY, CalculationError, CompileError, Error, check_flavour

__all__ = ["Engine", "calculate_rows", "operand_name", "EMPTY", "Error", "CompileError", "CalculationError", "FLAVOUR"]

#: The rules ``Engine`` and ``calculate_rows`` follow.
FLAVOUR: str = _clqmfc.FLAVOUR

Engine = _clqmfc.Engine

check_flavour(_clqmfc, "bb")


def calculate_rows(formulas: Mapping[str, str], rows: Any, columns: "Iterable[str] | None" = None, *,
                   errors: str = "raise"):
    """Calculates named formulas over every row; returns the new columns.

    ``formulas`` maps names to formula texts; each is also the named formula
    ``@name`` for the others, as the csv tool's columns are. ``columns``
    chooses which formulas become output columns (default: all, in order).
    Every output formula is compiled once; a syntax error raises CompileError
    with its ``name``.

    ``rows`` is an iterable of mappings (operand name -> value; a row without
    a key does not know that operand) or a pandas DataFrame (a column's
    operand name is its label's ASCII letters and digits, as the csv tool
    names a header: "Unit Price" is {UnitPrice}; a missing value
    NaN/NaT/None is Empty). Rows are
    taken in chunks, so memory stays bounded for long iterables.

    Returns a dict of lists for mappings, a DataFrame of object columns with
    the same index for a DataFrame. ``errors="raise"`` raises
    CalculationError (with ``row``) at the first failing cell;
    ``errors="none"`` leaves a failing cell None and goes on.
    """
    return _calculate_rows(_clqmfc, formulas, rows, columns, errors=errors)
