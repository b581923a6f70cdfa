// VariantChangeType / VariantChangeTypeEx (en-US, flags 0 unless stated).
#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <string>

using namespace calquor;

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr std::uint64_t kU64Max = std::numeric_limits<std::uint64_t>::max();

// A value description; Make() builds the variant it stands for.
struct Val {
    VARTYPE vt = VT_EMPTY;
    std::int64_t i = 0;   // integer kinds, VT_BOOL, VT_ERROR, VT_CY (ten-thousandths)
    double d = 0.0;       // VT_R4, VT_R8, VT_DATE
    const char16_t* text = nullptr;  // VT_BSTR
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
Val Str(const char16_t* s) { Val x; x.vt = VT_BSTR; x.text = s; return x; }
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
    case varString: var.strVal = AnsiStrAlloc(v.ansi, static_cast<UINT>(std::strlen(v.ansi))); break;
    case VT_DECIMAL: var.decVal = v.dec; break;
    default: var.llVal = v.i; break;
    }
    var.vt = v.vt;
    return var;
}

std::u16string TextOf(BSTR b) { return b ? std::u16string(b, SysStringLen(b)) : std::u16string(); }

std::string Printable(const std::u16string& s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? static_cast<char>(c) : '?';
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
        ASSERT_NE(got.strVal, nullptr);
        EXPECT_EQ(std::string(got.strVal, AnsiStrLen(got.strVal)), want.ansi);
        break;
    case VT_DECIMAL:
        EXPECT_EQ(got.decVal.scale, w.decVal.scale);
        EXPECT_EQ(got.decVal.sign, w.decVal.sign);
        EXPECT_EQ(got.decVal.Hi32, w.decVal.Hi32);
        EXPECT_EQ(got.decVal.Lo64, w.decVal.Lo64);
        break;
    default: EXPECT_EQ(Bits(got, BytesOf(want.vt)), Bits(w, BytesOf(want.vt))); break;
    }
    VariantClear(&w);
}

struct Row {
    Val src;
    VARTYPE target;
    HRESULT hr;
    Val want;  // when hr is S_OK
};

Row Ok(Val src, Val want) { return {src, want.vt, S_OK, want}; }
Row Fails(Val src, VARTYPE target, HRESULT hr) { return {src, target, hr, Val{}}; }

// Runs every row; a failing row keeps the destination as it was.
void RunRows(const Row* rows, std::size_t count, USHORT flags = 0) {
    for (std::size_t n = 0; n < count; ++n) {
        const Row& row = rows[n];
        SCOPED_TRACE("row " + std::to_string(n) + ": " + Describe(row.src) + " -> vt " + std::to_string(row.target));
        VARIANT src = Make(row.src);
        VARIANT dst = Make(Str(u"untouched"));
        const BSTR before = dst.bstrVal;
        EXPECT_EQ(VariantChangeTypeEx(&dst, &src, LOCALE_EN_US, flags, row.target), row.hr);
        if (row.hr == S_OK) {
            ExpectHolds(dst, row.want);
        } else {
            EXPECT_EQ(dst.vt, VT_BSTR);
            EXPECT_EQ(dst.bstrVal, before);
            EXPECT_EQ(TextOf(dst.bstrVal), u"untouched");
        }
        VariantClear(&dst);
        VariantClear(&src);
    }
}

