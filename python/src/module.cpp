// The Python extension module over the plain library. Built twice from this
// source: calquor._clqmfc links CLQMFC, calquor._calquor_vcl links
// Calquor_VCL (CALQUOR_PY_MODULE and CALQUOR_PY_FLAVOUR name them). Only the
// public interface <calquor/Calquex.h> is used.
//
// Values cross in both directions by the table in the calquor package's
// docstring (python/calquor/__init__.py): ToVariant and ToPython below. The exception classes and the EMPTY
// sentinel live in calquor._types, so both flavours share them.
//
// The GIL: a calculation whose operands and named formulas were copied into
// C++ beforehand (a dict, the rows of calculate_rows) runs with the GIL
// released; one that calls a Python adapter holds it throughout, since every
// adapter call needs it and the engine calls the adapter on its own thread.
#include <calquor/Calquex.h>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <datetime.h>

#include <atomic>
#include <bit>
#include <climits>
#include <cmath>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#ifndef CALQUOR_PY_MODULE
#error "CALQUOR_PY_MODULE names the module"
#endif

namespace py = pybind11;

namespace calquor::python {
namespace {

// calquor._types, imported once at module start.
struct Shared {
    py::object empty, compileError, calculationError;
};
Shared& Types() {
    static Shared* shared = new Shared();  // never destroyed: outlives the interpreter's teardown order
    return *shared;
}

// A value Python holds that the engine cannot take, or the reverse.
struct Refusal {
    py::handle type;  // PyExc_TypeError, PyExc_ValueError or PyExc_OverflowError
    std::string message;
};

[[noreturn]] void Raise(const Refusal& refusal) {
    PyErr_SetString(refusal.type.ptr(), refusal.message.c_str());
    throw py::error_already_set();
}

std::string TypeName(py::handle value) { return Py_TYPE(value.ptr())->tp_name; }

_variant_t NullValue() {
    _variant_t value;
    value.vt = VT_NULL;
    return value;
}

// UTF-8 text as the engine's wide text. Texts with NUL are refused: the
// engine works on NUL-terminated 8-bit text and would cut them there.
std::optional<Refusal> TextToVariant(py::handle text, _variant_t& out) {
    Py_ssize_t size = 0;
    const char* bytes = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (bytes == nullptr) {
        PyErr_Clear();
        return Refusal{PyExc_ValueError, "text cannot be encoded as UTF-8 (lone surrogate)"};
    }
    const std::string_view view(bytes, static_cast<std::size_t>(size));
    if (view.find('\0') != std::string_view::npos)
        return Refusal{PyExc_ValueError, "text holds a NUL character, which the engine cannot hold"};
    out = _variant_t(bytes);
    return std::nullopt;
}

std::optional<Refusal> DateToVariant(int year, int month, int day, int hour, int minute, int second,
                                     _variant_t& out) {
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(year);
    fields.wMonth = static_cast<WORD>(month);
    fields.wDay = static_cast<WORD>(day);
    fields.wHour = static_cast<WORD>(hour);
    fields.wMinute = static_cast<WORD>(minute);
    fields.wSecond = static_cast<WORD>(second);
    DOUBLE serial = 0.0;
    if (year < 100 || !SystemTimeToVariantTime(&fields, &serial))
        return Refusal{PyExc_ValueError, "date " + std::to_string(year) + "-" + std::to_string(month) + "-" +
                                             std::to_string(day) + " is outside the years 100 to 9999"};
    out = _variant_t(serial, VT_DATE);
    return std::nullopt;
}

// Python value -> engine value. The order matters: bool before int (bool is
// an int), datetime before date (datetime is a date).
std::optional<Refusal> ToVariant(py::handle value, _variant_t& out) {
    PyObject* p = value.ptr();
    if (p == Py_None) {
        out = NullValue();
    } else if (value.is(Types().empty)) {
        out = _variant_t();
    } else if (PyBool_Check(p)) {
        out = _variant_t(p == Py_True);
    } else if (PyLong_Check(p)) {
        int overflow = 0;
        const long long whole = PyLong_AsLongLongAndOverflow(p, &overflow);
        if (overflow == 0 && whole >= INT_MIN && whole <= INT_MAX) {
            out = _variant_t(static_cast<int>(whole));  // as the engine's own integer literals
        } else {
            const double real = PyLong_AsDouble(p);
            if (real == -1.0 && PyErr_Occurred()) {
                PyErr_Clear();
                return Refusal{PyExc_OverflowError, "integer is too large for the engine (beyond a double)"};
            }
            out = _variant_t(real);
        }
    } else if (PyFloat_Check(p)) {
        out = _variant_t(PyFloat_AS_DOUBLE(p));
    } else if (PyUnicode_Check(p)) {
        return TextToVariant(value, out);
    } else if (PyDateTime_Check(p)) {
        if (!py::getattr(value, "tzinfo").is_none())
            return Refusal{PyExc_ValueError,
                           "a datetime with a time zone is refused: the engine's dates are local and naive"};
        return DateToVariant(PyDateTime_GET_YEAR(p), PyDateTime_GET_MONTH(p), PyDateTime_GET_DAY(p),
                             PyDateTime_DATE_GET_HOUR(p), PyDateTime_DATE_GET_MINUTE(p),
                             PyDateTime_DATE_GET_SECOND(p), out);
    } else if (PyDate_Check(p)) {
        return DateToVariant(PyDateTime_GET_YEAR(p), PyDateTime_GET_MONTH(p), PyDateTime_GET_DAY(p), 0, 0, 0, out);
    } else {
        return Refusal{PyExc_TypeError,
                       "calquor cannot pass a value of type '" + TypeName(value) +
                           "' to the engine (supported: None, calquor.EMPTY, bool, int, float, str, "
                           "datetime.datetime, datetime.date)"};
    }
    return std::nullopt;
}

py::object WideToPython(BSTR text) {
    if (SysStringLen(text) == 0) return py::str("");
    int order = -1;  // little-endian UTF-16, as OLECHAR holds it
    PyObject* made = PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(text),
                                           static_cast<Py_ssize_t>(SysStringLen(text)) * 2, "replace", &order);
    if (made == nullptr) throw py::error_already_set();
    return py::reinterpret_steal<py::object>(made);
}

// Engine value -> Python value. Kinds the table does not name are refused.
py::object ToPython(const _variant_t& value) {
    switch (value.vt) {
    case VT_EMPTY: return Types().empty;
    case VT_NULL: return py::none();
    case VT_BOOL: return py::bool_(value.boolVal != 0);
    case VT_I1: return py::int_(static_cast<long long>(value.cVal));
    case VT_UI1: return py::int_(static_cast<long long>(value.bVal));
    case VT_I2: return py::int_(static_cast<long long>(value.iVal));
    case VT_UI2: return py::int_(static_cast<long long>(value.uiVal));
    case VT_I4: return py::int_(static_cast<long long>(value.lVal));
    case VT_UI4: return py::int_(static_cast<unsigned long long>(value.ulVal));
    case VT_INT: return py::int_(static_cast<long long>(value.intVal));
    case VT_UINT: return py::int_(static_cast<unsigned long long>(value.uintVal));
    case VT_I8: return py::int_(static_cast<long long>(value.llVal));
    case VT_UI8: return py::int_(static_cast<unsigned long long>(value.ullVal));
    case VT_R4: return py::float_(value.fltVal);
    case VT_R8: return py::float_(value.dblVal);
    case VT_CY:
    case VT_DECIMAL: {
        _variant_t real;
        if (SUCCEEDED(VariantChangeType(&real, &value, 0, VT_R8))) return py::float_(real.dblVal);
        break;
    }
    case VT_DATE: {
        SYSTEMTIME fields{};
        if (!VariantTimeToSystemTime(value.date, &fields))
            Raise({PyExc_ValueError, "the engine returned a date outside the years 100 to 9999 (serial " +
                                         std::to_string(value.date) + ")"});
        PyObject* made = PyDateTime_FromDateAndTime(fields.wYear, fields.wMonth, fields.wDay, fields.wHour,
                                                    fields.wMinute, fields.wSecond, 0);
        if (made == nullptr) throw py::error_already_set();
        return py::reinterpret_steal<py::object>(made);
    }
    case VT_BSTR: return WideToPython(value.bstrVal);
    case varString: {
        const char* text = value.strVal;
        const UINT size = text ? AnsiStrLen(value.strVal) : 0;
        return py::reinterpret_steal<py::object>(
            PyUnicode_DecodeUTF8(text ? text : "", static_cast<Py_ssize_t>(size), "replace"));
    }
    default: break;
    }
    Raise({PyExc_TypeError, "the engine returned a value of variant kind " + std::to_string(value.vt) +
                                ", which calquor does not represent in Python"});
}

// Thrown into the engine when an adapter call fails; the engine reports it
// as its failure outcome and the binding raises the recorded cause.
struct AdapterFailure : std::exception {
    const char* what() const noexcept override { return "the data adapter raised an exception"; }
};

// Operand values copied out of Python: names, and cells per row. A cell that
// could not be converted keeps its refusal, raised only if the engine asks.
struct Table {
    std::unordered_map<std::string, std::size_t> index;  // operand name -> column
    std::size_t width = 0;
    std::vector<_variant_t> cells;  // row-major
    enum : unsigned char { kPresent, kAbsent, kRefused };
    std::vector<unsigned char> state;
    std::unordered_map<std::size_t, Refusal> refusals;  // cell -> why

