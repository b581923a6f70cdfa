"""The calquor module: values both ways, errors, adapters, calculate_rows,
and both flavours in one process."""

import ctypes
import datetime as dt
import os
import pickle
import subprocess
import sys
import threading

import pandas as pd
import pytest

import calquor
import calquor.vcl

D = dt.datetime


@pytest.mark.parametrize(
    "value, back",
    [
        (None, None),
        (calquor.EMPTY, calquor.EMPTY),
        (True, True),
        (-7, -7),
        (2**40, float(2**40)),  # beyond 32 bits: a double, as the csv tool reads it
        (2.5, 2.5),
        ("héllo ✓ 😀", "héllo ✓ 😀"),
        (D(2004, 1, 14, 18, 30, 5), D(2004, 1, 14, 18, 30, 5)),
        (dt.date(2004, 1, 14), D(2004, 1, 14)),
        (pd.Timestamp("2023-03-18"), D(2023, 3, 18)),
    ],
)
def test_value_round_trip(value, back):
    got = calquor.Engine("{x}").calculate({"x": value})
    assert got == back and type(got) is type(back)


@pytest.mark.parametrize(
    "value, error",
    [
        (b"abc", TypeError),
        (1.5j, TypeError),
        (2**2000, OverflowError),
        ("a\0b", ValueError),
        (D(2004, 1, 1, tzinfo=dt.timezone.utc), ValueError),
        (dt.date(50, 1, 1), ValueError),
    ],
)
def test_unsupported_operand_is_chained_onto_calculation_error(value, error):
    for module in (calquor, calquor.vcl):
        with pytest.raises(calquor.CalculationError) as raised:
            module.Engine("{x}").calculate({"x": value})
        assert isinstance(raised.value.__cause__, error) and "'x'" in str(raised.value.__cause__)
    # Unused values are never converted.
    assert calquor.Engine("1").calculate({"x": value}) == 1.0


def test_results_and_codes():
    assert calquor.Engine("Round(1.005*100, 0)").calculate() == 100.0
    assert calquor.Engine("'a' + 66").calculate() == "a66"
    assert calquor.Engine("2 > 1").calculate() is True
    assert calquor.Engine("AddMonths({d}, 1)").calculate({"d": dt.date(2004, 1, 31)}) == D(2004, 2, 29)
    assert calquor.Engine("").calculate() == ""
    assert [type(m.Engine("1+2").calculate()) for m in (calquor, calquor.vcl)] == [float, int]

    with pytest.raises(calquor.CompileError) as raised:
        calquor.Engine("1 + (2").compile()
    assert (raised.value.position, raised.value.message) == (6, "Unmatched left parentheses")
    with pytest.raises(calquor.CalculationError) as raised:
        calquor.Engine("{Qty} + 1").calculate({"Price": 1})
    assert (raised.value.code, raised.value.message) == (1, "Unrecognized element:Qty")
    with pytest.raises(calquor.CalculationError) as raised:
        calquor.Engine("1 + (2").calculate()
    assert (raised.value.code, raised.value.message) == (6, "Unmatched left parentheses")
    with pytest.raises(calquor.CalculationError, match="too deep"):
        calquor.Engine("@A").calculate(None, {"A": "@B", "B": "@A"})
    # Calquor_VCL's C++ exceptions become CalculationError too.
    with pytest.raises(calquor.CalculationError, match="Unknown error"):
        calquor.vcl.Engine("Mod(1, 0)").calculate()


def test_bad_formula_texts():
    with pytest.raises(TypeError):
        calquor.Engine(12)
    with pytest.raises(ValueError, match="1023"):
        calquor.Engine("1+" * 600)
    engine = calquor.Engine("1")
    engine.text = "2*3"
    assert (engine.text, engine.calculate()) == ("2*3", 6.0)
    with pytest.raises(TypeError):
        calquor.Engine("@N").calculate(None, {"N": 5})


class Adapter:
    def __init__(self, fail=None):
        self.fail = fail
        self.asked = []

    def is_known(self, name):
        return name in ("p", "bad")

    def get_operand_value(self, name):
        self.asked.append(name)
        if name == "bad":
            raise self.fail
        return 2.5

    def get_formula_by_name(self, name):
        return {"Net": "{p} * 2", "Obj": 7}.get(name)


def test_python_adapters():
    assert calquor.Engine("@Net + {p}").calculate(Adapter()) == 7.5
    assert calquor.Engine("@Net").calculate({"p": 1}, lambda name: "{p} + 1") == 2.0
    assert calquor.Engine("@Net").calculate({"p": 1}, {"Net": "{p} * 3"}) == 3.0

    class Values(dict):  # any mapping is asked through Python
        pass

    assert calquor.Engine("{p} * 2").calculate(Values(p=4)) == 8.0
    for module in (calquor, calquor.vcl):
        with pytest.raises(calquor.CalculationError) as raised:
            module.Engine("{p} + {bad}").calculate(Adapter(LookupError("gone")))
        assert isinstance(raised.value.__cause__, LookupError)
        with pytest.raises(calquor.CalculationError) as raised:
            module.Engine("@Obj").calculate(Adapter())
        assert isinstance(raised.value.__cause__, TypeError)
    with pytest.raises(KeyboardInterrupt):  # not wrapped: it must stop the program
        calquor.Engine("{bad}").calculate(Adapter(KeyboardInterrupt()))
    with pytest.raises(TypeError, match="lacks"):
        calquor.Engine("1").calculate(type("Half", (), {"is_known": lambda s, n: False})())

    # An adapter that re-enters its own engine is refused, not corrupted.
    engine = calquor.Engine("{x}")
    with pytest.raises(calquor.CalculationError) as raised:
        engine.calculate(_Reentrant(engine))
    assert isinstance(raised.value.__cause__, RuntimeError)
    assert engine.calculate({"x": 1}) == 1