const Row kRows[] = {
    // ---- same kind: copy; VT_INT/VT_I4 and VT_UINT/VT_UI4 only retag
    Ok(I4(5), I4(5)),
    Ok(INT_(7), I4(7)),
    Ok(I4(7), INT_(7)),
    Ok(UINT_(9), UI4(9)),
    Ok(Str(u"abc"), Str(u"abc")),
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
    Ok(Str(u"x"), Empty()),
    Ok(Dec(40, 0, 0, 1), Empty()),
    Ok(I4(3), Null()),
    Ok(Str(u"x"), Null()),
    Ok(Ansi("x"), Null()),
    Fails(Err(0), VT_EMPTY, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_NULL, DISP_E_TYPEMISMATCH),
    Fails(Unk(), VT_EMPTY, DISP_E_TYPEMISMATCH),

    // ---- error and object sources convert to nothing else
    Fails(Err(0), VT_I4, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_R8, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_BSTR, DISP_E_TYPEMISMATCH),
    Fails(Err(0), VT_BOOL, DISP_E_TYPEMISMATCH),
    Fails(Disp(), VT_I4, DISP_E_TYPEMISMATCH),
    Fails(Disp(), VT_BSTR, DISP_E_TYPEMISMATCH),
    Fails(Unk(), VT_R8, DISP_E_TYPEMISMATCH),
    Fails(Disp(), VT_UNKNOWN, DISP_E_TYPEMISMATCH),
    Ok(Unk(), Unk()),
    Fails(I4(1), VT_ERROR, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_DISPATCH, DISP_E_TYPEMISMATCH),
    Fails(Str(u"1"), VT_UNKNOWN, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_VARIANT, DISP_E_TYPEMISMATCH),
    Fails(I4(1), VT_RECORD, DISP_E_TYPEMISMATCH),

    // ---- invalid kinds
    Fails(I4(1), 15, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_VOID, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_HRESULT, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_PTR, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_SAFEARRAY, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_LPSTR, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_I4 | VT_BYREF, DISP_E_BADVARTYPE),
    Fails(I4(1), VT_I4 | VT_ARRAY, DISP_E_BADVARTYPE),
    Fails(I4(1), 0x200, DISP_E_BADVARTYPE),
    Fails(Int(15, 0), VT_I4, DISP_E_BADVARTYPE),
    Fails(Int(VT_VOID, 0), VT_I4, DISP_E_BADVARTYPE),
    Fails(Int(VT_RECORD, 0), VT_I4, DISP_E_BADVARTYPE),
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
    Ok(Bool(-1), Str(u"-1")),
    Ok(Bool(0), Str(u"0")),
    Ok(Bool(1), Str(u"1")),

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
    Ok(R8(-9223372036854775808.0), I8(INT64_MIN)),
    Fails(R8(9223372036854775808.0), VT_I8, DISP_E_OVERFLOW),
    Ok(R8(18446744073709549568.0), UI8(18446744073709549568u)),
    Fails(R8(18446744073709551616.0), VT_UI8, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_I4, DISP_E_OVERFLOW),
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
    Ok(I4(INT32_MIN), Str(u"-2147483648")),
    Ok(I4(-42), Str(u"-42")),
    Ok(I4(0), Str(u"0")),
    Ok(UI1(255), Str(u"255")),
    Ok(I1(-56), Str(u"-56")),
    Ok(I2(-32768), Str(u"-32768")),
    Ok(INT_(-7), Str(u"-7")),
    Ok(UINT_(4294967295), Str(u"4294967295")),
    Ok(I8(INT64_MIN), Str(u"-9223372036854775808")),
    Ok(UI8(kU64Max), Str(u"18446744073709551615")),

    // ---- floats and doubles
    Ok(R4(0.1f), R8(static_cast<double>(0.1f))),
    Ok(R4(654322.23456f), Str(u"654322.3")),
    Ok(R4(1e10f), Date(1e10)),  // no range test from a float
    Ok(R8(0.5), R4(0.5f)),
    Fails(R8(1e39), VT_R4, DISP_E_OVERFLOW),
    Fails(R8(-kInf), VT_R4, DISP_E_OVERFLOW),
    Ok(R8(3.14159265358979323846), Str(u"3.14159265358979")),
    Ok(R8(1e20), Str(u"1E+20")),
    Ok(R8(-0.0), Str(u"0")),
    Ok(R8(5.6789e-11), Str(u"0.000000000056789")),
    Ok(R8(38000.75), Date(38000.75)),
    Ok(R8(-657434.99), Date(-657434.99)),
    Fails(R8(-657435.0), VT_DATE, DISP_E_OVERFLOW),
    Ok(R8(2958465.99), Date(2958465.99)),
    Fails(R8(2958466.0), VT_DATE, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_DATE, DISP_E_OVERFLOW),
    Ok(Date(38000.5), R8(38000.5)),
    Ok(R8(1.5), Cy(15000)),
    Ok(R8(1.23456), Cy(12346)),
    Ok(R8(0.00015), Cy(1)),  // 0.00015 * 10000 is 1.4999999999999998 in doubles
    Ok(R8(0.000250000000000000005), Cy(2)),  // 2.5 ten-thousandths, to even
    Ok(R8(-922337203685477.5), Cy(-9223372036854774784)),  // the product rounds in doubles
    Fails(R8(922337203685477.6), VT_CY, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_CY, DISP_E_OVERFLOW),
    Ok(Date(38000.25), Cy(380002500)),

    // ---- currency
    Ok(Cy(15000), R8(1.5)),
    Ok(Cy(INT64_MAX), R8(922337203685477.5807)),
    Ok(Cy(0), Str(u"0")),
    Ok(Cy(15000), Str(u"1.5")),
    Ok(Cy(-15000), Str(u"-1.5")),
    Ok(Cy(9), Str(u"0.0009")),
    Ok(Cy(INT64_MAX), Str(u"922337203685477.5807")),
    Ok(Cy(INT64_MIN), Str(u"-922337203685477.5808")),
    Ok(Cy(380005000), Date(38000.5)),
    Ok(Cy(1000000000000000), Date(1e11)),  // no range test
    Ok(Cy(10000), Dec(4, 0, 0, 10000)),
    Ok(Cy(-10000), Dec(4, 0x80, 0, 10000)),
    Ok(Cy(5000), Dec(4, 0, 0, 5000)),
    Ok(I4(-2), Cy(-20000)),
    Ok(I8(922337203685477), Cy(9223372036854770000)),
    Fails(I8(922337203685478), VT_CY, DISP_E_OVERFLOW),
    Fails(UI8(kU64Max), VT_CY, DISP_E_OVERFLOW),

    // ---- decimal
    Ok(Dec(1, 0, 0, 15), R8(1.5)),
    Ok(Dec(1, 0x80, 0, 15), R8(-1.5)),
    Ok(Dec(0, 0, 0xFFFFFFFF, kU64Max), R8(79228162514264337593543950335.0)),
    Ok(Dec(28, 0, 0, 1), R8(1e-28)),
    Ok(Dec(0, 0, 0, 5), I4(5)),
    Ok(Dec(0, 0x80, 0, 2147483648), I4(INT32_MIN)),
    Fails(Dec(0, 0, 0, 2147483648), VT_I4, DISP_E_OVERFLOW),
    Fails(Dec(0, 0, 1, 0), VT_UI8, DISP_E_OVERFLOW),
    Ok(Dec(0, 0, 0, kU64Max), UI8(kU64Max)),
    Ok(Dec(1, 0, 0, 25), I4(2)),
    Ok(Dec(1, 0, 0, 35), I4(4)),
    Ok(Dec(1, 0x80, 0, 25), I2(-2)),
    Ok(Dec(3, 0, 0, 1000), Str(u"1")),
    Ok(Dec(1, 0x80, 0, 15), Str(u"-1.5")),
    Ok(Dec(7, 0, 0, 9000), Str(u"0.0009")),
    Ok(Dec(0, 0, 0xFFFFFFFF, kU64Max), Str(u"79228162514264337593543950335")),
    Ok(Dec(28, 0, 0, 1), Str(u"0.0000000000000000000000000001")),
    Ok(Dec(28, 0x80, 0xFFFFFFFF, kU64Max), Str(u"-7.9228162514264337593543950335")),
    Ok(Dec(2, 0x80, 0, 0), Str(u"0")),
    Ok(Dec(1, 0, 0, 380005), Date(38000.5)),
    Ok(Dec(5, 0, 0, 123456), Cy(12346)),
    Ok(Dec(5, 0, 0, 123455), Cy(12346)),  // 12345.5 to even
    Ok(Dec(5, 0, 0, 123465), Cy(12346)),  // 12346.5 to even
    Ok(Dec(4, 0, 0, 9223372036854775807), Cy(INT64_MAX)),
    Fails(Dec(4, 0, 0, 9223372036854775808u), VT_CY, DISP_E_OVERFLOW),
    Ok(Dec(4, 0x80, 0, 9223372036854775808u), Cy(INT64_MIN)),
    Ok(Dec(0, 0, 0, 7), R4(7.0f)),
    Fails(Dec(29, 0, 0, 1), VT_I4, E_INVALIDARG),
    Fails(Dec(0, 1, 0, 1), VT_R8, E_INVALIDARG),
    Fails(Dec(29, 0, 0, 1), VT_BSTR, E_INVALIDARG),
    Fails(Dec(0, 0x81, 0, 1), VT_BOOL, E_INVALIDARG),
    Fails(Dec(30, 0, 0, 1), VT_CY, E_INVALIDARG),
    Fails(Dec(30, 0, 0, 1), VT_DATE, E_INVALIDARG),
    Ok(I4(-5), Dec(0, 0x80, 0, 5)),
    Ok(UI8(kU64Max), Dec(0, 0, 0, kU64Max)),
    Ok(I8(INT64_MIN), Dec(0, 0x80, 0, 9223372036854775808u)),
    Ok(R8(0.1), Dec(1, 0, 0, 1)),  // the printed digits, not the binary value
    Ok(R8(1.0), Dec(0, 0, 0, 1)),
    Ok(R8(-2.5), Dec(1, 0x80, 0, 25)),
    Ok(R8(1.0 / 3.0), Dec(15, 0, 0, 333333333333333)),
    Ok(R8(1e20), Dec(0, 0, 5, 7766279631452241920)),
    Ok(R8(-0.0), Dec(0, 0, 0, 0)),
    Fails(R8(1e30), VT_DECIMAL, DISP_E_OVERFLOW),
    Fails(R8(kNaN), VT_DECIMAL, DISP_E_OVERFLOW),
    Ok(R4(0.1f), Dec(1, 0, 0, 1)),
    Ok(Date(38000.5), Dec(1, 0, 0, 380005)),

    // ---- text to numbers (the grammar itself is tested with the Var*FromStr functions)
    Ok(Str(u"12.5"), R8(12.5)),
    Ok(Str(u"(1,234.5)"), R8(-1234.5)),
    Fails(Str(u"abc"), VT_R8, DISP_E_TYPEMISMATCH),
    Ok(Str(u"0.1"), R4(0.1f)),
    Fails(Str(u"1e39"), VT_R4, DISP_E_OVERFLOW),
    Ok(Str(u"2.5000000000000001"), I4(3)),
    Ok(Str(u"&HFFFFFFFF"), INT_(-1)),
    Ok(Str(u"32767"), I2(32767)),
    Fails(Str(u"32768"), VT_I2, DISP_E_OVERFLOW),
    Ok(Str(u"&HFFFF"), I2(-1)),
    Fails(Str(u"&H10000"), VT_I2, DISP_E_OVERFLOW),
    Fails(Str(u"65536"), VT_UI2, DISP_E_OVERFLOW),
    Fails(Str(u"-1"), VT_UI2, DISP_E_OVERFLOW),
    Ok(Str(u"-0.5"), UI2(0)),
    Ok(Str(u"&HFFFF"), UI2(65535)),
    Fails(Str(u"-1"), VT_UI1, DISP_E_OVERFLOW),
    Ok(Str(u"254.5"), UI1(254)),
    Fails(Str(u"255.5"), VT_UI1, DISP_E_OVERFLOW),
    Ok(Str(u"&HFF"), I1(-1)),
    Ok(Str(u"-128.5"), I1(-128)),
    Ok(Str(u"4294967295"), UINT_(4294967295)),
    Ok(Str(u"9223372036854775807"), I8(INT64_MAX)),
    Fails(Str(u"9223372036854775808"), VT_I8, DISP_E_OVERFLOW),
    Ok(Str(u"-9223372036854775808"), I8(INT64_MIN)),
    Ok(Str(u"18446744073709551615"), UI8(kU64Max)),
    Fails(Str(u"18446744073709551616"), VT_UI8, DISP_E_OVERFLOW),
    Ok(Str(u"&HFFFFFFFFFFFFFFFF"), I8(-1)),
    Ok(Str(u"1.23456"), Cy(12346)),
    Ok(Str(u"1.23455"), Cy(12346)),
    Ok(Str(u"1.23445"), Cy(12344)),
    Ok(Str(u"$1,234.50"), Cy(12345000)),
    Ok(Str(u"922337203685477.5807"), Cy(INT64_MAX)),
    Fails(Str(u"922337203685477.5808"), VT_CY, DISP_E_OVERFLOW),
    Ok(Str(u"-922337203685477.5808"), Cy(INT64_MIN)),
    Ok(Str(u"1.5"), Dec(1, 0, 0, 15)),
    Ok(Str(u"-1.50"), Dec(1, 0x80, 0, 15)),
    Ok(Str(u"1e3"), Dec(0, 0, 0, 1000)),
    Ok(Str(u"79228162514264337593543950335"), Dec(0, 0, 0xFFFFFFFF, kU64Max)),
    Fails(Str(u"79228162514264337593543950336"), VT_DECIMAL, DISP_E_OVERFLOW),
    Ok(Str(u"0.00000000000000000000000000005"), Dec(0, 0, 0, 0)),
    Ok(Str(u"0.00000000000000000000000000015"), Dec(28, 0, 0, 2)),
    Ok(Str(u"1.23456789012345678901234567891"), Dec(28, 0, 0x27E41B32, 0x46BEC9B16E398115)),
    Ok(Str(u"9.9999999999999999999999999999"), Dec(0, 0, 0, 10)),
    Ok(Str(u"True"), Bool(-1)),
    Ok(Str(u"0.1"), Bool(-1)),
    Fails(Str(u"Yes"), VT_BOOL, DISP_E_TYPEMISMATCH),

    // ---- the 8-bit text kind converts like a BSTR, both ways
    Ok(Ansi("12.5"), R8(12.5)),
    Ok(Ansi("\xC2\xA0" "7 "), I4(7)),
    Fails(Ansi("abc"), VT_I4, DISP_E_TYPEMISMATCH),
    Ok(Ansi("h\xC3\xA9llo"), Str(u"h\u00E9llo")),
    Ok(Ansi(""), Str(u"")),
    Ok(Ansi("true"), Bool(-1)),
    Ok(Str(u"h\u00E9llo"), Ansi("h\xC3\xA9llo")),
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
        R4(0.0f), R8(0.0), Cy(0), Dec(0, 0, 0, 0), Date(0.0), Str(u""), Bool(0), Ansi(""),
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
        Ok(Bool(-1), Str(u"True")),
        Ok(Bool(0), Str(u"False")),
        Ok(Bool(1), Str(u"True")),
        Ok(Bool(-1), Ansi("True")),
        Ok(Bool(-1), I4(-1)),  // the flag only concerns text
    };
    RunRows(words, std::size(words), VARIANT_ALPHABOOL);
    const Row local[] = {Ok(Bool(0), Str(u"False"))};
    RunRows(local, 1, VARIANT_LOCALBOOL);
}