    void Clear() {
        index.clear();
        width = 0;
        cells.clear();
        state.clear();
        refusals.clear();
    }
    // Only str keys can be asked for; others are ignored.
    void AddColumn(py::handle name) {
        if (PyUnicode_Check(name.ptr())) index.emplace(py::cast<std::string>(name), width);
        ++width;
    }
    // Cells of the arrays a DataFrame hands over (see Run): a NaN is a
    // missing value, Empty; asDate marks day serials made from datetime64.
    void AddReal(double value, bool asDate) {
        if (std::isnan(value)) {
            cells.emplace_back();
        } else {
            cells.emplace_back(value, asDate ? VT_DATE : VT_R8);
        }
        state.push_back(kPresent);
    }
    void AddWhole(long long value) {
        if (value >= INT_MIN && value <= INT_MAX)
            cells.emplace_back(static_cast<int>(value));
        else
            cells.emplace_back(static_cast<double>(value));
        state.push_back(kPresent);
    }
    void AddFlag(bool value) {
        cells.emplace_back(value);
        state.push_back(kPresent);
    }
    void Add(py::handle value, py::handle absent) {
        if (value.is(absent)) {
            cells.emplace_back();
            state.push_back(kAbsent);
            return;
        }
        _variant_t converted;
        if (auto refusal = ToVariant(value, converted)) {
            refusals.emplace(cells.size(), std::move(*refusal));
            cells.emplace_back();
            state.push_back(kRefused);
            return;
        }
        cells.push_back(std::move(converted));
        state.push_back(kPresent);
    }
};

// Where the engine's adapter calls go. Either copied data (a Table and a
// formula map: no Python call, the GIL may be released) or Python objects
// (called with the GIL held).
class HostAdapter : public DataAdapter {
public:
    // Copied operand values and the current row.
    const Table* table = nullptr;
    std::size_t row = 0;
    // Python operand source: a mapping or an object with is_known and
    // get_operand_value (protocol = true).
    py::object values;
    bool protocol = false;
    // Named formulas: copied, or a Python mapping, callable or protocol object.
    const std::unordered_map<std::string, std::string>* formulaMap = nullptr;
    py::object formulas;
    enum class FormulaSource { None, Map, Mapping, Callable, Protocol } formulaSource = FormulaSource::None;

