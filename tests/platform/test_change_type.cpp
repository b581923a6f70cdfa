// VariantChangeType / VariantChangeTypeEx (en-US, flags 0 unless stated).
#include "PlatformSupport.h"

#include <calquor/ansistr.h>
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <string>
#include <utility>

using namespace calquor;
using calquor::test::OleString;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

// A value description; Make() builds the variant it stands for.
struct Val {
    VARTYPE vt = VT_EMPTY;
    std::int64_t i = 0;   // integer kinds, VT_BOOL, VT_ERROR, VT_CY (ten-thousandths)
    double d = 0.0;       // VT_R4, VT_R8, VT_DATE
    const OLECHAR* text = nullptr;  // VT_BSTR
    const char* ansi = nullptr;      // varString (UTF-8)
    DECIMAL dec{};
};

Val Int(VARTYPE vt, std::int64_t v) { Val x; x.vt = vt; x.i = v; return x; }
Val Real(VARTYPE vt, double v) { Val x; x.vt = vt; x.d = v; return x; }
Val Empty() { return Val{}; }
Val Null() { return Int(VT_NULL, 0); }
Val I1(int v) { return Int(VT_I1, v); }
Val I2(int v) { return Int(VT_I2, v); }
Val I4(std::int64_t v) { return Int(VT_I4, v); }
Val INT_(std::int64_t v) { return Int(VT_INT, v); }
Val UI1(int v) { return Int(VT_UI1, v); }
Val UI2(int v) { return Int(VT_UI2, v); }
Val UI4(std::int64_t v) { return Int(VT_UI4, v); }
Val UINT_(std::int64_t v) { return Int(VT_UINT, v); }
Val I8(std::int64_t v) { return Int(VT_I8, v); }
Val UI8(std::uint64_t v) { return Int(VT_UI8, static_cast<std::int64_t>(v)); }
Val Bool(int v) { return Int(VT_BOOL, v); }
Val Err(std::int64_t v) { return Int(VT_ERROR, v); }
Val Cy(std::int64_t tenThousandths) { return Int(VT_CY, tenThousandths); }
Val R4(float v) { return Real(VT_R4, v); }
Val R8(double v) { return Real(VT_R8, v); }
Val Date(double v) { return Real(VT_DATE, v); }
Val Str(const OLECHAR* s) { Val x; x.vt = VT_BSTR; x.text = s; return x; }
Val Ansi(const char* s) { Val x; x.vt = varString; x.ansi = s; return x; }
Val Dec(int scale, int sign, std::uint32_t hi, std::uint64_t lo) {
    Val x;
    x.vt = VT_DECIMAL;
    x.dec.scale = static_cast<BYTE>(scale);
    x.dec.sign = static_cast<BYTE>(sign);
    x.dec.Hi32 = hi;
    x.dec.Lo64 = lo;
    return x;
}
Val Unk() { return Int(VT_UNKNOWN, 0); }
Val Disp() { return Int(VT_DISPATCH, 0); }

VARIANT Make(const Val& v) {
    VARIANT var;
    VariantInit(&var);
    switch (v.vt) {
    case VT_R4: var.fltVal = static_cast<float>(v.d); break;
    case VT_R8: case VT_DATE: var.dblVal = v.d; break;
    case VT_BSTR: var.bstrVal = SysAllocString(v.text); break;
    case varString: SetStrVal(var, AnsiStrAlloc(v.ansi, static_cast<UINT>(std::strlen(v.ansi)))); break;
    case VT_DECIMAL: var.decVal = v.dec; break;
    default: var.llVal = v.i; break;
    }
    var.vt = v.vt;
    return var;
}

OleString TextOf(BSTR b) { return b ? OleString(b, SysStringLen(b)) : OleString(); }

