"""Values and exceptions shared by both flavours' native modules."""

from __future__ import annotations

__all__ = ["EMPTY", "Error", "CompileError", "CalculationError"]


class _Empty:
    """The engine's Empty value: no value at all, distinct from Null (None).

    There is exactly one instance, ``calquor.EMPTY``; it is false in a
    boolean context and survives pickling (Dask sends it between processes)
    as the same object.
    """

    _instance: "_Empty | None" = None

    def __new__(cls) -> "_Empty":
        if cls._instance is None:
            cls._instance = super().__new__(cls)
        return cls._instance

    def __repr__(self) -> str:
        return "calquor.EMPTY"

    def __bool__(self) -> bool:
        return False

    def __reduce__(self) -> str:
        return "EMPTY"


EMPTY = _Empty()


class Error(Exception):
    """Base class of the errors the engine reports."""


class CompileError(Error):
    """The formula text does not compile.

    ``position`` is the 0-based offset where the engine stopped, counted in
    bytes of the text's UTF-8 form as the engine counts (the str index only
    for ASCII text: ``formula.encode()[position:]`` is the rest), ``message``
    the engine's own message ("Unknown element", "Unknown function", ...),
    ``formula`` the text and ``name`` the named formula it belongs to, if any.
    """

    def __init__(self, position: int, message: str, formula: str = "", name: "str | None" = None) -> None:
        super().__init__(position, message, formula, name)
        self.position = position
        self.message = message
        self.formula = formula
        self.name = name

    def __str__(self) -> str:
        where = f"formula {self.name!r}: " if self.name else ""
        return f"{where}{self.message} at offset {self.position} in {self.formula!r}"

    def __reduce__(self):
        return (type(self), (self.position, self.message, self.formula, self.name))


class CalculationError(Error):
    """A calculation ended with a code other than 0.

    ``code`` and ``message`` are the engine's (for an unknown operand the code
    is its position plus one and the message "Unrecognized element:NAME").
    ``row`` is the 0-based row for calculate_rows, else None. When a Python
    adapter raised, or a value could not be passed to the engine, that
    exception is ``__cause__``.
    """

    def __init__(self, code: int, message: str, row: "int | None" = None) -> None:
        super().__init__(code, message, row)
        self.code = code
        self.message = message
        self.row = row

    def __str__(self) -> str:
        where = f"row {self.row}: " if self.row is not None else ""
        return f"{where}code {self.code}: {self.message}"

    def __reduce__(self):
        return (type(self), (self.code, self.message, self.row))


def check_flavour(native, expected: str) -> None:
    """Refuses a native module whose engine follows the other flavour's rules.

    Both engine libraries export the same C++ names. Each native module is
    loaded with its own library in its local scope, so the two coexist; a
    process that loads libraries into the global scope (RTLD_GLOBAL) would
    bind both modules to whichever library came first, and this check turns
    that into an ImportError instead of silently wrong results.
    """
    got = native.Engine("Replace('aa', 'a', 'b')").calculate()
    if got != expected:
        raise ImportError(
            f"calquor: the engine loaded for {native.FLAVOUR} follows the other flavour's rules "
            f"(Replace gave {got!r}, expected {expected!r}); the two libraries share C++ names and "
            "were bound to one copy, as happens when libraries are loaded with RTLD_GLOBAL"
        )