    // The first failure of the current calculation.
    std::optional<py::error_already_set> pythonError;
    std::optional<Refusal> refusal;

    bool NeedsPython() const {
        return (table == nullptr && values) ||
               (formulaSource != FormulaSource::None && formulaSource != FormulaSource::Map);
    }
    bool Failed() const { return pythonError.has_value() || refusal.has_value(); }
    void Reset() {
        pythonError.reset();
        refusal.reset();
    }

    bool IsKnown(const char* name) override {
        if (table) {
            const auto found = table->index.find(name);
            return found != table->index.end() &&
                   table->state[row * table->width + found->second] != Table::kAbsent;
        }
        if (!values) return false;
        return Guard([&] {
            return protocol ? py::bool_(values.attr("is_known")(name)).cast<bool>()
                            : values.contains(py::str(name));
        });
    }

    _variant_t GetOperantValue(const char* name) override {
        if (table) {
            const std::size_t cell = row * table->width + table->index.at(name);
            if (table->state[cell] == Table::kRefused) {
                Record(table->refusals.at(cell), name);
                throw AdapterFailure();
            }
            return table->cells[cell];
        }
        return Guard([&] {
            py::object value = protocol ? values.attr("get_operand_value")(name) : values[py::str(name)];
            _variant_t converted;
            if (auto refused = ToVariant(value, converted)) {
                Record(*refused, name);
                throw AdapterFailure();
            }
            return converted;
        });
    }