std::string Printable(const OleString& s) {
    std::string out;
    for (OLECHAR c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
    return out;
}

std::string Describe(const Val& v) {
    std::string s = "vt " + std::to_string(v.vt) + " ";
    switch (v.vt) {
    case VT_R4: case VT_R8: case VT_DATE: {
        char buf[40];
        std::snprintf(buf, sizeof buf, "%.17g", v.d);
        return s + buf;
    }
    case VT_BSTR: return s + "\"" + Printable(v.text) + "\"";
    case varString: return s + "\"" + v.ansi + "\"";
    case VT_DECIMAL:
        return s + "dec(scale " + std::to_string(v.dec.scale) + ", sign " + std::to_string(v.dec.sign) + ", hi " +
               std::to_string(v.dec.Hi32) + ", lo " + std::to_string(v.dec.Lo64) + ")";
    default: return s + std::to_string(v.i);
    }
}

std::uint64_t Bits(const VARIANT& v, unsigned bytes) {
    switch (bytes) {
    case 1: return v.bVal;
    case 2: return v.uiVal;
    case 4: return v.ulVal;
    default: return v.ullVal;
    }
}

unsigned BytesOf(VARTYPE vt) {
    switch (vt) {
    case VT_I1: case VT_UI1: return 1;
    case VT_I2: case VT_UI2: case VT_BOOL: return 2;
    case VT_I4: case VT_UI4: case VT_INT: case VT_UINT: case VT_ERROR: return 4;
    default: return 8;
    }
}

// Checks that got holds exactly the value want describes.
void ExpectHolds(const VARIANT& got, const Val& want) {
    ASSERT_EQ(got.vt, want.vt);
    VARIANT w = Make(want);
    switch (want.vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_R4:
        if (std::isnan(w.fltVal))
            EXPECT_TRUE(std::isnan(got.fltVal));
        else
            EXPECT_EQ(got.fltVal, w.fltVal);
        break;
    case VT_R8: case VT_DATE:
        EXPECT_EQ(got.dblVal, w.dblVal);
        EXPECT_EQ(std::signbit(got.dblVal), std::signbit(w.dblVal));
        break;
    case VT_BSTR:
        EXPECT_NE(got.bstrVal, nullptr);
        EXPECT_EQ(Printable(TextOf(got.bstrVal)), Printable(TextOf(w.bstrVal)));
        EXPECT_EQ(TextOf(got.bstrVal), TextOf(w.bstrVal));
        break;
    case varString:
        ASSERT_NE(GetStrVal(got), nullptr);
        EXPECT_EQ(std::string(GetStrVal(got), AnsiStrLen(GetStrVal(got))), want.ansi);
        break;
    case VT_DECIMAL:
        EXPECT_EQ(got.decVal.scale, w.decVal.scale);
        EXPECT_EQ(got.decVal.sign, w.decVal.sign);
        EXPECT_EQ(got.decVal.Hi32, w.decVal.Hi32);
        EXPECT_EQ(got.decVal.Lo64, w.decVal.Lo64);
        break;
    default: EXPECT_EQ(Bits(got, BytesOf(want.vt)), Bits(w, BytesOf(want.vt))); break;
    }
    rtl::VarClear(&w);
}

struct Row {
    Val src;
    VARTYPE target;
    HRESULT hr;
    Val want;  // when hr is S_OK
    // Under Wine only: what its runtime gives where it deviates from Windows
    // (the reason is given at the row), or that the row cannot run there
    // because Wine's runtime crashes on it.
    std::optional<std::pair<HRESULT, Val>> wineDiffers = std::nullopt;
    bool wineCrashes = false;

    Row WineDiffers(Val v) const {
        Row r = *this;
        r.wineDiffers.emplace(S_OK, v);
        return r;
    }
    Row WineDiffers(HRESULT h) const {
        Row r = *this;
        r.wineDiffers.emplace(h, Val{});
        return r;
    }
    Row WineCrashes() const {
        Row r = *this;
        r.wineCrashes = true;
        return r;
    }
};

Row Ok(Val src, Val want) { return {src, want.vt, S_OK, want}; }
Row Fails(Val src, VARTYPE target, HRESULT hr) { return {src, target, hr, Val{}}; }

// The conversion a row checks: the system's VariantChangeTypeEx. The system
// does not know varString, so on Windows rows with that kind go through the
// runtime library's VarCast, which converts it as the same text in a BSTR;
// the stand-in's own service knows the kind.
bool ServiceKnowsTheKinds(const VARIANT* src, VARTYPE vt) {
    return test::kStandIn || (src->vt != varString && vt != varString);
}
HRESULT ChangeTypeEx(VARIANT* dst, const VARIANT* src, LCID lcid, USHORT flags, VARTYPE vt) {
    if (!ServiceKnowsTheKinds(src, vt)) return rtl::VarCast(dst, src, flags, vt);
    return VariantChangeTypeEx(dst, src, lcid, flags, vt);
}
HRESULT ChangeType(VARIANT* dst, const VARIANT* src, USHORT flags, VARTYPE vt) {
    if (!ServiceKnowsTheKinds(src, vt)) return rtl::VarCast(dst, src, flags, vt);
    return VariantChangeType(dst, src, flags, vt);
}

// Runs every row; a failing row keeps the destination as it was.
void RunRows(const Row* rows, std::size_t count, USHORT flags = 0) {
    const bool wine = test::OnWine();
    for (std::size_t n = 0; n < count; ++n) {
        const Row& row = rows[n];
        SCOPED_TRACE("row " + std::to_string(n) + ": " + Describe(row.src) + " -> vt " + std::to_string(row.target));
        if (wine && row.wineCrashes) {
            std::printf("row %zu (%s -> vt %u) not run: Wine's runtime crashes on it\n", n, Describe(row.src).c_str(),
                        unsigned{row.target});
            continue;
        }
        const bool differs = wine && row.wineDiffers;
        const HRESULT hr = differs ? row.wineDiffers->first : row.hr;
        const Val& want = differs ? row.wineDiffers->second : row.want;
        VARIANT src = Make(row.src);
        VARIANT dst = Make(Str(OLESTR("untouched")));
        const BSTR before = dst.bstrVal;
        EXPECT_EQ(ChangeTypeEx(&dst, &src, LOCALE_EN_US, flags, row.target), hr);
        if (hr == S_OK) {
            ExpectHolds(dst, want);
        } else {
            // Only a text may be read as one: a wrong kind is a failure of
            // this row, not a crash that stops the rest of the table.
            EXPECT_EQ(dst.vt, VT_BSTR);
            if (dst.vt == VT_BSTR) {
                EXPECT_EQ(dst.bstrVal, before);
                EXPECT_EQ(TextOf(dst.bstrVal), OLESTR("untouched"));
            }
        }
        rtl::VarClear(&dst);
        rtl::VarClear(&src);
    }
}

const Row kRows[] = {
    // ---- same kind: copy; VT_INT/VT_I4 and VT_UINT/VT_UI4 only retag
    Ok(I4(5), I4(5)),
    Ok(INT_(7), I4(7)),
    Ok(I4(7), INT_(7)),
    Ok(UINT_(9), UI4(9)),
    Ok(Str(OLESTR("abc")), Str(OLESTR("abc"))),
    Ok(Ansi("abc"), Ansi("abc")),
    Ok(Dec(1, 0, 0, 10), Dec(1, 0, 0, 10)),
    Ok(Dec(40, 0, 0, 10), Dec(40, 0, 0, 10)),  // copied, not checked
    Ok(Bool(1), Bool(1)),
    Ok(Err(0x80020004), Err(0x80020004)),
    Ok(Cy(15000), Cy(15000)),
    Ok(Date(38000.5), Date(38000.5)),

    // ---- target Empty / Null from other kinds
    Ok(I4(3), Empty()),
    Ok(R8(2.5), Empty()),
    Ok(Str(OLESTR("x")), Empty()),
    Ok(Dec(40, 0, 0, 1), Empty()),
    Ok(I4(3), Null()),
    Ok(Str(OLESTR("x")), Null()),
    Ok(Ansi("x"), Null()),
    Fails(Err(0), VT_EMPTY, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_NULL, DISP_E_TYPEMISMATCH),
    // An interface converts to Empty and Null (conformance-tested on Windows).
    Ok(Unk(), Empty()),
    Ok(Unk(), Null()),

    // ---- error and object sources convert to nothing else
    Fails(Err(0), VT_I4, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_R8, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_BSTR, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_BOOL, DISP_E_TYPEMISMATCH),
    // Wine refuses a null object as a bad kind (Windows undocumented).
    Fails(Disp(), VT_I4, DISP_E_TYPEMISMATCH).WineDiffers(DISP_E_BADVARTYPE),
    Fails(Disp(), VT_BSTR, DISP_E_TYPEMISMATCH).WineDiffers(DISP_E_BADVARTYPE),
    Fails(Unk(), VT_R8, DISP_E_TYPEMISMATCH),
    // Object interfaces convert into each other; a null one stays null
    // (conformance-tested on Windows).
    Ok(Disp(), Unk()),
    Ok(Unk(), Disp()),
    Ok(Unk(), Unk()),
    Fails(I4(1), VT_ERROR, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_DISPATCH, DISP_E_TYPEMISMATCH),
    Fails(Str(OLESTR("1")), VT_UNKNOWN, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_VARIANT, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_RECORD, DISP_E_TYPEMISMATCH),

    // ---- invalid kinds
    Fails(I4(1), 15, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_VOID, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_HRESULT, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_PTR, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_SAFEARRAY, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_LPSTR, DISP_E_BADVARTYPE),
    // Wine calls a reference or array target a mismatch (Windows undocumented).
    Fails(I4(1), VT_I4 | VT_BYREF, DISP_E_BADVARTYPE).WineDiffers(DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_I4 | VT_ARRAY, DISP_E_BADVARTYPE).WineDiffers(DISP_E_TYPEMISMATCH),
    Fails(I4(1), 0x200, DISP_E_BADVARTYPE),
    Fails(Int(15, 0), VT_I4, DISP_E_BADVARTYPE),
    Fails(Int(VT_VOID, 0), VT_I4, DISP_E_BADVARTYPE),
    // Wine takes a record for a valid kind that converts to nothing (Windows
    // undocumented; the stand-in has no records).
    Fails(Int(VT_RECORD, 0), VT_I4, DISP_E_BADVARTYPE).WineDiffers(DISP_E_TYPEMISMATCH),
    Fails(Null(), VT_VOID, DISP_E_BADVARTYPE),

    // ---- same-size signed/unsigned pairs keep the bits
    Ok(UINT_(0xFFFFFFFF), I4(-1)),
    Ok(I4(-1), UI4(4294967295)),
    Ok(INT_(-1), UINT_(4294967295)),
    Ok(UI4(0x80000000), INT_(INT32_MIN)),
    Ok(UI1(200), I1(-56)),
    Ok(I1(-1), UI1(255)),
    Ok(I2(-1), UI2(65535)),
    Ok(UI2(65535), I2(-1)),
    Ok(I8(-1), UI8(kU64Max)),
    Ok(UI8(kU64Max), I8(-1)),

    // ---- integers to other integer kinds: kept or overflow
    Ok(I4(127), I1(127)),
    Fails(I4(128), VT_I1, DISP_E_OVERFLOW),
    Fails(I4(-129), VT_I1, DISP_E_OVERFLOW),
    Fails(I4(-1), VT_UI2, DISP_E_OVERFLOW),
    Ok(UI4(65535), UI2(65535)),
    Fails(UI4(65536), VT_UI2, DISP_E_OVERFLOW),
    Fails(I8(2147483648), VT_I4, DISP_E_OVERFLOW),
    Ok(I8(-2147483648), INT_(INT32_MIN)),
    Ok(UI8(5), I1(5)),
    Fails(UI8(kU64Max), VT_I4, DISP_E_OVERFLOW),
    Fails(I2(-1), VT_UI4, DISP_E_OVERFLOW),
    Fails(I1(-1), VT_UI8, DISP_E_OVERFLOW),
    Ok(I4(-5), I8(-5)),
    Ok(UINT_(4294967295), I8(4294967295)),
    Ok(UI4(4294967295), UI8(4294967295)),
    Fails(I8(-1), VT_UINT, DISP_E_OVERFLOW),

    // ---- booleans behave as the 16-bit integer -1/0
    Ok(Bool(-1), I4(-1)),
    Ok(Bool(-1), I2(-1)),
    Ok(Bool(-1), I1(-1)),
    Ok(Bool(-1), UI1(255)),
    Ok(Bool(-1), UI2(65535)),
    Ok(Bool(-1), UI4(4294967295)),
    Ok(Bool(-1), I8(-1)),
    Ok(Bool(-1), UI8(kU64Max)),
    Ok(Bool(0), I4(0)),
    Ok(Bool(-1), R8(-1.0)),
    Ok(Bool(-1), R4(-1.0f)),
    Ok(Bool(-1), Date(-1.0)),
    Ok(Bool(0), Date(0.0)),
    Ok(Bool(-1), Cy(-10000)),
    Ok(Bool(-1), Dec(0, 0, 0, 1)),  // +1, not -1
    Ok(Bool(0), Dec(0, 0, 0, 0)),
    Ok(Bool(-1), Str(OLESTR("-1"))),
    Ok(Bool(0), Str(OLESTR("0"))),
    Ok(Bool(1), Str(OLESTR("1"))),

    // ---- numbers to booleans
    Ok(I4(0), Bool(0)),
    Ok(I4(2), Bool(-1)),
    Ok(UI1(1), Bool(-1)),
    Ok(UI8(kU64Max), Bool(-1)),
    Ok(R8(-0.0), Bool(0)),
    Ok(R8(0.5), Bool(-1)),
    Ok(R8(kNaN), Bool(-1)),
    Ok(R4(-0.0f), Bool(0)),
    Ok(Date(0.0), Bool(0)),
    Ok(Cy(1), Bool(-1)),
    Ok(Dec(0, 0x80, 0, 0), Bool(0)),
    Ok(Dec(28, 0, 0, 1), Bool(-1)),

    // ---- reals to integers: half to even
    Ok(R8(0.5), I4(0)),
    Ok(R8(1.5), I4(2)),
    Ok(R8(2.5), I4(2)),
    Ok(R8(3.5), I4(4)),
    Ok(R8(-0.5), I4(0)),
    Ok(R8(-1.5), I4(-2)),
    Ok(R8(-2.5), I4(-2)),
    Ok(R8(0.6), I4(1)),
    Ok(R8(-0.6), I4(-1)),
    Ok(R8(0.49999999999999994), I4(0)),
    Ok(R4(2.5f), I4(2)),
    Ok(R4(3.5f), I2(4)),
    Ok(Date(38000.5), I4(38000)),
    Ok(Date(38001.5), I4(38002)),
    Ok(Cy(25000), I4(2)),
    Ok(Cy(35000), I4(4)),
    Ok(Cy(-25000), I4(-2)),
    Ok(Cy(25001), I4(3)),
    Ok(Cy(-5000), UI1(0)),

    // ---- accepted ranges
    Ok(R8(-2147483648.5), I4(INT32_MIN)),
    Fails(R8(-2147483648.51), VT_I4, DISP_E_OVERFLOW),
    Fails(R8(2147483647.5), VT_I4, DISP_E_OVERFLOW),
    Ok(R8(2147483647.49), INT_(2147483647)),
    Fails(R8(2147483647.5), VT_INT, DISP_E_OVERFLOW),
    Ok(R8(-32768.5), I2(-32768)),
    Fails(R8(32767.5), VT_I2, DISP_E_OVERFLOW),
    Ok(R8(-128.5), I1(-128)),
    Fails(R8(127.5), VT_I1, DISP_E_OVERFLOW),
    Ok(R8(-0.5), UI1(0)),
    Fails(R8(-0.6), VT_UI1, DISP_E_OVERFLOW),
    Ok(R8(254.5), UI1(254)),
    Fails(R8(255.5), VT_UI1, DISP_E_OVERFLOW),
    Ok(R8(65535.0), UI2(65535)),
    Fails(R8(65536.0), VT_UI2, DISP_E_OVERFLOW),
    Ok(R8(4294967295.49), UI4(4294967295)),
    Fails(R8(4294967295.5), VT_UI4, DISP_E_OVERFLOW),
    // Wine's range test excludes the lowest Int64 itself (Windows undocumented).
    Ok(R8(-9223372036854775808.0), I8(INT64_MIN)).WineDiffers(DISP_E_OVERFLOW),
    Fails(R8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW),
    Ok(R8(18446744073709549568.0), UI8(18446744073709549568u)),
    Fails(R8(18446744073709551616.0), VT_UI8, DISP_E_OVERFLOW),
    // Wine's runtime crashes rounding a NaN.
    Fails(R8(kNaN), VT_I4, DISP_E_OVERFLOW).WineCrashes(),
    Fails(R8(kInf), VT_I4, DISP_E_OVERFLOW),
    Fails(R8(-kInf), VT_UI1, DISP_E_OVERFLOW),
    Fails(Cy(42949672955000), VT_UI4, DISP_E_OVERFLOW),

    // ---- integers to reals and dates
    Ok(I1(-5), R8(-5.0)),
    Ok(UI4(4294967295), R8(4294967295.0)),
    Ok(I8(9007199254740993), R8(9007199254740992.0)),
    Ok(UI8(kU64Max), R8(18446744073709551616.0)),
    Ok(I4(16777217), R4(16777216.0f)),
    Ok(I4(38000), Date(38000.0)),
    Ok(I4(-657434), Date(-657434.0)),
    Fails(I4(-657435), VT_DATE, DISP_E_OVERFLOW),
    Ok(INT_(2958465), Date(2958465.0)),
    Fails(I4(2958466), VT_DATE, DISP_E_OVERFLOW),
    Fails(UI4(2958466), VT_DATE, DISP_E_OVERFLOW),
    Ok(I8(-657434), Date(-657434.0)),
    Fails(I8(2958466), VT_DATE, DISP_E_OVERFLOW),
    Fails(UI8(kU64Max), VT_DATE, DISP_E_OVERFLOW),
    Ok(I2(-32768), Date(-32768.0)),
    Ok(UI2(65535), Date(65535.0)),

    // ---- integers to text
    Ok(I4(INT32_MIN), Str(OLESTR("-2147483648"))),
    Ok(I4(-42), Str(OLESTR("-42"))),
    Ok(I4(0), Str(OLESTR("0"))),
    Ok(UI1(255), Str(OLESTR("255"))),
    Ok(I1(-56), Str(OLESTR("-56"))),
    Ok(I2(-32768), Str(OLESTR("-32768"))),
    Ok(INT_(-7), Str(OLESTR("-7"))),
    Ok(UINT_(4294967295), Str(OLESTR("4294967295"))),
    Ok(I8(INT64_MIN), Str(OLESTR("-9223372036854775808"))),
    Ok(UI8(kU64Max), Str(OLESTR("18446744073709551615"))),

    // ---- floats and doubles
    Ok(R4(0.1f), R8(static_cast<double>(0.1f))),
    Ok(R4(654322.23456f), Str(OLESTR("654322.3"))),
    Ok(R4(1e10f), Date(1e10)),  // no range test from a float
    Ok(R8(0.5), R4(0.5f)),
    Fails(R8(1e39), VT_R4, DISP_E_OVERFLOW),
    Fails(R8(-kInf), VT_R4, DISP_E_OVERFLOW),
    Ok(R8(3.14159265358979323846), Str(OLESTR("3.14159265358979"))),
    Ok(R8(1e20), Str(OLESTR("1E+20"))),
    Ok(R8(-0.0), Str(OLESTR("0"))),
    // Wine 8 keeps the exponent form that current Windows replaces by the
    // fixed form (conformance-tested on Windows).
    Ok(R8(5.6789e-11), Str(OLESTR("0.000000000056789"))).WineDiffers(Str(OLESTR("5.6789E-11"))),
    Ok(R8(38000.75), Date(38000.75)),
    Ok(R8(-657434.99), Date(-657434.99)),
    Fails(R8(-657435.0), VT_DATE, DISP_E_OVERFLOW),
    Ok(R8(2958465.99), Date(2958465.99)),
    Fails(R8(2958466.0), VT_DATE, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_DATE, DISP_E_OVERFLOW).WineCrashes(),  // as NaN to an integer
    Ok(Date(38000.5), R8(38000.5)),
    Ok(R8(1.5), Cy(15000)),
    Ok(R8(1.23456), Cy(12346)),
    Ok(R8(0.00015), Cy(1)),  // 0.00015 * 10000 is 1.4999999999999998 in doubles
    // 2.5 ten-thousandths, to even; Wine rounds this half up (Windows undocumented).
    Ok(R8(0.000250000000000000005), Cy(2)).WineDiffers(Cy(3)),
    // The product rounds in doubles; Wine's is exact (Windows undocumented).
    Ok(R8(-922337203685477.5), Cy(-9223372036854774784)).WineDiffers(Cy(-9223372036854775000)),
    Fails(R8(922337203685477.6), VT_CY, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_CY, DISP_E_OVERFLOW),
    Ok(Date(38000.25), Cy(380002500)),

    // ---- currency
    Ok(Cy(15000), R8(1.5)),
    Ok(Cy(INT64_MAX), R8(922337203685477.5807)),
    Ok(Cy(0), Str(OLESTR("0"))),
    Ok(Cy(15000), Str(OLESTR("1.5"))),
    Ok(Cy(-15000), Str(OLESTR("-1.5"))),
    Ok(Cy(9), Str(OLESTR("0.0009"))),
    Ok(Cy(INT64_MAX), Str(OLESTR("922337203685477.5807"))),
    Ok(Cy(INT64_MIN), Str(OLESTR("-922337203685477.5808"))),
    Ok(Cy(380005000), Date(38000.5)),
    Ok(Cy(1000000000000000), Date(1e11)),  // no range test
    Ok(Cy(10000), Dec(4, 0, 0, 10000)),
    Ok(Cy(-10000), Dec(4, 0x80, 0, 10000)),
    Ok(Cy(5000), Dec(4, 0, 0, 5000)),
    Ok(I4(-2), Cy(-20000)),
    // From a 64-bit integer the range ends one unit inside the currency range
    // (conformance-tested on Windows).
    Ok(I8(922337203685476), Cy(9223372036854760000)),
    Fails(I8(922337203685477), VT_CY, DISP_E_OVERFLOW),
    Ok(I8(-922337203685476), Cy(-9223372036854760000)),
    Fails(I8(-922337203685477), VT_CY, DISP_E_OVERFLOW),
    Fails(UI8(kU64Max), VT_CY, DISP_E_OVERFLOW),

    // ---- decimal
    Ok(Dec(1, 0, 0, 15), R8(1.5)),
    Ok(Dec(1, 0x80, 0, 15), R8(-1.5)),
    Ok(Dec(0, 0, 0xFFFFFFFF, kU64Max), R8(79228162514264337593543950335.0)),
    // Wine's quotient is one bit off the nearest double (Windows undocumented).
    Ok(Dec(28, 0, 0, 1), R8(1e-28)).WineDiffers(R8(0x1.fb0f6be50601ap-94)),
    Ok(Dec(0, 0, 0, 5), I4(5)),
    Ok(Dec(0, 0x80, 0, 2147483648), I4(INT32_MIN)),
    Fails(Dec(0, 0, 0, 2147483648), VT_I4, DISP_E_OVERFLOW),
    Fails(Dec(0, 0, 1, 0), VT_UI8, DISP_E_OVERFLOW),
    Ok(Dec(0, 0, 0, kU64Max), UI8(kU64Max)),
    Ok(Dec(1, 0, 0, 25), I4(2)),
    Ok(Dec(1, 0, 0, 35), I4(4)),
    Ok(Dec(1, 0x80, 0, 25), I2(-2)),
    Ok(Dec(3, 0, 0, 1000), Str(OLESTR("1"))),
    Ok(Dec(1, 0x80, 0, 15), Str(OLESTR("-1.5"))),
    Ok(Dec(7, 0, 0, 9000), Str(OLESTR("0.0009"))),
    Ok(Dec(0, 0, 0xFFFFFFFF, kU64Max), Str(OLESTR("79228162514264337593543950335"))),
    Ok(Dec(28, 0, 0, 1), Str(OLESTR("0.0000000000000000000000000001"))),
    Ok(Dec(28, 0x80, 0xFFFFFFFF, kU64Max), Str(OLESTR("-7.9228162514264337593543950335"))),
    Ok(Dec(2, 0x80, 0, 0), Str(OLESTR("0"))),
    Ok(Dec(1, 0, 0, 380005), Date(38000.5)),
    Ok(Dec(5, 0, 0, 123456), Cy(12346)),
    Ok(Dec(5, 0, 0, 123455), Cy(12346)),  // 12345.5 to even
    // 12346.5 to even; Wine rounds it up (Windows undocumented).
    Ok(Dec(5, 0, 0, 123465), Cy(12346)).WineDiffers(Cy(12347)),
    // Wine refuses the last fraction of the range (Windows undocumented;
    // conformance tests show 922337203685477 itself converting).
    Ok(Dec(4, 0, 0, 9223372036854775807), Cy(INT64_MAX)).WineDiffers(DISP_E_OVERFLOW),
    Fails(Dec(4, 0, 0, 9223372036854775808u), VT_CY, DISP_E_OVERFLOW),
    Ok(Dec(4, 0x80, 0, 9223372036854775808u), Cy(INT64_MIN)).WineDiffers(DISP_E_OVERFLOW),
    Ok(Dec(0, 0, 0, 7), R4(7.0f)),
    Fails(Dec(29, 0, 0, 1), VT_I4, E_INVALIDARG),
    Fails(Dec(0, 1, 0, 1), VT_R8, E_INVALIDARG),
    // Windows refuses an invalid decimal for every target; Wine formats it.
    Fails(Dec(29, 0, 0, 1), VT_BSTR, E_INVALIDARG).WineDiffers(Str(OLESTR("0.00000000000000000000000000001"))),
    Fails(Dec(0, 0x81, 0, 1), VT_BOOL, E_INVALIDARG),
    Fails(Dec(30, 0, 0, 1), VT_CY, E_INVALIDARG),
    Fails(Dec(30, 0, 0, 1), VT_DATE, E_INVALIDARG),
    Ok(I4(-5), Dec(0, 0x80, 0, 5)),
    Ok(UI8(kU64Max), Dec(0, 0, 0, kU64Max)),
    Ok(I8(INT64_MIN), Dec(0, 0x80, 0, 9223372036854775808u)),
    Ok(R8(0.1), Dec(1, 0, 0, 1)),  // the printed digits, not the binary value
    Ok(R8(1.0), Dec(0, 0, 0, 1)),
    Ok(R8(-2.5), Dec(1, 0x80, 0, 25)),
    // Wine keeps 16 digits (Windows undocumented).
    Ok(R8(1.0 / 3.0), Dec(15, 0, 0, 333333333333333)).WineDiffers(Dec(16, 0, 0, 3333333333333333)),
    Ok(R8(1e20), Dec(0, 0, 5, 7766279631452241920)),
    Ok(R8(-0.0), Dec(0, 0, 0, 0)),
    Fails(R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_DECIMAL, DISP_E_OVERFLOW).WineDiffers(DISP_E_BADVARTYPE),  // Windows undocumented
    Ok(R4(0.1f), Dec(1, 0, 0, 1)),
    Ok(Date(38000.5), Dec(1, 0, 0, 380005)),

    // ---- text to numbers (the grammar itself is tested with the Var*FromStr functions)
    Ok(Str(OLESTR("12.5")), R8(12.5)),
    Ok(Str(OLESTR("(1,234.5)")), R8(-1234.5)),
    Fails(Str(OLESTR("abc")), VT_R8, DISP_E_TYPEMISMATCH),
    Ok(Str(OLESTR("0.1")), R4(0.1f)),
    Fails(Str(OLESTR("1e39")), VT_R4, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("2.5000000000000001")), I4(3)),
    Ok(Str(OLESTR("&HFFFFFFFF")), INT_(-1)),
    Ok(Str(OLESTR("32767")), I2(32767)),
    Fails(Str(OLESTR("32768")), VT_I2, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("&HFFFF")), I2(-1)),
    Fails(Str(OLESTR("&H10000")), VT_I2, DISP_E_OVERFLOW),
    Fails(Str(OLESTR("65536")), VT_UI2, DISP_E_OVERFLOW),
    Fails(Str(OLESTR("-1")), VT_UI2, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("-0.5")), UI2(0)),
    Ok(Str(OLESTR("&HFFFF")), UI2(65535)),
    Fails(Str(OLESTR("-1")), VT_UI1, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("254.5")), UI1(254)),
    Fails(Str(OLESTR("255.5")), VT_UI1, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("&HFF")), I1(-1)),
    Ok(Str(OLESTR("-128.5")), I1(-128)),
    Ok(Str(OLESTR("4294967295")), UINT_(4294967295)),
    Ok(Str(OLESTR("9223372036854775807")), I8(INT64_MAX)),
    Fails(Str(OLESTR("9223372036854775808")), VT_I8, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("-9223372036854775808")), I8(INT64_MIN)),
    Ok(Str(OLESTR("18446744073709551615")), UI8(kU64Max)),
    Fails(Str(OLESTR("18446744073709551616")), VT_UI8, DISP_E_OVERFLOW),
    // Wine reads 64-bit hexadecimal as a signed value (Windows undocumented).
    Ok(Str(OLESTR("&HFFFFFFFFFFFFFFFF")), I8(-1)).WineDiffers(DISP_E_OVERFLOW),
    Ok(Str(OLESTR("1.23456")), Cy(12346)),
    Ok(Str(OLESTR("1.23455")), Cy(12346)),
    // Halves to even on the digits; Wine rounds through a double
    // (Windows undocumented), which also loses the ends of the range.
    Ok(Str(OLESTR("1.23445")), Cy(12344)).WineDiffers(Cy(12345)),
    Ok(Str(OLESTR("$1,234.50")), Cy(12345000)),
    Ok(Str(OLESTR("922337203685477.5807")), Cy(INT64_MAX)).WineDiffers(DISP_E_OVERFLOW),
    Fails(Str(OLESTR("922337203685477.5808")), VT_CY, DISP_E_OVERFLOW),
    Ok(Str(OLESTR("-922337203685477.5808")), Cy(INT64_MIN)).WineDiffers(DISP_E_OVERFLOW),
    Ok(Str(OLESTR("1.5")), Dec(1, 0, 0, 15)),
    Ok(Str(OLESTR("-1.50")), Dec(1, 0x80, 0, 15)),
    Ok(Str(OLESTR("1e3")), Dec(0, 0, 0, 1000)),
    Ok(Str(OLESTR("79228162514264337593543950335")), Dec(0, 0, 0xFFFFFFFF, kU64Max)),
    Fails(Str(OLESTR("79228162514264337593543950336")), VT_DECIMAL, DISP_E_OVERFLOW),
    // Wine gives these the scale 29, which no valid DECIMAL has (0..28).
    Ok(Str(OLESTR("0.00000000000000000000000000005")), Dec(0, 0, 0, 0)).WineDiffers(Dec(29, 0, 0, 5)),
    Ok(Str(OLESTR("0.00000000000000000000000000015")), Dec(28, 0, 0, 2)).WineDiffers(Dec(29, 0, 0, 15)),
    // Rounded to the 28 digits that fit; Wine refuses more digits (Windows
    // undocumented).
    Ok(Str(OLESTR("1.23456789012345678901234567891")), Dec(28, 0, 0x27E41B32, 0x46BEC9B16E398115))
        .WineDiffers(DISP_E_OVERFLOW),
    Ok(Str(OLESTR("9.9999999999999999999999999999")), Dec(0, 0, 0, 10)).WineDiffers(DISP_E_OVERFLOW),
    Ok(Str(OLESTR("True")), Bool(-1)),
    Ok(Str(OLESTR("0.1")), Bool(-1)),
    Fails(Str(OLESTR("Yes")), VT_BOOL, DISP_E_TYPEMISMATCH),

    // ---- the 8-bit text kind converts like a BSTR, both ways
    Ok(Ansi("12.5"), R8(12.5)),
    Ok(Ansi("\xC2\xA0" "7 "), I4(7)),
    Fails(Ansi("abc"), VT_I4, DISP_E_TYPEMISMATCH),
    Ok(Ansi("h\xC3\xA9llo"), Str(OLESTR("h\u00E9llo"))),
    Ok(Ansi(""), Str(OLESTR(""))),
    Ok(Ansi("true"), Bool(-1)),
    Ok(Str(OLESTR("h\u00E9llo")), Ansi("h\xC3\xA9llo")),
    Ok(R8(12.5), Ansi("12.5")),
    Ok(Bool(-1), Ansi("-1")),
    Ok(Cy(-15000), Ansi("-1.5")),
    Ok(I4(-42), Ansi("-42")),
    Fails(Null(), varString, DISP_E_TYPEMISMATCH),
    Fails(Err(0), varString, DISP_E_TYPEMISMATCH),
};

