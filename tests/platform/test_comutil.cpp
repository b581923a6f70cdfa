// The value-semantics wrappers: _com_error, _bstr_t and _variant_t.
#include "PlatformSupport.h"

#include <calquor/oleauto.h>

#include <gtest/gtest.h>

#include <climits>
#include <limits>
#include <ostream>
#include <string>
#include <utility>

namespace calquor {
namespace {

using test::OleString;

struct CountingUnknown final : IUnknown {
    ULONG refs = 1;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** ppv) override {
        if (ppv) *ppv = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
};

OleString Text(BSTR b) { return OleString(b ? b : OLESTR(""), SysStringLen(b)); }
OleString Text(const _bstr_t& b) { return Text(b.GetBSTR()); }

template <class F>
HRESULT ThrownCode(F&& f) {
    try {
        f();
    } catch (const _com_error& e) {
        return e.Error();
    }
    return S_OK;
}

// ---- _com_error ---------------------------------------------------------------

struct MessageCase {
    HRESULT hr;
    const char* text;
};
void PrintTo(const MessageCase& c, std::ostream* os) { *os << c.text; }

class ComErrorMessage : public testing::TestWithParam<MessageCase> {};

TEST_P(ComErrorMessage, IsFixedEnglish) { EXPECT_STREQ(_com_error(GetParam().hr).ErrorMessage(), GetParam().text); }

INSTANTIATE_TEST_SUITE_P(ComError, ComErrorMessage,
                         testing::Values(MessageCase{DISP_E_TYPEMISMATCH, "Type mismatch."},
                                         MessageCase{DISP_E_OVERFLOW, "Overflow."},
                                         MessageCase{E_OUTOFMEMORY, "Out of memory."},
                                         MessageCase{E_INVALIDARG, "The parameter is incorrect."},
                                         MessageCase{E_FAIL, "Unspecified error"},
                                         MessageCase{DISP_E_BADVARTYPE, "Bad variable type."},
                                         MessageCase{static_cast<HRESULT>(0x80001234u), "Unknown error 0x80001234"},
                                         MessageCase{7, "Unknown error 0x00000007"}));

TEST(ComError, UnknownTextOutlivesOtherMessagesAndIssueThrows) {
    const char* first = _com_error(static_cast<HRESULT>(0x8000AAAAu)).ErrorMessage();
    EXPECT_STREQ(_com_error(static_cast<HRESULT>(0x8000BBBBu)).ErrorMessage(), "Unknown error 0x8000BBBB");
    EXPECT_STREQ(first, "Unknown error 0x8000AAAA");
    EXPECT_EQ(ThrownCode([] { _com_issue_error(DISP_E_OVERFLOW); }), DISP_E_OVERFLOW);
}

// ---- _bstr_t ------------------------------------------------------------------

TEST(BstrT, ConvertsUtf8BothWays) {
    const char* utf8 = "h\xC3\xA9llo \xE2\x82\xAC\xF0\x9F\x98\x80";
    _bstr_t b(utf8);
    EXPECT_EQ(Text(b), OLESTR("h\u00E9llo \u20AC\xD83D\xDE00"));
    EXPECT_STREQ(static_cast<const char*>(b), utf8);
    EXPECT_STREQ(static_cast<const char*>(_bstr_t(OLESTR("\u00E9t\u00E9"))), "\xC3\xA9t\xC3\xA9");
}

TEST(BstrT, NullEqualsEmpty) {
    _bstr_t none, empty("");
    EXPECT_TRUE(!none);
    EXPECT_TRUE(!_bstr_t(static_cast<const char*>(nullptr)));
    EXPECT_EQ(static_cast<const char*>(none), nullptr);
    EXPECT_EQ(none.copy(), nullptr);
    EXPECT_FALSE(!empty);
    EXPECT_STREQ(static_cast<const char*>(empty), "");
    EXPECT_TRUE(none == empty);
    EXPECT_FALSE(none < empty || empty < none);
}

TEST(BstrT, CopiesAreIndependentMovesEmptyTheSource) {
    _bstr_t a("abc");
    _bstr_t b(a);
    EXPECT_NE(b.GetBSTR(), a.GetBSTR());
    b += _bstr_t("d");
    _bstr_t c;
    c = a;
    a = "changed";
    EXPECT_EQ(Text(b), OLESTR("abcd"));
    EXPECT_STREQ(static_cast<const char*>(c), "abc");

    BSTR raw = c.GetBSTR();
    _bstr_t m(std::move(c));
    EXPECT_EQ(m.GetBSTR(), raw);
    EXPECT_TRUE(!c);
    a = std::move(m);
    EXPECT_EQ(a.GetBSTR(), raw);
    EXPECT_TRUE(!m);
    // Odd byte lengths survive copies.
    _bstr_t odd(SysAllocStringByteLen("abc", 3), false);
    EXPECT_EQ(SysStringByteLen(_bstr_t(odd).GetBSTR()), 3u);
}

TEST(BstrT, NarrowFormFollowsEveryChange) {
    _bstr_t b("one");
    EXPECT_STREQ(static_cast<const char*>(b), "one");
    b = OLESTR("two");
    EXPECT_STREQ(static_cast<const char*>(b), "two");
    b += _bstr_t("!");
    EXPECT_STREQ(static_cast<const char*>(b), "two!");
    SysReAllocString(&b.GetBSTR_Ref(), OLESTR("three"));
    EXPECT_STREQ(static_cast<const char*>(b), "three");
}

TEST(BstrT, AssignmentsFromItsOwnText) {
    _bstr_t b("self");
    b = static_cast<const char*>(b);
    b = static_cast<const OLECHAR*>(b) + 1;
    EXPECT_EQ(Text(b), OLESTR("elf"));
    b += b;
    b.Assign(b.GetBSTR());
    b.Attach(b.GetBSTR());
    EXPECT_EQ(Text(b), OLESTR("elfelf"));
}

TEST(BstrT, Order) {
    struct Row {
        const char* a;
        const char* b;
        bool less, equal;
    };
    const Row rows[] = {{"a", "b", true, false},   {"ab", "abc", true, false}, {"abc", "ab", false, false},
                        {"abc", "abc", false, true}, {"", "a", true, false},
                        {"B", "a", true, false},  // ordinal, not case-folded
                        {"\xEF\xBF\xBF", "\xF0\x9F\x98\x80", false, false}};  // by UTF-16 units
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.a) + " vs " + r.b);
        EXPECT_EQ(_bstr_t(r.a) < _bstr_t(r.b), r.less);
        EXPECT_EQ(_bstr_t(r.a) == _bstr_t(r.b), r.equal);
        EXPECT_EQ(_bstr_t(r.a) != _bstr_t(r.b), !r.equal);
    }
    EXPECT_EQ(Text(_bstr_t() + _bstr_t("x") + _bstr_t("y")), OLESTR("xy"));
}