    std::string GetFormulaByName(const char* name) override {
        switch (formulaSource) {
        case FormulaSource::None: return {};
        case FormulaSource::Map: {
            const auto found = formulaMap->find(name);
            return found == formulaMap->end() ? std::string() : found->second;
        }
        default: break;
        }
        return Guard([&] {
            py::object text;
            if (formulaSource == FormulaSource::Mapping)
                text = formulas.contains(py::str(name)) ? formulas[py::str(name)] : py::object(py::none());
            else if (formulaSource == FormulaSource::Callable)
                text = formulas(name);
            else
                text = formulas.attr("get_formula_by_name")(name);
            if (text.is_none()) return std::string();
            if (!PyUnicode_Check(text.ptr())) {
                Record({PyExc_TypeError, "named formula texts are str, got '" + TypeName(text) + "'"}, name);
                throw AdapterFailure();
            }
            return text.cast<std::string>();
        });
    }

private:
    void Record(const Refusal& why, const char* name) {
        if (!Failed()) refusal = Refusal{why.type, why.message + " (for '" + name + "')"};
    }
    // Runs a Python call; a Python exception is kept and ends the
    // calculation as the engine's failure outcome.
    template <class F>
    auto Guard(F&& call) -> decltype(call()) {
        try {
            return call();
        } catch (py::error_already_set& error) {
            if (!Failed()) pythonError.emplace(std::move(error));
            throw AdapterFailure();
        } catch (py::cast_error& error) {
            if (!Failed()) refusal = Refusal{PyExc_TypeError, error.what()};
            throw AdapterFailure();
        }
    }
};

// One calculation's outcome.
struct Outcome {
    _variant_t value;
    int code = 0;
    std::string message;
};

// Calculates, turning what the Calquor_VCL build lets leave Calculate into
// code 1 with its text, like the runtime's conversion errors it reports.
void RunCalculation(Calquex& engine, Outcome& out) {
    out.code = 0;
    try {
        out.value = engine.Calculate(out.code, out.message);
    } catch (const _com_error&) {
        out.code = 1;
        out.message = "out of memory";
        out.value = _variant_t();
    } catch (const std::exception& error) {
        out.code = 1;
        out.message = error.what();
        out.value = _variant_t();
    }
}

// Raises CalculationError(code, message), chained to the adapter's failure.
// A KeyboardInterrupt or SystemExit from the adapter is raised as it is:
// wrapped, it would be caught as an ordinary error.
[[noreturn]] void RaiseCalculation(const Outcome& out, HostAdapter& adapter, py::object row = py::none()) {
    if (adapter.pythonError && !adapter.pythonError->matches(PyExc_Exception)) {
        py::error_already_set pending = std::move(*adapter.pythonError);
        adapter.Reset();
        pending.restore();
        throw py::error_already_set();
    }
    py::object cause = py::none();
    if (adapter.pythonError) {
        cause = adapter.pythonError->value();
    } else if (adapter.refusal) {
        cause = py::reinterpret_borrow<py::object>(adapter.refusal->type)(adapter.refusal->message);
    }
    const int code = out.code != 0 ? out.code : 1;
    const std::string message = out.code != 0 ? out.message : std::string("the data adapter raised an exception");
    py::object error = Types().calculationError(code, message, py::arg("row") = row);
    if (!cause.is_none()) {
        error.attr("__cause__") = cause;
    }
    adapter.Reset();
    PyErr_SetObject(Types().calculationError.ptr(), error.ptr());
    throw py::error_already_set();
}

std::string FormulaText(py::handle text, const char* what) {
    if (!PyUnicode_Check(text.ptr()))
        Raise({PyExc_TypeError, std::string(what) + " must be str, got '" + TypeName(text) + "'"});
    _variant_t unused;
    if (auto refusal = TextToVariant(text, unused)) Raise({refusal->type, std::string(what) + ": " + refusal->message});
    std::string utf8 = text.cast<std::string>();
    if (utf8.size() > static_cast<std::size_t>(Calquex::kMaxFormulaLength))
        Raise({PyExc_ValueError, std::string(what) + " is " + std::to_string(utf8.size()) +
                                     " bytes of UTF-8; the engine holds at most " +
                                     std::to_string(Calquex::kMaxFormulaLength)});
    return utf8;
}

void CopyFormulas(py::dict formulas, std::unordered_map<std::string, std::string>& out) {
    out.clear();
    for (auto [name, text] : formulas) {
        if (!PyUnicode_Check(name.ptr()))
            Raise({PyExc_TypeError, "formula names are str, got '" + TypeName(name) + "'"});
        out[name.cast<std::string>()] = FormulaText(text, ("formula '" + name.cast<std::string>() + "'").c_str());
    }
}

[[noreturn]] void RaiseCompile(int pos, const std::string& message, const std::string& text,
                               py::object name = py::none()) {
    py::object error = Types().compileError(pos, message, text, py::arg("name") = name);
    PyErr_SetObject(Types().compileError.ptr(), error.ptr());
    throw py::error_already_set();
}

// Refuses a second thread (or a re-entrant adapter) while an engine works:
// one engine serves one calculation at a time, and the GIL may be released.
class Busy {
public:
    explicit Busy(std::atomic<bool>& flag) : m_flag(flag) {
        if (m_flag.exchange(true))
            Raise({PyExc_RuntimeError, "this calquor object is already calculating (on another thread, or "
                                       "re-entered from its own adapter)"});
    }
    ~Busy() { m_flag = false; }
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;

private:
    std::atomic<bool>& m_flag;
};

class Engine {
public:
    explicit Engine(py::handle text) { SetText(text); }