class _Reentrant(dict):
    def __init__(self, engine):
        super().__init__(x=1)
        self.engine = engine

    def __getitem__(self, name):
        return self.engine.calculate({"x": 2})


def test_engines_on_threads():
    # Each thread its own engine; the GIL is released while they calculate.
    results = {}

    def work(i):
        engine = calquor.Engine("{i} * 2")
        results[i] = [engine.calculate({"i": i}) for _ in range(2000)][-1]

    threads = [threading.Thread(target=work, args=(i,)) for i in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert results == {i: i * 2.0 for i in range(4)}


def test_calculate_rows():
    formulas = {"Net": "Round({Qty} * {Price}, 2)", "Big": "@Net > 10", "Tag": "'#' + {Qty}"}
    rows = [{"Qty": 3, "Price": 2.5}, {"Qty": 5, "Price": 9.99, "Extra": b"unused"}]
    assert calquor.calculate_rows(formulas, iter(rows)) == {
        "Net": [7.5, 49.95], "Big": [False, True], "Tag": ["#3", "#5"]}
    frame = pd.DataFrame({"Qty": [3, None], "Pri ce": [2.5, 1.0]}, index=[10, 20])  # {Price}, as the csv tool names it
    out = calquor.calculate_rows(formulas, frame, ["Net"])
    assert list(out.index) == [10, 20] and out["Net"].tolist() == [7.5, 0.0]  # NaN is Empty
    assert calquor.vcl.calculate_rows({"S": "{Qty} + 1"}, [{"Qty": 2}]) == {"S": [3]}
    # Arrays are read directly, in any byte order spelling of this machine.
    import numpy as np
    from calquor import _clqmfc, _rows
    run = _clqmfc.RowCalculator({"S": "{a}"}, ["S"]).run
    for array in (np.array([2**40, 7]), np.array([1.5, np.nan]), np.array([True, False])):
        assert run(2, ["a"], [array], _rows._ABSENT) == [[calquor.EMPTY if x != x else x for x in array.tolist()]]
    assert run(2, ["a"], [(ctypes.c_int64 * 2)(3, 4)], _rows._ABSENT) == [[3, 4]]  # format "<q"
    with pytest.raises(TypeError, match="float64, int64 or bool"):
        run(2, ["a"], [np.array([1, 2], dtype="int16")], _rows._ABSENT)
    # datetime64 columns take a vectorised road: the same values as datetimes.
    stamps = [D(2023, 3, 18, 6, 30, 15), D(1899, 12, 29, 6, 0), D(1850, 7, 1, 23, 59, 59), None]
    when = {"D": "{When}", "Next": "AddDays({When}, 1)"}
    by_row = calquor.calculate_rows(when, [{"When": w if w else calquor.EMPTY} for w in stamps])
    by_frame = calquor.calculate_rows(when, pd.DataFrame({"When": pd.to_datetime(stamps)}))
    assert by_frame["D"].tolist() == by_row["D"] == stamps[:3] + [calquor.EMPTY]
    assert by_frame["Next"].tolist() == by_row["Next"]

    with pytest.raises(calquor.CalculationError) as raised:
        calquor.calculate_rows({"N": "{Qty} * 2"}, [{"Qty": 1}, {"Other": 1}])
    assert raised.value.row == 1 and "Unrecognized element:Qty" in raised.value.message
    assert calquor.calculate_rows({"N": "{Qty} * 2"}, [{"Qty": 1}, {}], errors="none") == {"N": [2.0, None]}
    # Rows whose values no formula uses still count.
    assert calquor.calculate_rows({"One": "1"}, [{}, {"x": 1}]) == {"One": [1.0, 1.0]}
    assert calquor.calculate_rows({"One": "1"}, frame)["One"].tolist() == [1.0, 1.0]
    with pytest.raises(ValueError, match="Price"):
        calquor.calculate_rows(formulas, frame.assign(Price=1))
    with pytest.raises(calquor.CompileError) as raised:
        calquor.calculate_rows({"Good": "1", "Bad": "1 +"}, [])
    assert raised.value.name == "Bad"
    with pytest.raises(KeyError):
        calquor.calculate_rows({"A": "1"}, [], ["B"])
    with pytest.raises(calquor.CalculationError) as raised:
        calquor.calculate_rows({"N": "{Qty}"}, [{"Qty": 1}] * 5000 + [{"Qty": object()}])
    assert raised.value.row == 5000 and isinstance(raised.value.__cause__, TypeError)


def test_pickling_keeps_identity_and_details():
    assert pickle.loads(pickle.dumps(calquor.EMPTY)) is calquor.EMPTY
    error = pickle.loads(pickle.dumps(calquor.CalculationError(3, "Unrecognized element:x", row=4)))
    assert (error.code, error.message, error.row) == (3, "Unrecognized element:x", 4)
    error = pickle.loads(pickle.dumps(calquor.CompileError(2, "Unknown element", "1 ?", "N")))
    assert (error.position, error.name) == (2, "N")


def test_flavours_bound_to_one_library_are_refused():
    # Loaded into the global scope, both modules would use the first
    # library's engine: importing the Calquor_VCL module must fail, not lie.
    code = ("import os, sys; sys.setdlopenflags(os.RTLD_NOW | os.RTLD_GLOBAL); import calquor\n"
            "try:\n import calquor.vcl\nexcept ImportError as e:\n print('refused', e)")
    run = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0 and run.stdout.startswith("refused") and "RTLD_GLOBAL" in run.stdout