TEST(ChangeType, ConversionTable) { RunRows(kRows, std::size(kRows)); }

// Null converts only to Null; Empty gives each kind's zero (and an allocated
// empty text), but no object, error or variant.
TEST(ChangeType, NullAndEmptyForEveryTarget) {
    const Val emptyGives[] = {
        Empty(), Null(), I1(0), I2(0), I4(0), INT_(0), UI1(0), UI2(0), UI4(0), UINT_(0), I8(0), UI8(0),
        R4(0.0f), R8(0.0), Cy(0), Dec(0, 0, 0, 0), Date(0.0), Str(OLESTR("")), Bool(0), Ansi(""),
    };
    for (const Val& want : emptyGives) {
        const Row fromEmpty[] = {Ok(Empty(), want)};
        RunRows(fromEmpty, 1);
        const Row fromNull[] = {want.vt == VT_NULL ? Ok(Null(), Null()) : Fails(Null(), want.vt, DISP_E_TYPEMISMATCH)};
        RunRows(fromNull, 1);
    }
    for (VARTYPE vt : {VT_DISPATCH, VT_UNKNOWN, VT_ERROR, VT_VARIANT, VT_RECORD}) {
        const Row rows[] = {Fails(Empty(), vt, DISP_E_TYPEMISMATCH), Fails(Null(), vt, DISP_E_TYPEMISMATCH)};
        RunRows(rows, 2);
    }
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_NE(dst.bstrVal, nullptr);  // allocated, not a null BSTR
    EXPECT_EQ(SysStringLen(dst.bstrVal), 0u);
    VariantClear(&dst);
}