    std::string Text() const { return m_engine.GetFormulaStr(); }
    void SetText(py::handle text) {
        Busy busy(m_busy);
        const std::string utf8 = FormulaText(text, "the formula text");
        m_engine.SetFormulaStr(utf8.c_str());
    }

    void Compile() {
        Busy busy(m_busy);
        int pos = 0;
        std::string message;
        if (!m_engine.Compile(pos, message)) RaiseCompile(pos, message, m_engine.GetFormulaStr());
    }

    py::object Calculate(py::object values, py::object formulas) {
        Busy busy(m_busy);
        HostAdapter adapter;
        Table table;
        std::unordered_map<std::string, std::string> formulaMap;
        if (values.is_none()) {
            // no operands
        } else if (PyDict_CheckExact(values.ptr())) {
            for (auto [name, value] : values.cast<py::dict>()) {
                table.AddColumn(name);
                table.Add(value, py::handle());
            }
            adapter.table = &table;
        } else if (py::hasattr(values, "is_known")) {
            adapter.values = values;
            adapter.protocol = true;
            for (const char* method : {"get_operand_value", "get_formula_by_name"})
                if (!py::hasattr(values, method))
                    Raise({PyExc_TypeError, "an adapter object needs is_known, get_operand_value and "
                                            "get_formula_by_name; '" + TypeName(values) + "' lacks " + method});
            if (formulas.is_none()) {
                adapter.formulas = values;
                adapter.formulaSource = HostAdapter::FormulaSource::Protocol;
            }
        } else if (py::hasattr(values, "__getitem__") && py::hasattr(values, "__contains__")) {
            adapter.values = values;
        } else {
            Raise({PyExc_TypeError, "values must be a mapping or an adapter object with is_known, "
                                    "get_operand_value and get_formula_by_name; got '" + TypeName(values) + "'"});
        }
        if (formulas.is_none()) {
        } else if (PyDict_CheckExact(formulas.ptr())) {
            CopyFormulas(formulas.cast<py::dict>(), formulaMap);
            adapter.formulaMap = &formulaMap;
            adapter.formulaSource = HostAdapter::FormulaSource::Map;
        } else if (py::hasattr(formulas, "__getitem__") && py::hasattr(formulas, "__contains__")) {
            adapter.formulas = formulas;
            adapter.formulaSource = HostAdapter::FormulaSource::Mapping;
        } else if (PyCallable_Check(formulas.ptr())) {
            adapter.formulas = formulas;
            adapter.formulaSource = HostAdapter::FormulaSource::Callable;
        } else {
            Raise({PyExc_TypeError, "formulas must be a mapping or a callable, got '" + TypeName(formulas) + "'"});
        }

        const bool bound = adapter.table || adapter.values || adapter.formulaSource != HostAdapter::FormulaSource::None;
        m_engine.SetDataAdapter(bound ? &adapter : nullptr);
        Outcome out;
        if (adapter.NeedsPython()) {
            RunCalculation(m_engine, out);
        } else {
            py::gil_scoped_release release;
            RunCalculation(m_engine, out);
        }
        m_engine.SetDataAdapter(nullptr);  // the adapter dies with this call
        if (out.code != 0 || adapter.Failed()) RaiseCalculation(out, adapter);
        return ToPython(out.value);
    }

private:
    Calquex m_engine;
    std::atomic<bool> m_busy{false};
};

// A name token's text, from either flavour's text kind.
std::string NameOf(const _variant_t& value) {
    if (value.vt == varString) return value.strVal ? std::string(value.strVal) : std::string();
    if (value.vt != VT_BSTR) return {};
    const int units = static_cast<int>(SysStringLen(value.bstrVal));
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, value.bstrVal, units, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, value.bstrVal, units, utf8.data(), bytes, nullptr, nullptr);
    return utf8;
}