TEST(BstrT, OwnershipTransfers) {
    BSTR raw = SysAllocString(OLESTR("owned"));
    _bstr_t taken(raw, false), copied(raw, true);
    EXPECT_EQ(taken.GetBSTR(), raw);
    EXPECT_NE(copied.GetBSTR(), raw);
    EXPECT_EQ(taken.Detach(), raw);
    EXPECT_TRUE(!taken);
    taken.Attach(raw);
    EXPECT_EQ(taken.copy(false), raw);
    BSTR dup = taken.copy();
    EXPECT_NE(dup, raw);
    EXPECT_EQ(Text(dup), OLESTR("owned"));
    SysFreeString(dup);
    BSTR* slot = taken.GetAddress();  // frees the text
    EXPECT_EQ(*slot, nullptr);
    *slot = SysAllocString(OLESTR("filled"));
    EXPECT_EQ(Text(taken), OLESTR("filled"));
}

// ---- _variant_t ---------------------------------------------------------------

LONGLONG Stored(const VARIANT& v) {
    switch (v.vt) {
    case VT_I1: return v.cVal;
    case VT_UI1: return v.bVal;
    case VT_I2: case VT_BOOL: return v.iVal;
    case VT_UI2: return v.uiVal;
    case VT_I4: case VT_INT: case VT_ERROR: return v.lVal;
    case VT_UI4: case VT_UINT: return v.ulVal;
    case VT_R4: return static_cast<LONGLONG>(v.fltVal * 4);
    case VT_R8: case VT_DATE: return static_cast<LONGLONG>(v.dblVal * 4);
    default: return v.llVal;
    }
}

