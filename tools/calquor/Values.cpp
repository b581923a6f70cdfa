#include "Values.h"

#include "Text.h"

#include <calquor/date_calendar.h>
#include <calquor/text_rules.h>

#include <charconv>
#include <cstdio>
#include <limits>

namespace calquor::tool {
namespace {

constexpr bool IsDigit(char c) { return c >= '0' && c <= '9'; }

_variant_t MakeText(std::string_view text) { return _variant_t(std::string(text).c_str()); }

_variant_t MakeNull() {
    _variant_t value;
    value.vt = VT_NULL;
    return value;
}

// The significant digits of a decimal text (no sign, point, exponent,
// leading or trailing zeros): "0012.500" gives "125".
std::string SignificantDigits(std::string_view text) {
    std::string digits;
    for (const char c : text) {
        if (c == 'e' || c == 'E') break;
        if (IsDigit(c) && !(digits.empty() && c == '0')) digits += c;
    }
    while (!digits.empty() && digits.back() == '0') digits.pop_back();
    return digits;
}

// A decimal number in the form [+-](digits[.digits]|.digits)[(e|E)[+-]digits]
// and nothing else; inf, nan, hex and thousands separators are text. Unless
// declared, a number is refused when it has an exponent, a leading zero in
// a whole number, or digits the double does not give back (see TypeText).
std::optional<_variant_t> ParseNumber(std::string_view text, bool declared) {
    std::string_view body = text;
    const bool negative = !body.empty() && body[0] == '-';
    if (!body.empty() && (body[0] == '-' || body[0] == '+')) body.remove_prefix(1);

    std::size_t i = 0, intDigits = 0, fracDigits = 0;
    bool point = false, exponent = false;
    while (i < body.size() && IsDigit(body[i])) ++i, ++intDigits;
    if (i < body.size() && body[i] == '.') {
        point = true;
        ++i;
        while (i < body.size() && IsDigit(body[i])) ++i, ++fracDigits;
    }
    if (intDigits + fracDigits == 0) return std::nullopt;
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        if (!declared) return std::nullopt;
        exponent = true;
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        std::size_t expDigits = 0;
        while (i < body.size() && IsDigit(body[i])) ++i, ++expDigits;
        if (expDigits == 0) return std::nullopt;
    }
    if (i != body.size()) return std::nullopt;

    const char* first = body.data();
    const char* last = body.data() + body.size();
    if (!point && !exponent) {
        if (!declared && intDigits > 1 && body[0] == '0') return std::nullopt;
        long long whole = 0;
        const auto [end, ec] = std::from_chars(first, last, whole);
        if (ec == std::errc() && end == last) {
            if (negative) whole = -whole;
            if (whole >= std::numeric_limits<int>::min() && whole <= std::numeric_limits<int>::max())
                return _variant_t(static_cast<int>(whole));
        }
    }
    double real = 0.0;
    const auto [end, ec] = std::from_chars(first, last, real);
    if (ec != std::errc() || end != last) return std::nullopt;  // beyond the double range
    // Up to 15 significant digits always come back from a double.
    if (!declared && intDigits + fracDigits > 15) {
        char shortest[32];
        const auto written = std::to_chars(shortest, shortest + sizeof shortest, real, std::chars_format::scientific);
        if (SignificantDigits(std::string_view(shortest, static_cast<std::size_t>(written.ptr - shortest))) !=
            SignificantDigits(body))
            return std::nullopt;
    }
    return _variant_t(negative ? -real : real);
}

// "YYYY-MM-DD", optionally with " HH:MM[:SS]" or "THH:MM[:SS]". The fields are
// checked here because the runtime's converter would roll 2004-02-30 over
// into March instead of refusing it.
std::optional<_variant_t> ParseIsoDate(std::string_view text) {
    const std::size_t size = text.size();
    if (size != 10 && size != 16 && size != 19) return std::nullopt;
    auto field = [&](std::size_t at, std::size_t count, int& out) {
        out = 0;
        for (std::size_t i = at; i < at + count; ++i) {
            if (!IsDigit(text[i])) return false;
            out = out * 10 + (text[i] - '0');
        }
        return true;
    };
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
    if (!field(0, 4, year) || text[4] != '-' || !field(5, 2, month) || text[7] != '-' || !field(8, 2, day))
        return std::nullopt;
    if (size > 10) {
        if ((text[10] != ' ' && text[10] != 'T') || !field(11, 2, hour) || text[13] != ':' ||
            !field(14, 2, minute))
            return std::nullopt;
        if (size == 19 && (text[16] != ':' || !field(17, 2, second))) return std::nullopt;
    }
    // Years below 100 would be read as two-digit years by the runtime.
    if (year < 100 || month < 1 || month > 12 || day < 1 || day > date_calendar::DaysInMonth(year, month) ||
        hour > 23 || minute > 59 || second > 59)
        return std::nullopt;
    SYSTEMTIME fields{};
    fields.wYear = static_cast<WORD>(year);
    fields.wMonth = static_cast<WORD>(month);
    fields.wDay = static_cast<WORD>(day);
    fields.wHour = static_cast<WORD>(hour);
    fields.wMinute = static_cast<WORD>(minute);
    fields.wSecond = static_cast<WORD>(second);
    DOUBLE serial = 0.0;
    if (!SystemTimeToVariantTime(&fields, &serial)) return std::nullopt;
    return _variant_t(serial, VT_DATE);
}

std::optional<_variant_t> ParseBool(std::string_view text, bool allowDigits) {
    if (EqualsNoCase(text, "true") || (allowDigits && text == "1")) return _variant_t(true);
    if (EqualsNoCase(text, "false") || (allowDigits && text == "0")) return _variant_t(false);
    return std::nullopt;
}

// Any date text the runtime reads ("1/14/2004", "January 14, 2004"...). Text
// that starts as an ISO date ("YYYY-") is read only as one: the runtime would
// take the year 0099 as 1999.
std::optional<_variant_t> ParseAnyDate(std::string_view text) {
    if (auto iso = ParseIsoDate(text)) return iso;
    if (text.empty() || (text.size() > 4 && text[4] == '-' && IsDigit(text[0]) && IsDigit(text[1]) &&
                         IsDigit(text[2]) && IsDigit(text[3])))
        return std::nullopt;
    const _bstr_t wide(std::string(text).c_str());
    DATE serial = 0.0;
    if (FAILED(VarDateFromStr(wide, LOCALE_EN_US, 0, &serial))) return std::nullopt;
    return _variant_t(serial, VT_DATE);
}

std::string Utf8Of(BSTR text) {
    const int units = static_cast<int>(SysStringLen(text));
    if (units == 0) return {};
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, units, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, units, out.data(), bytes, nullptr, nullptr);
    return out;
}