// One data column of calculate_rows: a list (or other sequence) of Python
// values, or a one-dimensional array of float64, int64 or bool, which a
// DataFrame hands over and which is read without making Python objects.
struct Column {
    enum Kind { Items, Real, Whole, Flag } kind = Items;
    py::object items;  // a list or tuple (Items)
    py::buffer_info buffer;
    bool asDate = false;

    static Column Of(py::handle source, std::size_t rows) {
        Column column;
        if (!PyList_Check(source.ptr()) && !PyTuple_Check(source.ptr()) && PyObject_CheckBuffer(source.ptr())) {
            column.buffer = py::reinterpret_borrow<py::buffer>(source).request();
            // "=q", "<d": a byte order prefix that means this machine's order.
            std::string format = column.buffer.format;
            if (!format.empty() && (format[0] == '@' || format[0] == '=' ||
                                    (format[0] == '<' && std::endian::native == std::endian::little)))
                format.erase(0, 1);
            const bool real = format == "d" && column.buffer.itemsize == 8;
            const bool whole = (format == "l" || format == "q") && column.buffer.itemsize == 8;
            const bool flag = format == "?" && column.buffer.itemsize == 1;
            if (column.buffer.ndim != 1 || static_cast<std::size_t>(column.buffer.shape[0]) != rows ||
                !(real || whole || flag))
                Raise({PyExc_TypeError, "an array column must be one-dimensional float64, int64 or bool with " +
                                            std::to_string(rows) + " items; got format '" +
                                            column.buffer.format + "', " +
                                            std::to_string(column.buffer.ndim) + " dimension(s), " +
                                            std::to_string(column.buffer.size) + " items"});
            column.kind = real ? Real : whole ? Whole : Flag;
            return column;
        }
        column.items = py::reinterpret_steal<py::object>(PySequence_Fast(source.ptr(), "a data column is a sequence"));
        if (!column.items) throw py::error_already_set();
        if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(column.items.ptr())) != rows)
            Raise({PyExc_ValueError, "a data column's length is not rows"});
        return column;
    }

    void AddTo(Table& table, std::size_t row, py::handle absent) const {
        if (kind == Items) {
            table.Add(PySequence_Fast_GET_ITEM(items.ptr(), static_cast<Py_ssize_t>(row)), absent);
            return;
        }
        const char* at = static_cast<const char*>(buffer.ptr) + static_cast<py::ssize_t>(row) * buffer.strides[0];
        if (kind == Real)
            table.AddReal(*reinterpret_cast<const double*>(at), asDate);
        else if (kind == Whole)
            table.AddWhole(*reinterpret_cast<const long long*>(at));
        else
            table.AddFlag(*reinterpret_cast<const bool*>(at));
    }
};