TEST(VariantT, ConstructorsChooseTheKind) {
    struct Row {
        _variant_t v;
        VARTYPE vt;
        LONGLONG stored;  // reals times four
    };
    CY cy;
    cy.int64 = 12345;
    const Row rows[] = {
        {_variant_t(short{-3}), VT_I2, -3},
        {_variant_t(short{9}, VT_BOOL), VT_BOOL, VARIANT_TRUE},
        {_variant_t(short{0}, VT_BOOL), VT_BOOL, VARIANT_FALSE},
        {_variant_t(-70000L), VT_I4, -70000},
        {_variant_t(-2147483647L - 1), VT_I4, -2147483647LL - 1},
        {_variant_t(long{DISP_E_PARAMNOTFOUND}, VT_ERROR), VT_ERROR, DISP_E_PARAMNOTFOUND},
        {_variant_t(2L, VT_BOOL), VT_BOOL, VARIANT_TRUE},
        {_variant_t(true), VT_BOOL, VARIANT_TRUE},
        {_variant_t(static_cast<unsigned char>(200)), VT_UI1, 200},
        {_variant_t('A'), VT_I1, 'A'},
        {_variant_t(static_cast<unsigned short>(65535)), VT_UI2, 65535},
        {_variant_t(4294967295UL), VT_UI4, 4294967295LL},
        {_variant_t(-5), VT_INT, -5},
        {_variant_t(7u), VT_UINT, 7},
        {_variant_t(-(1LL << 40)), VT_I8, -(1LL << 40)},
        {_variant_t(~0ULL), VT_UI8, -1},
        {_variant_t(1.5f), VT_R4, 6},
        {_variant_t(2.25), VT_R8, 9},
        {_variant_t(1.75, VT_DATE), VT_DATE, 7},
        {_variant_t(cy), VT_CY, 12345},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.vt);
        EXPECT_EQ(r.v.vt, r.vt);
        EXPECT_EQ(Stored(r.v), r.stored);
    }
    DECIMAL dec{};
    dec.scale = 3;
    dec.sign = DECIMAL_NEG;
    dec.Lo64 = 1500;
    _variant_t dv(dec);
    EXPECT_EQ(dv.vt, VT_DECIMAL);
    EXPECT_EQ(dv.decVal.sign, DECIMAL_NEG);
    EXPECT_EQ(dv.decVal.Lo64, 1500u);
}

TEST(VariantT, ConstructorsRefuse) {
    struct Row {
        const char* name;
        HRESULT (*make)();
        HRESULT code;
    };
    const Row rows[] = {
        {"short_as_r8", [] { return ThrownCode([] { _variant_t v(short{1}, VT_R8); }); }, E_INVALIDARG},
        {"long_as_i2", [] { return ThrownCode([] { _variant_t v(1L, VT_I2); }); }, E_INVALIDARG},
        {"double_as_cy", [] { return ThrownCode([] { _variant_t v(1.0, VT_CY); }); }, E_INVALIDARG},
        {"null_variant", [] { return ThrownCode([] { _variant_t v(static_cast<const VARIANT*>(nullptr)); }); },
         E_POINTER},
#if LONG_MAX > 0x7FFFFFFFL
        {"long_above", [] { return ThrownCode([] { _variant_t v(2147483648L); }); }, DISP_E_OVERFLOW},
        {"long_below", [] { return ThrownCode([] { _variant_t v(-2147483649L); }); }, DISP_E_OVERFLOW},
        {"long_bool", [] { return ThrownCode([] { _variant_t v(1L << 40, VT_BOOL); }); }, DISP_E_OVERFLOW},
        {"ulong_above", [] { return ThrownCode([] { _variant_t v(4294967296UL); }); }, DISP_E_OVERFLOW},
        {"assign_long", [] { return ThrownCode([] { _variant_t v(1L); v = 1L << 33; }); }, DISP_E_OVERFLOW},
#endif
    };
    for (const Row& r : rows) EXPECT_EQ(r.make(), r.code) << r.name;
}