TEST(ChangeType, BooleanWords) {
    const Row words[] = {
        Ok(Bool(-1), Str(OLESTR("True"))),
        Ok(Bool(0), Str(OLESTR("False"))),
        Ok(Bool(1), Str(OLESTR("True"))),
        Ok(Bool(-1), Ansi("True")),
        Ok(Bool(-1), I4(-1)),  // the flag only concerns text
    };
    RunRows(words, std::size(words), VARIANT_ALPHABOOL);
    const Row local[] = {Ok(Bool(0), Str(OLESTR("False")))};
    RunRows(local, 1, VARIANT_LOCALBOOL);
}

TEST(ChangeType, ConvertsInPlace) {
    VARIANT v = Make(Str(OLESTR("42")));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(v.bstrVal), OLESTR("42"));
    ASSERT_EQ(ChangeType(&v, &v, 0, varString), S_OK);
    ASSERT_EQ(v.vt, varString);
    EXPECT_STREQ(GetStrVal(v), "42");
    ASSERT_EQ(ChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(v.bstrVal), OLESTR("42"));
    VariantClear(&v);

    // A failure in place leaves the variant as it was.
    v = Make(Str(OLESTR("abc")));
    const BSTR before = v.bstrVal;
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, before);
    EXPECT_EQ(TextOf(v.bstrVal), OLESTR("abc"));
    VariantClear(&v);

    v = Make(Dec(1, 0, 0, 25));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_DECIMAL), S_OK);
    ExpectHolds(v, Dec(1, 0, 0, 25));
}

