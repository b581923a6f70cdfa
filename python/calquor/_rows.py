"""calculate_rows over mappings or a pandas DataFrame, for either flavour."""

from __future__ import annotations

import itertools
import re
import sys
from typing import Any, Iterable, Mapping

from ._types import EMPTY

_ABSENT = object()
CHUNK_ROWS = 4096


def operand_name(label: Any) -> str:
    """A DataFrame column's operand name: the ASCII letters and digits of
    its label, as the csv tool names a header ("Unit Price" is {UnitPrice})."""
    return re.sub(r"[^A-Za-z0-9]", "", str(label))


def _is_dataframe(rows: Any) -> bool:
    pandas = sys.modules.get("pandas")
    return pandas is not None and isinstance(rows, pandas.DataFrame)


def _cells(series) -> list:
    """A pandas column as Python values; a missing value (NaN, NaT, None,
    pd.NA) is Empty, as an empty CSV cell is."""
    values = series.astype(object)
    return values.where(series.notna(), EMPTY).tolist()


def _is_naive_datetime(series) -> bool:
    import pandas

    return pandas.api.types.is_datetime64_dtype(series.dtype)


def _day_serials(series):
    """A naive datetime64 column as the engine's day serials (days since
    1899-12-30, whole seconds; before that day the fraction counts forward
    from midnight; NaN for NaT), computed for the whole column at once."""
    import numpy
    import pandas

    delta = ((series.dt.floor("s") - pandas.Timestamp("1899-12-30")) / pandas.Timedelta(days=1)).to_numpy(
        dtype="float64", na_value=numpy.nan)
    days = numpy.floor(delta)
    return numpy.where(days >= 0, delta, 2 * days - delta)


_ARRAY_KINDS = ("float64", "int64", "bool")


def _column(series):
    """A DataFrame column as the native module reads it: float64, int64 and
    bool columns as arrays (no Python object per cell; a NaN is Empty),
    datetime64 as an array of day serials, anything else as Python values."""
    if _is_naive_datetime(series):
        return _day_serials(series)
    if str(series.dtype) in _ARRAY_KINDS:
        return series.to_numpy()
    return _cells(series)


def calculate_rows(native, formulas: Mapping[str, str], rows: Any, columns=None, *, errors: str = "raise"):
    formulas = dict(formulas)
    columns = list(formulas) if columns is None else list(columns)
    calculator = native.RowCalculator(formulas, columns, errors)
    if _is_dataframe(rows):
        import pandas

        # Only the columns the formulas can ask for are converted.
        wanted = set(calculator.operands)
        positions, names = [], []
        for i, label in enumerate(rows.columns):
            name = operand_name(label)
            if name in wanted:
                if name in names:
                    raise ValueError(f"two columns give the operand name {name!r}")
                positions.append(i)
                names.append(name)
        dates = [n for n, i in enumerate(positions) if _is_naive_datetime(rows.iloc[:, i])]
        outputs: list[list] = [[] for _ in columns]
        for start in range(0, max(len(rows), 1), CHUNK_ROWS):
            chunk = rows.iloc[start : start + CHUNK_ROWS]
            data = [_column(chunk.iloc[:, i]) for i in positions]
            for output, part in zip(outputs, calculator.run(len(chunk), names, data, _ABSENT, start, dates)):
                output.extend(part)
        return pandas.DataFrame(
            {name: pandas.Series(values, index=rows.index, dtype=object) for name, values in zip(columns, outputs)},
            index=rows.index,
        )
    if isinstance(rows, (str, bytes)) or isinstance(rows, Mapping):
        raise TypeError("rows must be an iterable of mappings or a pandas DataFrame")
    outputs = [[] for _ in columns]
    iterator = iter(rows)
    start = 0
    while True:
        chunk = list(itertools.islice(iterator, CHUNK_ROWS))
        if not chunk:
            break
        names: dict = {}
        for row in chunk:
            if not isinstance(row, Mapping):
                raise TypeError(f"each row must be a mapping, got {type(row).__name__!r}")
            for key in row:
                names.setdefault(key, None)
        data = [[row[name] if name in row else _ABSENT for row in chunk] for name in names]
        for output, part in zip(outputs, calculator.run(len(chunk), list(names), data, _ABSENT, start)):
            output.extend(part)
        start += len(chunk)
    return dict(zip(columns, outputs))