// calculate_rows: one compiled engine per output column, fed chunk by chunk
// from columns of Python values (calquor._rows builds the chunks).
class RowCalculator {
public:
    RowCalculator(py::dict formulas, std::vector<std::string> columns, std::string errors)
        : m_columns(std::move(columns)) {
        if (errors != "raise" && errors != "none")
            Raise({PyExc_ValueError, "errors must be 'raise' or 'none', got '" + errors + "'"});
        m_raise = errors == "raise";
        CopyFormulas(formulas, m_formulas);
        m_adapter.formulaMap = &m_formulas;
        m_adapter.formulaSource = HostAdapter::FormulaSource::Map;
        m_adapter.table = &m_table;
        m_engines.reserve(m_columns.size());
        for (const std::string& name : m_columns) {
            const auto found = m_formulas.find(name);
            if (found == m_formulas.end())
                Raise({PyExc_KeyError, "column '" + name + "' is not one of the formulas"});
            Calquex& engine = m_engines.emplace_back(found->second.c_str());
            int pos = 0;
            std::string message;
            if (!engine.Compile(pos, message)) RaiseCompile(pos, message, found->second, py::str(name));
            engine.SetDataAdapter(&m_adapter);
            CollectOperands(found->second);
        }
    }

    // The operand names the output formulas can ask for, through the named
    // formulas they reference: only these columns need converting.
    const std::vector<std::string>& Operands() const { return m_operands; }
    RowCalculator(const RowCalculator&) = delete;
    RowCalculator& operator=(const RowCalculator&) = delete;

    // rows: how many rows; names: the operand names; data: one sequence of
    // rows values per name; absent marks a cell that has no value (a mapping
    // without the key). first_row numbers the rows in errors. Returns one
    // list per output column.
    py::list Run(std::size_t rows, py::sequence names, py::sequence data, py::handle absent, long long firstRow,
                 std::vector<std::size_t> dates) {
        Busy busy(m_busy);
        if (names.size() != data.size())
            Raise({PyExc_ValueError, "one data column per name is needed"});
        m_table.Clear();
        for (py::handle name : names) m_table.AddColumn(name);
        std::vector<Column> columns;
        for (std::size_t c = 0; c < data.size(); ++c) columns.push_back(Column::Of(data[c], rows));
        for (std::size_t c : dates)
            if (c < columns.size() && columns[c].kind == Column::Real) columns[c].asDate = true;
        m_table.cells.reserve(rows * m_table.width);
        for (std::size_t r = 0; r < rows; ++r)
            for (Column& column : columns) column.AddTo(m_table, r, absent);

        const std::size_t width = m_engines.size();
        std::vector<Outcome> results(rows * width);
        std::size_t failedAt = SIZE_MAX;
        {
            py::gil_scoped_release release;
            for (std::size_t r = 0; r < rows && failedAt == SIZE_MAX; ++r) {
                m_adapter.row = r;
                for (std::size_t c = 0; c < width; ++c) {
                    Outcome& out = results[r * width + c];
                    RunCalculation(m_engines[c], out);
                    if (out.code != 0 || m_adapter.Failed()) {
                        if (m_raise) {
                            failedAt = r * width + c;
                            break;
                        }
                        out.value = NullValue();
                        m_adapter.Reset();
                    }
                }
            }
        }
        if (failedAt != SIZE_MAX) {
            const Outcome& out = results[failedAt];
            Outcome described = out;
            described.message = out.message + " (column '" + m_columns[failedAt % width] + "')";
            RaiseCalculation(described, m_adapter, py::int_(firstRow + static_cast<long long>(failedAt / width)));
        }
        py::list output;
        for (std::size_t c = 0; c < width; ++c) {
            py::list column(rows);
            for (std::size_t r = 0; r < rows; ++r) column[r] = ToPython(results[r * width + c].value);
            output.append(column);
        }
        return output;
    }

private:
    // Scans with the engine's own scanner, following @name through the
    // formula map once per name; scanning stops where compiling would.
    void CollectOperands(const std::string& text) {
        Calquex scanner(text.c_str());
        for (Token token = scanner.GetNextToken(); token.nType != TT_END && token.nType != TT_ERROR;
             token = scanner.GetNextToken()) {
            const std::string name = NameOf(token.vValue);
            if (token.nType == TT_COLUMN) {
                if (m_seenOperands.insert(name).second) m_operands.push_back(name);
            } else if (token.nType == TT_FORMULA && m_seenFormulas.insert(name).second) {
                const auto found = m_formulas.find(name);
                if (found != m_formulas.end()) CollectOperands(found->second);
            }
        }
    }

