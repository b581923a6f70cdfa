"""The engine with the rules of the Calquor_VCL library.

Same names as the ``calquor`` package (``Engine``, ``calculate_rows``) and the
same value table, exceptions and EMPTY; the rules differ as the README's
"two flavours" section says (``1+2`` is the integer 3, ``Replace`` changes
the first occurrence only, ...). Errors that this library lets leave a
calculation as C++ exceptions are raised as CalculationError with code 1 and
the exception's text.

Both flavours live in one process safely: each native module is loaded with
its own library in its local symbol scope, and importing checks that each
engine answers with its own rules (see calquor._types.check_flavour).
"""

from __future__ import annotations

from typing import Any, Iterable, Mapping

from . import _calquor_vcl
from ._rows import calculate_rows as _calculate_rows
from ._types import check_flavour

__all__ = ["Engine", "calculate_rows", "FLAVOUR"]

#: The rules ``Engine`` and ``calculate_rows`` follow here.
FLAVOUR: str = _calquor_vcl.FLAVOUR

Engine = _calquor_vcl.Engine

check_flavour(_calquor_vcl, "ba")


def calculate_rows(formulas: Mapping[str, str], rows: Any, columns: "Iterable[str] | None" = None, *,
                   errors: str = "raise"):
    """calquor.calculate_rows with the rules of Calquor_VCL."""
    return _calculate_rows(_calquor_vcl, formulas, rows, columns, errors=errors)
