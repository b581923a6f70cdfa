"""Values and exceptions shared by both flavours."""

class _Empty:
    """The engine's Empty value, distinct from Null (None); false in a boolean context."""

EMPTY: _Empty
"""The one Empty value."""

class Error(Exception):
    """Base class of the errors the engine reports."""

class CompileError(Error):
    """The formula text does not compile."""
    position: int
    message: str
    formula: str
    name: str | None
    def __init__(self, position: int, message: str, formula: str = "", name: str | None = None) -> None: ...

class CalculationError(Error):
    """A calculation ended with a code other than 0; an adapter's exception is __cause__."""
    code: int
    message: str
    row: int | None
    def __init__(self, code: int, message: str, row: int | None = None) -> None: ...
