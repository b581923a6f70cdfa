// Variant life cycle: VariantInit, VariantClear, VariantCopy, VariantCopyInd.
#include "PlatformSupport.h"

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace calquor {
namespace {

using test::OleString;

// Counts references and remembers the lowest count seen after a release, so
// that a release before the matching add-ref shows up.
struct CountingUnknown final : IUnknown {
    ULONG refs = 1;
    ULONG lowest = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        --refs;
        if (refs < lowest) lowest = refs;
        return refs;
    }
};

VARIANT Make(VARTYPE vt) {
    VARIANT v;
    VariantInit(&v);
    v.vt = vt;
    return v;
}

VARIANT MakeBstr(const OLECHAR* s) {
    VARIANT v = Make(VT_BSTR);
    v.bstrVal = SysAllocString(s);
    return v;
}

OleString Text(BSTR b) { return OleString(b ? b : OLESTR(""), SysStringLen(b)); }

TEST(VariantLife, ClearFreesAndEmpties) {
    VARIANT s;
    std::memset(&s, 0xAB, sizeof s);
    VariantInit(&s);
    EXPECT_EQ(s.vt, VT_EMPTY);
    s = MakeBstr(OLESTR("text"));
    EXPECT_EQ(VariantClear(&s), S_OK);
    EXPECT_EQ(s.vt, VT_EMPTY);

    CountingUnknown obj;
    VARIANT u = Make(VT_UNKNOWN);
    u.punkVal = &obj;
    obj.AddRef();
    EXPECT_EQ(VariantClear(&u), S_OK);
    EXPECT_EQ(obj.refs, 1u);
    EXPECT_EQ(u.vt, VT_EMPTY);

    VARIANT nullUnknown = Make(VT_DISPATCH);  // a null interface is allowed
    EXPECT_EQ(VariantClear(&nullUnknown), S_OK);
}

// The system's VariantClear knows no varString (the runtime library clears
// it there) and does not check for a null pointer.
TEST(VariantLife, ClearFreesAnsiTextAndRefusesNull) {
    CALQUOR_STAND_IN_ONLY("VariantClear knowing varString, and its null check");
    VARIANT a = Make(varString);
    SetStrVal(a, AnsiStrAlloc("abc", 3));
    EXPECT_EQ(VariantClear(&a), S_OK);
    EXPECT_EQ(a.vt, VT_EMPTY);

    EXPECT_EQ(VariantClear(nullptr), E_INVALIDARG);
}

class BadKind : public testing::TestWithParam<VARTYPE> {};

TEST_P(BadKind, IsRefusedAndLeftAlone) {
    // Windows clears and copies records, arrays and a bare VT_VARIANT
    // (conformance tests run there); the stand-in implements none of them.
    const VARTYPE vt = GetParam();
    if (vt == VT_RECORD || vt == VT_VARIANT || (vt & VT_ARRAY))
        CALQUOR_STAND_IN_ONLY("refusal of records, arrays and a bare VT_VARIANT");
    VARIANT v = Make(GetParam());
    v.lVal = 1234;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, GetParam());
    EXPECT_EQ(v.lVal, 1234);

    VARIANT dest = Make(VT_I4);
    dest.lVal = 7;
    EXPECT_EQ(VariantCopy(&dest, &v), DISP_E_BADVARTYPE);
    EXPECT_EQ(dest.vt, VT_I4);
    EXPECT_EQ(dest.lVal, 7);
    EXPECT_EQ(VariantCopy(&v, &v), DISP_E_BADVARTYPE);

    // A destination of an unknown kind cannot be cleared, so nothing is copied.
    EXPECT_EQ(VariantCopy(&v, &dest), DISP_E_BADVARTYPE);
    EXPECT_EQ(v.vt, GetParam());
}

INSTANTIATE_TEST_SUITE_P(VariantLife, BadKind,
                         testing::Values(VARTYPE{15}, VARTYPE{VT_VOID}, VARTYPE{VT_HRESULT}, VARTYPE{VT_RECORD},
                                         VARTYPE{VT_VARIANT}, VARTYPE{VT_ARRAY | VT_I4},
                                         VARTYPE{VT_VECTOR | VT_I4}, VARTYPE{VT_BYREF | VT_EMPTY},
                                         VARTYPE{VT_BYREF | VT_NULL}, VARTYPE{VT_BYREF | 15}, VARTYPE{0x0101},
                                         VARTYPE{0x7FFF}, VARTYPE{VT_ILLEGAL}));