// The runtime's own text of a value (numbers, dates); nullopt when it has
// none, as for a date outside the years 100 to 9999.
std::optional<std::string> RuntimeText(const _variant_t& value) {
    if (value.vt == VT_BSTR) return Utf8Of(value.bstrVal);
    _variant_t text;
    if (FAILED(VariantChangeType(&text, &value, 0, VT_BSTR))) return std::nullopt;
    return Utf8Of(text.bstrVal);
}

std::string Quote(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
                out += escaped;
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

}  // namespace

std::string NumberText(double number) {
    char buffer[400];
    const double size = number < 0 ? -number : number;
    const auto format = size == 0 || (size >= 1e-7 && size < 1e21) ? std::chars_format::fixed
                                                                     : std::chars_format::general;
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, number, format);
    return ec == std::errc() ? std::string(buffer, end) : "?";
}

namespace {

struct KindRow {
    Kind kind;
    std::string_view name;
};
constexpr KindRow kKinds[] = {
    {Kind::Text, "text"}, {Kind::Number, "number"}, {Kind::Date, "date"}, {Kind::Bool, "bool"}, {Kind::Null, "null"},
};
static_assert(std::size(kKinds) == static_cast<std::size_t>(Kind::Null) + 1, "one row per kind");

}  // namespace

std::optional<Kind> KindNamed(std::string_view name) {
    for (const KindRow& row : kKinds)
        if (row.name == name) return row.kind;
    return std::nullopt;
}

std::string KindNames() {
    std::string names;
    for (const KindRow& row : kKinds) names += (names.empty() ? "" : ", ") + std::string(row.name);
    return names;
}

std::optional<_variant_t> TypeAs(Kind kind, std::string_view text) {
    const std::string_view core = TrimBlanks(text);
    switch (kind) {
    case Kind::Text: return MakeText(text);
    case Kind::Number: return ParseNumber(core, true);
    case Kind::Date: return ParseAnyDate(core);
    case Kind::Bool: return ParseBool(core, true);
    case Kind::Null: return MakeNull();
    }
    return std::nullopt;
}

_variant_t TypeText(std::string_view text) {
    const std::string_view core = TrimBlanks(text);
    if (core.empty()) return _variant_t();
    if (auto number = ParseNumber(core, false)) return std::move(*number);
    if (auto date = ParseIsoDate(core)) return std::move(*date);
    if (auto flag = ParseBool(core, false)) return std::move(*flag);
    return MakeText(text);
}