TEST(VariantT, TextIsCopiedInAndOut) {
    EXPECT_EQ(Text(_variant_t("h\xC3\xA9").bstrVal), OLESTR("h\u00E9"));
    EXPECT_EQ(Text(_variant_t(OLESTR("wide")).bstrVal), OLESTR("wide"));
    _variant_t none(static_cast<const char*>(nullptr));
    EXPECT_EQ(none.vt, VT_BSTR);
    EXPECT_EQ(none.bstrVal, nullptr);
    _bstr_t src("from bstr");
    _variant_t b(src);
    EXPECT_NE(b.bstrVal, src.GetBSTR());
    _bstr_t out = b;
    EXPECT_NE(out.GetBSTR(), b.bstrVal);
    EXPECT_EQ(Text(out), OLESTR("from bstr"));
    b.SetString("set");
    EXPECT_EQ(Text(b.bstrVal), OLESTR("set"));
    // Assignments read their own string before replacing it.
    _variant_t v(OLESTR("abcdef"));
    v = static_cast<const OLECHAR*>(v.bstrVal + 2);
    v = static_cast<const VARIANT&>(v);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("cdef"));
}

TEST(VariantT, CopiesAreIndependentMovesEmptyTheSource) {
    _variant_t a("text");
    _variant_t b(a), c;
    c = a;
    EXPECT_NE(b.bstrVal, a.bstrVal);
    EXPECT_NE(c.bstrVal, a.bstrVal);
    b = "other";
    EXPECT_EQ(Text(a.bstrVal), OLESTR("text"));
    EXPECT_EQ(Text(c.bstrVal), OLESTR("text"));

    BSTR raw = a.bstrVal;
    _variant_t m(std::move(a));
    EXPECT_EQ(a.vt, VT_EMPTY);
    c = std::move(m);
    EXPECT_EQ(c.bstrVal, raw);
    EXPECT_EQ(m.vt, VT_EMPTY);

    VARIANT plain;
    VariantInit(&plain);
    plain.vt = VT_BSTR;
    plain.bstrVal = SysAllocString(OLESTR("plain"));
    _variant_t copied(plain);
    EXPECT_NE(copied.bstrVal, plain.bstrVal);
    _variant_t taken(plain, false);  // takes the string; the source becomes Empty
    EXPECT_EQ(plain.vt, VT_EMPTY);
    EXPECT_EQ(Text(taken.bstrVal), OLESTR("plain"));
}

TEST(VariantT, ScalarAssignmentsKeepRelatedKinds) {
    _variant_t b(true);
    b = short{0};
    EXPECT_EQ(b.vt, VT_BOOL);
    b = 5L;
    EXPECT_EQ(b.vt, VT_BOOL);
    EXPECT_EQ(b.boolVal, VARIANT_TRUE);
    _variant_t e(long{DISP_E_PARAMNOTFOUND}, VT_ERROR);
    e = 7L;
    EXPECT_EQ(e.vt, VT_ERROR);
    EXPECT_EQ(e.scode, 7);
    _variant_t d(1.0, VT_DATE);
    d = 2.5;
    EXPECT_EQ(d.vt, VT_DATE);
    EXPECT_EQ(d.date, 2.5);

    _variant_t s("string");  // every other kind is replaced; the string is freed
    const std::pair<void (*)(_variant_t&), VARTYPE> rows[] = {
        {[](_variant_t& v) { v = short{4}; }, VT_I2}, {[](_variant_t& v) { v = 9L; }, VT_I4},
        {[](_variant_t& v) { v = 1.5f; }, VT_R4},     {[](_variant_t& v) { v = 1.5; }, VT_R8},
        {[](_variant_t& v) { v = true; }, VT_BOOL},   {[](_variant_t& v) { v = 3; }, VT_INT},
        {[](_variant_t& v) { v = static_cast<unsigned char>(8); }, VT_UI1},
        {[](_variant_t& v) { v = _bstr_t("back"); }, VT_BSTR}};
    for (const auto& [assign, vt] : rows) {
        s = "string";
        assign(s);
        EXPECT_EQ(s.vt, vt);
    }
}