class PlainCopy : public testing::TestWithParam<VARIANT> {};

TEST_P(PlainCopy, CopiesAllBits) {
    const VARIANT src = GetParam();
    VARIANT dest = MakeBstr(OLESTR("overwritten"));  // freed by the copy
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
    EXPECT_EQ(std::memcmp(&dest, &src, sizeof src), 0);
}

VARIANT Plain(VARTYPE vt, long long bits) {
    VARIANT v = Make(vt);
    v.llVal = bits;
    return v;
}

VARIANT Decimal(BYTE scale, BYTE sign, ULONG hi, ULONGLONG lo) {
    VARIANT v;
    VariantInit(&v);
    v.decVal.scale = scale;
    v.decVal.sign = sign;
    v.decVal.Hi32 = hi;
    v.decVal.Lo64 = lo;
    v.vt = VT_DECIMAL;
    return v;
}

INSTANTIATE_TEST_SUITE_P(VariantLife, PlainCopy,
                         testing::Values(Plain(VT_EMPTY, 0), Plain(VT_NULL, 0), Plain(VT_I4, -5),
                                         Plain(VT_I8, 0x123456789ALL), Plain(VT_R8, 0x3FF8000000000000LL),
                                         Plain(VT_BOOL, 1),  // a non-standard true is kept
                                         Plain(VT_CY, 15000), Plain(VT_ERROR, 0x80020004),
                                         Plain(VT_UI1, 200), Decimal(2, DECIMAL_NEG, 7, 12345),
                                         Decimal(28, 0, 0xFFFFFFFF, ~0ULL)));

TEST(VariantLife, CopyDuplicatesStrings) {
    VARIANT src = Make(VT_BSTR);
    src.bstrVal = SysAllocStringByteLen("abc", 3);  // odd byte count
    VARIANT dest;
    VariantInit(&dest);
    ASSERT_EQ(VariantCopy(&dest, &src), S_OK);
    ASSERT_EQ(dest.vt, VT_BSTR);
    EXPECT_NE(dest.bstrVal, src.bstrVal);
    EXPECT_EQ(SysStringByteLen(dest.bstrVal), 3u);
    EXPECT_EQ(std::memcmp(dest.bstrVal, "abc", 4), 0);
    VariantClear(&src);
    VariantClear(&dest);

    VARIANT nullText = Make(VT_BSTR);
    VARIANT c = MakeBstr(OLESTR("old"));
    ASSERT_EQ(VariantCopy(&c, &nullText), S_OK);
    EXPECT_EQ(c.vt, VT_BSTR);
    // Wine copies a null BSTR as an allocated empty one (Windows undocumented).
    if (test::OnWine()) {
        EXPECT_NE(c.bstrVal, nullptr);
        EXPECT_EQ(SysStringLen(c.bstrVal), 0u);
    } else {
        EXPECT_EQ(c.bstrVal, nullptr);
    }
    VariantClear(&c);
}

TEST(VariantLife, CopyDuplicatesAnsiText) {
    CALQUOR_STAND_IN_ONLY("VariantCopy knowing varString");
    VARIANT a = Make(varString);
    SetStrVal(a, AnsiStrAlloc("a\0b", 3));
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    ASSERT_EQ(b.vt, varString);
    EXPECT_NE(GetStrVal(b), GetStrVal(a));
    EXPECT_EQ(std::string(GetStrVal(b), AnsiStrLen(GetStrVal(b))), std::string("a\0b", 3));
    AnsiStrFree(GetStrVal(a));  // the copy does not depend on the source
    VariantClear(&b);
}

TEST(VariantLife, SelfCopyKeepsTheValue) {
    VARIANT v = MakeBstr(OLESTR("same"));
    BSTR before = v.bstrVal;
    EXPECT_EQ(VariantCopy(&v, &v), S_OK);
    EXPECT_EQ(v.bstrVal, before);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("same"));
    VariantClear(&v);
}

TEST(VariantLife, CopyRefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(VariantCopy(nullptr, &v), E_INVALIDARG);
    EXPECT_EQ(VariantCopy(&v, static_cast<const VARIANT*>(nullptr)), E_INVALIDARG);
}