// The whole BSTR is the text: a character after an embedded NUL is left over.
TEST(ChangeType, TextWithEmbeddedNul) {
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(OLESTR("12\0") "1", 4);
    // Wine reads the text up to the NUL (Windows undocumented).
    const test::Expect<HRESULT> refused{DISP_E_TYPEMISMATCH, S_OK};
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), refused.Get());
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), refused.Get());
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 4u);
    VariantClear(&dst);
    VariantClear(&src);
    // Dates too: a date text with something after a NUL is no date.
    src.vt = VT_BSTR;
    src.bstrVal = SysAllocStringLen(OLESTR("1/14/2004\0") "zz", 12);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DATE), refused.Get());
    VariantClear(&dst);
    VariantClear(&src);
}

TEST(ChangeType, ByReferenceSources) {
    LONG l = 42;
    VARIANT ref;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &l;
    VARIANT dst;
    VariantInit(&dst);
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(dst.bstrVal), OLESTR("42"));
    // Same kind as the referenced value: the value itself, not the reference.
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 42);

    BSTR text = SysAllocString(OLESTR("2.5"));
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &text;
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.dblVal, 2.5);
    EXPECT_EQ(TextOf(text), OLESTR("2.5"));  // the referenced text is not consumed

    VARIANT inner = Make(Str(OLESTR("3.5")));
    ref.vt = VT_VARIANT | VT_BYREF;
    ref.pvarVal = &inner;
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.lVal, 4);

    DECIMAL dec{};
    dec.scale = 1;
    dec.Lo64 = 15;
    ref.vt = VT_DECIMAL | VT_BYREF;
    ref.pdecVal = &dec;
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(dst.bstrVal), OLESTR("1.5"));

    // Converting a reference in place replaces the reference by the value.
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &l;
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(ref.vt, VT_R8);
    EXPECT_EQ(ref.dblVal, 42.0);
    EXPECT_EQ(l, 42);

    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = nullptr;
    // Wine calls a null reference a mismatch (Windows undocumented).
    const test::Expect<HRESULT> nullReference{E_INVALIDARG, DISP_E_TYPEMISMATCH};
    EXPECT_EQ(VariantChangeType(&dst, &ref, 0, VT_R8), nullReference.Get());
    EXPECT_EQ(dst.vt, VT_BSTR);

    VariantClear(&dst);
    VariantClear(&inner);
    SysFreeString(text);
}

