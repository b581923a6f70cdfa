"""The engine with the rules of Calquor_VCL; same interface as calquor."""

from typing import Any, Iterable, Mapping

from . import Engine as _Engine

FLAVOUR: str
"""The rules Engine and calculate_rows follow here: "Calquor_VCL"."""

class Engine(_Engine):
    """calquor.Engine with the rules of Calquor_VCL."""

def calculate_rows(formulas: Mapping[str, str], rows: Any, columns: Iterable[str] | None = None, *,
                   errors: str = "raise") -> Any:
    """calquor.calculate_rows with the rules of Calquor_VCL."""
