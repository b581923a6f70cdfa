"""Calquor, the formula engine, from Python (rules of CLQMFC)."""

import datetime
from typing import Any, Callable, Iterable, Mapping, Protocol, Union, overload

from ._types import EMPTY as EMPTY
from ._types import CalculationError as CalculationError
from ._types import CompileError as CompileError
from ._types import Error as Error
from ._types import _Empty

_Value = Union[None, _Empty, bool, int, float, str, datetime.datetime, datetime.date]
"""What may be passed to the engine."""
_Result = Union[None, _Empty, bool, int, float, str, datetime.datetime]
"""What the engine gives back."""

class _DataAdapter(Protocol):
    """An object that supplies operands and named formulas, asked afresh for every occurrence."""
    def is_known(self, name: str) -> bool: ...
    def get_operand_value(self, name: str) -> _Value: ...
    def get_formula_by_name(self, name: str) -> str | None: ...

_Formulas = Union[Mapping[str, str], Callable[[str], Union[str, None]]]

FLAVOUR: str
"""The rules Engine and calculate_rows follow: "CLQMFC"."""

class Engine:
    """A formula text and its compiled form.

    One engine serves one calculation at a time; a second thread (or an
    adapter re-entering it) gets RuntimeError. The GIL is released while it
    calculates, unless a Python adapter, mapping subclass or formulas
    callable has to be called.
    """
    def __init__(self, text: str = "") -> None:
        """Stores the formula text; TypeError for a non-str, ValueError for a NUL or over 1023 bytes."""
    @property
    def text(self) -> str:
        """The formula text; setting it drops the compiled form."""
    @text.setter
    def text(self, value: str) -> None: ...
    def compile(self) -> None:
        """Compiles the text; raises CompileError with .position and .message."""
    def calculate(self, values: Mapping[str, _Value] | _DataAdapter | None = None,
                  formulas: _Formulas | None = None) -> _Result:
        """Calculates the formula (compiling it first when needed).

        values: a mapping of operand values ({"Price": 9.99}) or an adapter object.
        formulas: named formulas' texts for @name, a mapping or a callable
        (default: the adapter's get_formula_by_name, else none).
        Raises CalculationError (.code, .message) when the code is not 0.
        """

@overload
def calculate_rows(formulas: Mapping[str, str], rows: Iterable[Mapping[str, _Value]],
                   columns: Iterable[str] | None = None, *, errors: str = "raise") -> dict[str, list[_Result]]: ...
@overload
def calculate_rows(formulas: Mapping[str, str], rows: Any, columns: Iterable[str] | None = None, *,
                   errors: str = "raise") -> Any: ...

def operand_name(label: Any) -> str:
    """A DataFrame column's operand name: its label's ASCII letters and digits ("Unit Price" -> "UnitPrice")."""