TEST(VariantT, Equality) {
    DECIMAL one{}, oneTenths{};
    one.Lo64 = 1;
    oneTenths.scale = 1;
    oneTenths.Lo64 = 10;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    VARIANT nullBstr, ref;
    VariantInit(&nullBstr);
    nullBstr.vt = VT_BSTR;
    LONG target = 1;
    VariantInit(&ref);
    ref.vt = VT_I4 | VT_BYREF;
    ref.plVal = &target;
    VARIANT narrow;
    VariantInit(&narrow);
    narrow.vt = varString;
    SetStrVal(narrow, AnsiStrAlloc("same", 4));
    struct Row {
        const char* name;
        _variant_t a, b;
        bool equal;
    };
    const Row rows[] = {
        {"same_i4", _variant_t(5L), _variant_t(5L), true},
        {"different_i4", _variant_t(5L), _variant_t(6L), false},
        {"i4_vs_int", _variant_t(5L), _variant_t(5), false},
        {"zero_signs", _variant_t(0.0), _variant_t(-0.0), true},
        {"nan", _variant_t(nan), _variant_t(nan), false},
        {"string_content", _variant_t("abc"), _variant_t(OLESTR("abc")), true},
        {"string_case", _variant_t("abc"), _variant_t("ABC"), false},
        {"null_vs_empty_string", _variant_t(nullBstr), _variant_t(""), true},
        {"narrow_strings", _variant_t(narrow), _variant_t(narrow), true},
        {"decimal_scale", _variant_t(one), _variant_t(oneTenths), false},
        {"decimal_same", _variant_t(one), _variant_t(one), true},
        {"empty", _variant_t(), _variant_t(), true},
        {"empty_vs_zero", _variant_t(), _variant_t(0L), false},
        {"reference", _variant_t(ref), _variant_t(ref), false},
    };
    for (const Row& r : rows) {
        EXPECT_EQ(r.a == r.b, r.equal) << r.name;
        EXPECT_EQ(r.a != r.b, !r.equal) << r.name;
    }
    VariantClear(&narrow);
}

TEST(VariantT, InterfacesAreCounted) {
    CountingUnknown obj;
    {
        _variant_t a(static_cast<IUnknown*>(&obj));
        _variant_t b(a);
        EXPECT_EQ(obj.refs, 3u);
        EXPECT_TRUE(a == b);
        obj.AddRef();
        _variant_t c(static_cast<IUnknown*>(&obj), false);  // adopts that reference
        _variant_t d(reinterpret_cast<IDispatch*>(static_cast<IUnknown*>(&obj)));
        EXPECT_EQ(d.vt, VT_DISPATCH);
        EXPECT_EQ(obj.refs, 5u);
    }
    EXPECT_EQ(obj.refs, 1u);
}