TEST(VariantLife, InterfacesAreCountedAcrossCopies) {
    CountingUnknown obj;
    VARIANT a = Make(VT_UNKNOWN);
    a.punkVal = &obj;  // owns the first reference
    VARIANT b;
    VariantInit(&b);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_EQ(b.punkVal, &obj);
    EXPECT_EQ(obj.refs, 2u);
    VARIANT c = MakeBstr(OLESTR("x"));
    ASSERT_EQ(VariantCopy(&c, &b), S_OK);
    EXPECT_EQ(obj.refs, 3u);
    VariantClear(&c);
    VariantClear(&b);
    EXPECT_EQ(obj.refs, 1u);

    // Copying an object over the variant that keeps it alive takes the new
    // reference before the old one goes.
    VARIANT alias = a;
    ASSERT_EQ(VariantCopy(&a, &alias), S_OK);
    EXPECT_EQ(obj.refs, 1u);
    // Wine releases the old reference first, so the count touches zero
    // (Windows undocumented).
    EXPECT_EQ(obj.lowest, (test::Expect<ULONG>{1u, 0u}.Get()));
    VariantClear(&a);
    EXPECT_EQ(obj.refs, 0u);
}

// A reference owns nothing: copying copies the pointer, clearing frees nothing.
TEST(VariantLife, ReferencesAreNotOwned) {
    BSTR owned = SysAllocString(OLESTR("kept"));
    VARIANT r = Make(VT_BSTR | VT_BYREF);
    r.pbstrVal = &owned;
    VARIANT d;
    VariantInit(&d);
    ASSERT_EQ(VariantCopy(&d, &r), S_OK);
    EXPECT_EQ(d.vt, VT_BSTR | VT_BYREF);
    EXPECT_EQ(d.pbstrVal, &owned);
    EXPECT_EQ(VariantClear(&d), S_OK);
    EXPECT_EQ(VariantClear(&r), S_OK);
    EXPECT_EQ(Text(owned), OLESTR("kept"));
    SysFreeString(owned);
}

// ---- VariantCopyInd -----------------------------------------------------------

struct Referenced {
    LONG l = -9;
    SHORT i = 7;
    BYTE b = 200;
    DOUBLE d = 2.5;
    LONGLONG ll = 1LL << 40;
    VARIANT_BOOL flag = VARIANT_TRUE;
    DECIMAL dec{};
};

TEST(VariantCopyInd, ReadsThroughReferences) {
    Referenced r;
    r.dec.scale = 1;
    r.dec.Lo64 = 15;
    struct Row {
        VARTYPE vt;
        void* ref;
    };
    const Row rows[] = {{VT_I4, &r.l},   {VT_ERROR, &r.l}, {VT_I2, &r.i},    {VT_UI1, &r.b},
                        {VT_R8, &r.d},   {VT_DATE, &r.d},  {VT_I8, &r.ll},   {VT_CY, &r.ll},
                        {VT_BOOL, &r.flag}, {VT_DECIMAL, &r.dec}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.vt);
        VARIANT src = Make(row.vt | VT_BYREF);
        src.byref = row.ref;
        VARIANT d;
        VariantInit(&d);
        ASSERT_EQ(VariantCopyInd(&d, &src), S_OK);
        EXPECT_EQ(d.vt, row.vt);
        switch (row.vt) {
        case VT_I4: case VT_ERROR: EXPECT_EQ(d.lVal, r.l); break;
        case VT_I2: EXPECT_EQ(d.iVal, r.i); break;
        case VT_UI1: EXPECT_EQ(d.bVal, r.b); break;
        case VT_R8: case VT_DATE: EXPECT_EQ(d.dblVal, r.d); break;
        case VT_I8: case VT_CY: EXPECT_EQ(d.llVal, r.ll); break;
        case VT_BOOL: EXPECT_EQ(d.boolVal, VARIANT_TRUE); break;
        case VT_DECIMAL:
            EXPECT_EQ(d.decVal.scale, 1);
            EXPECT_EQ(d.decVal.Lo64, 15u);
            break;
        }
    }
}