    std::vector<std::string> m_operands;
    std::unordered_set<std::string> m_seenOperands, m_seenFormulas;
    std::vector<std::string> m_columns;
    std::unordered_map<std::string, std::string> m_formulas;
    bool m_raise = true;
    Table m_table;
    HostAdapter m_adapter;
    std::vector<Calquex> m_engines;
    std::atomic<bool> m_busy{false};
};

}  // namespace
}  // namespace calquor::python

PYBIND11_MODULE(CALQUOR_PY_MODULE, m) {
    using namespace calquor::python;
    PyDateTime_IMPORT;
    if (PyDateTimeAPI == nullptr) throw py::error_already_set();
    py::module_ types = py::module_::import("calquor._types");
    Types().empty = types.attr("EMPTY");
    Types().compileError = types.attr("CompileError");
    Types().calculationError = types.attr("CalculationError");

    m.doc() = "The engine of one flavour (" CALQUOR_PY_FLAVOUR "); use it through the calquor package.";
    m.attr("FLAVOUR") = CALQUOR_PY_FLAVOUR;

    py::class_<Engine>(m, "Engine", R"doc(A formula text and its compiled form (rules of )doc" CALQUOR_PY_FLAVOUR R"doc().

One engine serves one calculation at a time: a second thread, or an adapter
that re-enters the engine it serves, gets RuntimeError. The GIL is released
while the engine calculates, unless a Python adapter, a mapping other than a
plain dict, or a formulas callable or mapping other than a plain dict must
be called.)doc")
        .def(py::init<py::handle>(), py::arg("text") = "",
             "Stores the formula text (str; TypeError otherwise, ValueError for a NUL or more than 1023 bytes "
             "of UTF-8).")
        .def_property("text", &Engine::Text, &Engine::SetText,
                      "The formula text; setting it drops the compiled form.")
        .def("compile", &Engine::Compile,
             "Compiles the text; raises calquor.CompileError with .position (0-based) and .message.")
        .def("calculate", &Engine::Calculate, py::arg("values") = py::none(), py::arg("formulas") = py::none(),
             R"doc(Calculates the formula (compiling it first when needed) and returns its value.

values: None, a mapping of operand values ({"Price": 9.99}; a plain dict is
copied before the calculation, any other mapping is asked per occurrence), or
an adapter object with is_known(name), get_operand_value(name) and
get_formula_by_name(name).
formulas: the texts of named formulas (@name): a mapping or a callable
name -> str or None; default: the adapter object's get_formula_by_name, else
none (an unknown @name is the empty text).
Raises calquor.CalculationError (.code, .message) when the code is not 0; an
exception raised by the adapter, or a value it gave that the engine cannot
take, is its __cause__.)doc");

    py::class_<RowCalculator>(m, "RowCalculator",
                              "The compiled output columns behind calquor.calculate_rows (use that instead).")
        .def(py::init<py::dict, std::vector<std::string>, std::string>(), py::arg("formulas"),
             py::arg("columns"), py::arg("errors") = "raise",
             "Compiles the columns' formulas; CompileError names the failing one.")
        .def_property_readonly("operands", &RowCalculator::Operands,
                               "The operand names the output formulas can ask for.")
        .def("run", &RowCalculator::Run, py::arg("rows"), py::arg("names"), py::arg("data"), py::arg("absent"),
             py::arg("first_row") = 0, py::arg("dates") = std::vector<std::size_t>(),
             "Calculates a chunk of rows given as columns: sequences of values, or float64/int64/bool "
             "arrays (a NaN is Empty; the columns listed in dates hold day serials). Returns the output "
             "columns.");
}