TEST(VariantT, SameKindExtractors) {
    EXPECT_EQ(static_cast<short>(_variant_t(short{-3})), -3);
    EXPECT_EQ(static_cast<long>(_variant_t(-70000L)), -70000L);
    EXPECT_EQ(static_cast<int>(_variant_t(-5)), -5);
    EXPECT_EQ(static_cast<unsigned char>(_variant_t(static_cast<unsigned char>(200))), 200);
    EXPECT_EQ(static_cast<char>(_variant_t('z')), 'z');
    EXPECT_EQ(static_cast<unsigned short>(_variant_t(static_cast<unsigned short>(65535))), 65535);
    EXPECT_EQ(static_cast<unsigned int>(_variant_t(4000000000u)), 4000000000u);
    EXPECT_EQ(static_cast<long long>(_variant_t(1LL << 50)), 1LL << 50);
    EXPECT_EQ(static_cast<float>(_variant_t(0.25f)), 0.25f);
    EXPECT_EQ(static_cast<double>(_variant_t(-2.5)), -2.5);
    EXPECT_FALSE(static_cast<bool>(_variant_t(false)));
    CY cy;
    cy.int64 = -15000;
    EXPECT_EQ(static_cast<CY>(_variant_t(cy)).int64, -15000);
    DECIMAL dec{};
    dec.scale = 2;
    dec.Lo64 = 314;
    const DECIMAL back = static_cast<DECIMAL>(_variant_t(dec));
    EXPECT_EQ(back.scale, 2);
    EXPECT_EQ(back.Lo64, 314u);
}

TEST(VariantT, ConvertingExtractors) {
    EXPECT_EQ(static_cast<double>(_variant_t("12.5")), 12.5);
    EXPECT_EQ(static_cast<long>(_variant_t(" 2.5 ")), 2);  // half to even
    EXPECT_EQ(static_cast<int>(_variant_t(3.5)), 4);
    EXPECT_TRUE(static_cast<bool>(_variant_t(2L)));
    EXPECT_EQ(Text(static_cast<_bstr_t>(_variant_t(12.5))), OLESTR("12.5"));
    EXPECT_EQ(ThrownCode([] { (void)static_cast<short>(_variant_t(40000L)); }), DISP_E_OVERFLOW);
    EXPECT_EQ(ThrownCode([] { (void)static_cast<double>(_variant_t("abc")); }), DISP_E_TYPEMISMATCH);
}

TEST(VariantT, ChangeType) {
    _variant_t v("7");
    v.ChangeType(VT_I4);
    EXPECT_EQ(v.vt, VT_I4);
    EXPECT_EQ(v.lVal, 7);
    _variant_t other(2.5);
    v.ChangeType(VT_BSTR, &other);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("2.5"));
    BSTR before = v.bstrVal;
    v.ChangeType(VT_BSTR);  // same kind: nothing to do
    EXPECT_EQ(v.bstrVal, before);

    // A failure throws and leaves the value as it was.
    _variant_t n;
    n.vt = VT_NULL;
    EXPECT_EQ(ThrownCode([&] { n.ChangeType(VT_I4); }), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(n.vt, VT_NULL);
    v = "abc";
    EXPECT_EQ(ThrownCode([&] { v.ChangeType(VT_R8); }), DISP_E_TYPEMISMATCH);
    EXPECT_EQ(Text(v.bstrVal), OLESTR("abc"));
}

TEST(VariantT, AttachDetachClear) {
    _variant_t v("owned");
    VARIANT raw = v.Detach();
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.Attach(raw);
    EXPECT_EQ(raw.vt, VT_EMPTY);
    v.Attach(v.GetVARIANT());  // attaching itself changes nothing
    EXPECT_EQ(Text(v.bstrVal), OLESTR("owned"));

    VARIANT* slot = v.GetAddress();  // frees the string
    EXPECT_EQ(slot->vt, VT_EMPTY);
    slot->vt = VT_I4;
    slot->lVal = 3;
    EXPECT_EQ(static_cast<long>(v), 3);
    v.Clear();
    EXPECT_EQ(v.vt, VT_EMPTY);
    v.vt = 15;  // an unknown kind cannot be cleared
    EXPECT_EQ(ThrownCode([&] { v.Clear(); }), DISP_E_BADVARTYPE);
    v.vt = VT_EMPTY;
}

}  // namespace
}  // namespace calquor