TEST(VariantCopyInd, DuplicatesReferencedStringsAndCountsInterfaces) {
    BSTR text = SysAllocString(OLESTR("deep"));
    VARIANT src = Make(VT_BSTR | VT_BYREF);
    src.pbstrVal = &text;
    VARIANT d;
    VariantInit(&d);
    ASSERT_EQ(VariantCopyInd(&d, &src), S_OK);
    EXPECT_EQ(d.vt, VT_BSTR);
    EXPECT_NE(d.bstrVal, text);
    EXPECT_EQ(Text(d.bstrVal), OLESTR("deep"));
    SysFreeString(text);
    VariantClear(&d);

    CountingUnknown obj;
    IUnknown* punk = &obj;
    VARIANT u = Make(VT_UNKNOWN | VT_BYREF);
    u.ppunkVal = &punk;
    ASSERT_EQ(VariantCopyInd(&d, &u), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    VariantClear(&d);
    EXPECT_EQ(obj.refs, 1u);
}

TEST(VariantCopyInd, DuplicatesReferencedAnsiText) {
    CALQUOR_STAND_IN_ONLY("VariantCopyInd knowing varString");
    char* narrow = AnsiStrAlloc("8-bit", 5);
    VARIANT n = Make(varString | VT_BYREF);
    n.byref = &narrow;
    VARIANT d;
    VariantInit(&d);
    ASSERT_EQ(VariantCopyInd(&d, &n), S_OK);
    EXPECT_EQ(d.vt, varString);
    EXPECT_NE(GetStrVal(d), narrow);
    EXPECT_STREQ(GetStrVal(d), "8-bit");
    AnsiStrFree(narrow);
    VariantClear(&d);
}

TEST(VariantCopyInd, FollowsOneVariantReference) {
    VARIANT inner = MakeBstr(OLESTR("inner"));
    VARIANT ref = Make(VT_VARIANT | VT_BYREF);
    ref.pvarVal = &inner;
    VARIANT d;
    VariantInit(&d);
    ASSERT_EQ(VariantCopyInd(&d, &ref), S_OK);
    EXPECT_EQ(d.vt, VT_BSTR);
    EXPECT_EQ(Text(d.bstrVal), OLESTR("inner"));
    VariantClear(&d);

    // A reference to a reference is refused; so is a cycle.
    VARIANT outer = Make(VT_VARIANT | VT_BYREF);
    outer.pvarVal = &ref;
    EXPECT_EQ(VariantCopyInd(&d, &outer), E_INVALIDARG);
    VARIANT cycle = Make(VT_VARIANT | VT_BYREF);
    cycle.pvarVal = &cycle;
    EXPECT_EQ(VariantCopyInd(&d, &cycle), E_INVALIDARG);
    // Wine copies the cycle in place (Windows undocumented).
    EXPECT_EQ(VariantCopyInd(&cycle, &cycle), (test::Expect<HRESULT>{E_INVALIDARG, S_OK}.Get()));
    VariantClear(&inner);
}

TEST(VariantCopyInd, WorksInPlaceAndOnOwnStrings) {
    BSTR text = SysAllocString(OLESTR("abc"));
    VARIANT v = Make(VT_BSTR | VT_BYREF);
    v.pbstrVal = &text;
    ASSERT_EQ(VariantCopyInd(&v, &v), S_OK);
    EXPECT_EQ(v.vt, VT_BSTR);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("abc"));
    SysFreeString(text);

    // The source refers to the destination's own string.
    VARIANT ref = Make(VT_BSTR | VT_BYREF);
    ref.pbstrVal = &v.bstrVal;
    ASSERT_EQ(VariantCopyInd(&v, &ref), S_OK);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("abc"));
    VariantClear(&v);
}

TEST(VariantCopyInd, Refusals) {
    VARIANT d;
    VariantInit(&d);
    LONG x = 1;
    VARIANT bad = Make(VT_BYREF | VT_VOID);
    bad.plVal = &x;
    // Wine calls it an invalid argument (Windows undocumented).
    EXPECT_EQ(VariantCopyInd(&d, &bad), (test::Expect<HRESULT>{DISP_E_BADVARTYPE, E_INVALIDARG}.Get()));
    // Without a reference it is a plain copy.
    VARIANT plain = Plain(VT_I4, 5);
    ASSERT_EQ(VariantCopyInd(&d, &plain), S_OK);
    EXPECT_EQ(d.lVal, 5);
}

TEST(VariantCopyInd, RefusesNullPointers) {
    CALQUOR_STAND_IN_ONLY("null pointer checks (Wine's runtime crashes on a null pointer)");
    VARIANT d;
    VariantInit(&d);
    VARIANT nullRef = Make(VT_I4 | VT_BYREF);
    EXPECT_EQ(VariantCopyInd(&d, &nullRef), E_INVALIDARG);
    EXPECT_EQ(VariantCopyInd(nullptr, &d), E_INVALIDARG);
    EXPECT_EQ(VariantCopyInd(&d, static_cast<const VARIANT*>(nullptr)), E_INVALIDARG);
}

}  // namespace
}  // namespace calquor