TEST(ChangeType, ConvertsInPlace) {
    VARIANT v = Make(Str(u"42"));
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 42);
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(v.bstrVal), u"42");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, varString), S_OK);
    ASSERT_EQ(v.vt, varString);
    EXPECT_STREQ(v.strVal, "42");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(v.bstrVal), u"42");
    VariantClear(&v);

    // A failure in place leaves the variant as it was.
    v = Make(Str(u"abc"));
    const BSTR before = v.bstrVal;
    EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_R8), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(v.bstrVal, before);
    EXPECT_EQ(TextOf(v.bstrVal), u"abc");
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
    src.bstrVal = SysAllocStringLen(u"12\0" "1", 4);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_I4), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(VariantChangeType(&dst, &src, 0, VT_R8), DISP_E_TYPEMISMATCH);
    ASSERT_EQ(VariantChangeType(&dst, &src, 0, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(dst.bstrVal), 4u);
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
    EXPECT_EQ(TextOf(dst.bstrVal), u"42");
    // Same kind as the referenced value: the value itself, not the reference.
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.vt, VT_I4);
    EXPECT_EQ(dst.lVal, 42);

    BSTR text = SysAllocString(u"2.5");
    ref.vt = VT_BSTR | VT_BYREF;
    ref.pbstrVal = &text;
    ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(dst.dblVal, 2.5);
    EXPECT_EQ(TextOf(text), u"2.5");  // the referenced text is not consumed

    VARIANT inner = Make(Str(u"3.5"));
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
    EXPECT_EQ(TextOf(dst.bstrVal), u"1.5");

    // Converting a reference in place replaces the reference by the value.
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &l;
    ASSERT_EQ(VariantChangeType(&ref, &ref, 0, VT_R8), S_OK);
    EXPECT_EQ(ref.vt, VT_R8);
    EXPECT_EQ(ref.dblVal, 42.0);
    EXPECT_EQ(l, 42);

    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = nullptr;
    EXPECT_EQ(VariantChangeType(&dst, &ref, 0, VT_R8), E_INVALIDARG);
    EXPECT_EQ(dst.vt, VT_BSTR);

    VariantClear(&dst);
    VariantClear(&inner);
    SysFreeString(text);
}