TEST(ChangeType, RefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    VARIANT v = Make(I4(1));
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_R8), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&v, static_cast<const VARIANT*>(nullptr), 0, VT_R8), E_INVALIDARG);
}

TEST(ChangeType, ExTakesTheLocale) {
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    const VARIANT v = Make(R8(2.5));
    EXPECT_EQ(VariantChangeType(&a, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(VariantChangeTypeEx(&b, &v, 0x0407, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(a.bstrVal), OLESTR("2.5"));
    // The stand-in has the one locale en-US; the system writes German text
    // with a decimal comma.
    EXPECT_EQ(TextOf(b.bstrVal), test::kStandIn ? OLESTR("2.5") : OLESTR("2,5"));
    VariantClear(&a);
    VariantClear(&b);
}

// An object kept by an interface variant: same-kind copies take a reference.
// It answers only for IUnknown.
struct CountingUnknown final : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        *ppv = nullptr;
        if (!IsEqualIID(iid, IID_IUnknown)) return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

TEST(ChangeType, InterfaceValues) {
    CountingUnknown object;
    VARIANT src, dst;
    VariantInit(&src);
    VariantInit(&dst);
    src.vt = VT_UNKNOWN;
    src.punkVal = &object;
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(dst.punkVal, &object);
    EXPECT_EQ(object.refs, 2u);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(object.refs, 2u);  // the failed attempt kept the destination
    VariantClear(&dst);
    EXPECT_EQ(object.refs, 1u);

    // Between the two interface kinds the object is asked for the other
    // interface; one it does not have is refused with its answer.
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_DISPATCH), E_NOINTERFACE);
    EXPECT_EQ(dst.vt, VT_EMPTY);
    EXPECT_EQ(object.refs, 1u);
    src.vt = VT_DISPATCH;  // only its IUnknown part is used
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_UNKNOWN), S_OK);
    EXPECT_EQ(dst.vt, VT_UNKNOWN);
    EXPECT_EQ(dst.punkVal, &object);
    EXPECT_EQ(object.refs, 2u);
    VariantClear(&dst);
    EXPECT_EQ(object.refs, 1u);
}