std::optional<Setting> ParseSetting(std::string_view argument, std::string& error) {
    const std::size_t equals = argument.find('=');
    if (equals == std::string_view::npos) {
        error = "expected NAME=VALUE (or NAME:KIND=VALUE), got '" + std::string(argument) + "'";
        return std::nullopt;
    }
    std::string_view name = argument.substr(0, equals);
    const std::string_view text = argument.substr(equals + 1);
    std::string_view kind;
    if (const std::size_t colon = name.find(':'); colon != std::string_view::npos) {
        kind = name.substr(colon + 1);
        name = name.substr(0, colon);
    }
    if (!IsOperandName(name)) {
        error = Quoted(name) + " is not an operand name (ASCII letters and digits only)";
        return std::nullopt;
    }
    if (const auto bad = FindBadByte(text)) {
        error = "value of " + std::string(name) + ": " + DescribeBadByte(text, *bad);
        return std::nullopt;
    }

    std::optional<_variant_t> value;
    if (kind.empty()) {
        value = TypeText(text);
    } else if (const auto declared = KindNamed(kind)) {
        value = TypeAs(*declared, text);
    } else {
        error = "unknown kind '" + std::string(kind) + "' (use " + KindNames() + ")";
        return std::nullopt;
    }
    if (!value) {
        error = Quoted(text) + " is not a " + std::string(kind) + " (for " + std::string(name) + ")";
        return std::nullopt;
    }
    return Setting{std::string(name), std::move(*value)};
}

std::string KindName(const _variant_t& value) {
    switch (value.vt) {
    case VT_EMPTY: return "empty";
    case VT_NULL: return "null";
    case VT_I1: case VT_UI1: case VT_I2: case VT_UI2: case VT_I4: case VT_UI4:
    case VT_INT: case VT_UINT: case VT_I8: case VT_UI8:
        return "integer";
    case VT_R8: return "double";
    case VT_R4: return "single";
    case VT_CY: return "currency";
    case VT_DECIMAL: return "decimal";
    case VT_DATE: return "date";
    case VT_BSTR: case varString: return "text";
    case VT_BOOL: return "boolean";
    default: return "kind " + std::to_string(value.vt);
    }
}

std::string Describe(const _variant_t& value) {
    switch (value.vt) {
    case VT_EMPTY: return "(empty)";
    case VT_NULL: return "(null)";
    case VT_BOOL: return value.boolVal ? "true (boolean)" : "false (boolean)";
    default: break;
    }
    const std::string kind = " (" + KindName(value) + ")";
    const auto text = RuntimeText(value);
    if (value.vt == VT_BSTR || value.vt == varString) return Quote(text.value_or("")) + kind;
    if (text) return *text + kind;
    // A date the runtime cannot write (outside the years 100 to 9999).
    if (value.vt == VT_DATE) return NumberText(value.date) + kind;
    return "?" + kind;
}

std::string CellText(const _variant_t& value, CellKind* kind) {
    CellKind written = CellKind::Text;
    std::string text;
    switch (value.vt) {
    case VT_EMPTY: case VT_NULL: written = CellKind::Null; break;
    case VT_BOOL:
        written = CellKind::Bool;
        text = value.boolVal ? "true" : "false";
        break;
    case VT_DATE: {
        SYSTEMTIME fields{};
        if (!VariantTimeToSystemTime(value.date, &fields)) {
            text = NumberText(value.date);
            break;
        }
        char buffer[48];
        if (fields.wHour == 0 && fields.wMinute == 0 && fields.wSecond == 0)
            std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u", fields.wYear, fields.wMonth, fields.wDay);
        else
            std::snprintf(buffer, sizeof buffer, "%04u-%02u-%02u %02u:%02u:%02u", fields.wYear, fields.wMonth,
                          fields.wDay, fields.wHour, fields.wMinute, fields.wSecond);
        text = buffer;
        break;
    }
    case VT_R8:
        written = CellKind::Number;
        text = NumberText(value.dblVal);
        break;
    case VT_INT:
        written = CellKind::Number;
        text = std::to_string(value.intVal);
        break;
    case VT_I4:
        written = CellKind::Number;
        text = std::to_string(value.lVal);
        break;
    case VT_BSTR: case varString: text = RuntimeText(value).value_or(std::string()); break;
    default:
        written = CellKind::Number;
        text = RuntimeText(value).value_or(std::string());
        break;
    }
    // Infinities and NaN are no JSON numbers.
    if (written == CellKind::Number && (text.empty() || !(IsDigit(text.back()) || text.back() == '.')))
        written = CellKind::Text;
    if (kind != nullptr) *kind = written;
    return text;
}

}  // namespace calquor::tool