TEST(ChangeType, NullPointersAndExEquivalence) {
    VARIANT v = Make(I4(1));
    EXPECT_EQ(VariantChangeType(nullptr, &v, 0, VT_R8), E_INVALIDARG);
    EXPECT_EQ(VariantChangeType(&v, nullptr, 0, VT_R8), E_INVALIDARG);
    VARIANT a, b;
    VariantInit(&a);
    VariantInit(&b);
    v = Make(R8(2.5));
    EXPECT_EQ(VariantChangeType(&a, &v, 0, VT_BSTR), S_OK);
    EXPECT_EQ(VariantChangeTypeEx(&b, &v, 0x0407, 0, VT_BSTR), S_OK);  // every locale reads as en-US
    EXPECT_EQ(TextOf(a.bstrVal), u"2.5");
    EXPECT_EQ(TextOf(b.bstrVal), u"2.5");
    VariantClear(&a);
    VariantClear(&b);
}

// An object kept by an interface variant: same-kind copies take a reference.
struct CountingUnknown final : IUnknown {
    ULONG refs = 1;
    HRESULT QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG AddRef() override { return ++refs; }
    ULONG Release() override { return --refs; }
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
}

// Dates go through VarDateFromStr and VarBstrFromDate (the date text
// service). These rows are skipped while that service is not available.
TEST(ChangeType, DateText) {
    DATE probe = 0;
    if (VarDateFromStr(u"1/14/2004", LOCALE_EN_US, 0, &probe) == E_NOTIMPL)
        GTEST_SKIP() << "date text service not available";
    const Row rows[] = {
        Ok(Str(u"1/14/2004"), Date(38000.0)),
        Ok(Str(u"1/14/2004 6:00 PM"), Date(38000.75)),
        Fails(Str(u"38000"), VT_DATE, DISP_E_TYPEMISMATCH),
        Fails(Str(u""), VT_DATE, DISP_E_TYPEMISMATCH),
        Fails(Str(u"True"), VT_DATE, DISP_E_TYPEMISMATCH),
        Ok(Ansi("1/14/2004"), Date(38000.0)),
        Ok(Date(38000.0), Str(u"1/14/2004")),
        Ok(Date(38000.75), Str(u"1/14/2004 6:00:00 PM")),
        Ok(Date(0.0), Str(u"12:00:00 AM")),
        Ok(Date(38000.0), Ansi("1/14/2004")),
        Fails(Date(2958466.0), VT_BSTR, E_INVALIDARG),
        Fails(Date(-657435.0), VT_BSTR, E_INVALIDARG),
    };
    RunRows(rows, std::size(rows));
}

}  // namespace
