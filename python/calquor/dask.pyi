"""Formulas over a Dask DataFrame, partition by partition."""

from typing import Any, Iterable, Mapping

def add_columns(ddf: Any, formulas: Mapping[str, str], columns: Iterable[str] | None = None, *,
                errors: str = "raise", flavour: str = "CLQMFC") -> Any:
    """Adds one object-dtype column per formula of columns, compiled once per partition (map_partitions)."""