// Dates go through VarDateFromStr and VarBstrFromDate (the date text
// service). These rows are skipped while that service is not available.
TEST(ChangeType, DateText) {
    DATE probe = 0;
    if (VarDateFromStr(OLESTR("1/14/2004"), LOCALE_EN_US, 0, &probe) == E_NOTIMPL)
        GTEST_SKIP() << "date text service not available";
    const Row rows[] = {
        Ok(Str(OLESTR("1/14/2004")), Date(38000.0)),
        Ok(Str(OLESTR("1/14/2004 6:00 PM")), Date(38000.75)),
        Fails(Str(OLESTR("38000")), VT_DATE, DISP_E_TYPEMISMATCH),
        Fails(Str(OLESTR("")), VT_DATE, DISP_E_TYPEMISMATCH),
        Fails(Str(OLESTR("True")), VT_DATE, DISP_E_TYPEMISMATCH),
        Ok(Ansi("1/14/2004"), Date(38000.0)),
        Ok(Date(38000.0), Str(OLESTR("1/14/2004"))),
        Ok(Date(38000.75), Str(OLESTR("1/14/2004 6:00:00 PM"))),
        Ok(Date(0.0), Str(OLESTR("12:00:00 AM"))),
        Ok(Date(38000.0), Ansi("1/14/2004")),
        Fails(Date(2958466.0), VT_BSTR, E_INVALIDARG),
        Fails(Date(-657435.0), VT_BSTR, E_INVALIDARG),
    };
    RunRows(rows, std::size(rows));
}

}  // namespace
