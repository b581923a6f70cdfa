// Fuzz target: VariantChangeType from a fuzzed value of any kind to every
// kind, in place and aside, and the second runtime's conversions and
// operators on fuzzed values.
#include "FuzzSupport.h"

#include <calquor/rtl.h>

#include <cmath>

using namespace calquor;
using calquor::fuzz::Require;

namespace {

// A destination that a failed conversion must leave exactly as it was.
VARIANT Sentinel() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 0x5A5A5A5A;
    return v;
}

bool IsSentinel(const VARIANT& v) { return v.vt == VT_I4 && v.lVal == 0x5A5A5A5A; }

// A converted text is a well-formed BSTR: a whole wide NUL follows the
// bytes its length prefix counts (an odd count included).
void CheckText(const VARIANT& v) {
    if (v.vt != VT_BSTR || !v.bstrVal) return;
    const UINT bytes = SysStringByteLen(v.bstrVal);
    Require(bytes / 2 == SysStringLen(v.bstrVal), "BSTR byte and unit lengths disagree");
    const char* raw = reinterpret_cast<const char*>(v.bstrVal);
    Require(raw[bytes] == 0 && raw[bytes + 1] == 0, "BSTR without its terminator");
}

void ChangeToEveryKind(const VARIANT& source, USHORT flags) {
    for (const VARTYPE target : fuzz::ValueMaker::kTargets) {
        VARIANT out = Sentinel();
        const HRESULT hr = VariantChangeType(&out, &source, flags, target);
        if (FAILED(hr)) {
            Require(IsSentinel(out), "a failed conversion changed its destination");
            continue;
        }
        Require(out.vt == target, "a conversion gave another kind");
        CheckText(out);
        if (target == VT_R8 || target == VT_DATE) {
            // The date range bounds every converted date.
            if (target == VT_DATE && std::isfinite(out.date) && source.vt != VT_R4 && source.vt != VT_DATE &&
                source.vt != VT_CY && source.vt != VT_DECIMAL && (source.vt & VT_BYREF) == 0)
                Require(out.date > -657435.0 && out.date < 2958466.0, "a conversion made a date out of range");
        }
        // A converted value converts on to text and back to its own kind
        // without a crash; the results themselves vary by kind.
        VARIANT text;
        VariantInit(&text);
        if (SUCCEEDED(VariantChangeType(&text, &out, flags, VT_BSTR))) {
            CheckText(text);
            VARIANT back;
            VariantInit(&back);
            if (SUCCEEDED(VariantChangeType(&back, &text, flags, target))) VariantClear(&back);
            VariantClear(&text);
        }
        // The same conversion in place, on a private copy of the source.
        VARIANT inPlace;
        VariantInit(&inPlace);
        if (SUCCEEDED(VariantCopy(&inPlace, &source))) {
            const HRESULT again = VariantChangeType(&inPlace, &inPlace, flags, target);
            Require(SUCCEEDED(again), "an in-place conversion failed where the aside one succeeded");
            Require(inPlace.vt == target, "an in-place conversion gave another kind");
            VariantClear(&inPlace);
        }
        VariantClear(&out);
    }
}

// A double survives the trip to text and back to within the 15 significant
// digits of the text (both ways correctly rounded, so twice half a unit in
// the 15th digit).
void CheckRealRoundTrip(double x) {
    if (!std::isfinite(x) || x == 0.0 || std::fabs(x) < 1e-290 || std::fabs(x) > 1e308) return;
    BSTR text = nullptr;
    Require(SUCCEEDED(VarBstrFromR8(x, LOCALE_EN_US, 0, &text)), "a finite double has no text");
    double back = 0.0;
    const HRESULT hr = VarR8FromStr(text, LOCALE_EN_US, 0, &back);
    SysFreeString(text);
    Require(SUCCEEDED(hr), "the text of a double does not read back");
    Require(std::fabs(back - x) <= std::fabs(x) * 1e-14, "the text of a double reads back as another number");
}

template <class F>
void Guarded(F&& f) {
    try {
        f();
    } catch (const rtl::EVariantError&) {
    } catch (const _com_error& e) {
        Require(e.Error() == E_OUTOFMEMORY, "the runtime threw a _com_error other than out of memory");
    }
}

void RuntimeConversions(const VARIANT& v) {
    Guarded([&] { (void)rtl::VarToDouble(v); });
    Guarded([&] { (void)rtl::VarToInteger(v); });
    Guarded([&] { (void)rtl::VarToSmallint(v); });
    Guarded([&] { (void)rtl::VarToByte(v); });
    Guarded([&] { (void)rtl::VarToBoolean(v); });
    Guarded([&] { (void)rtl::VarToDateTime(v); });
    Guarded([&] { (void)rtl::VarToString(v); });
    Guarded([&] { (void)rtl::VarNeg(v); });
    (void)rtl::VarTypeAsText(v.vt);
}

void RuntimeOperators(const VARIANT& a, const VARIANT& b) {
    for (rtl::VarOp op : {rtl::VarOp::Add, rtl::VarOp::Subtract, rtl::VarOp::Multiply, rtl::VarOp::Divide})
        Guarded([&] { (void)rtl::VarArith(op, a, b); });
    for (rtl::VarCmp op : {rtl::VarCmp::Equal, rtl::VarCmp::Less, rtl::VarCmp::Greater, rtl::VarCmp::LessEqual,
                           rtl::VarCmp::GreaterEqual})
        Guarded([&] { (void)rtl::VarCompare(op, a, b); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    const std::uint8_t control = in.Byte();
    static constexpr USHORT kFlags[] = {0, VARIANT_ALPHABOOL, VARIANT_LOCALBOOL, VARIANT_NOVALUEPROP,
                                        VARIANT_NOUSEROVERRIDE};
    const USHORT flags = kFlags[control % 5];

    fuzz::ValueMaker maker;
    const _variant_t first = maker.Make(in);
    const _variant_t second = maker.Make(in);

    ChangeToEveryKind(first, flags);
    if (first.vt == VT_R8) CheckRealRoundTrip(first.dblVal);
    RuntimeConversions(first);
    RuntimeConversions(second);
    RuntimeOperators(first, second);
    RuntimeOperators(second, first);

    // A copy is as good as its source, and a reference copies to its value.
    VARIANT copy;
    VariantInit(&copy);
    if (SUCCEEDED(VariantCopy(&copy, &first))) VariantClear(&copy);
    if (SUCCEEDED(VariantCopyInd(&copy, &first))) {
        Require((copy.vt & VT_BYREF) == 0, "VariantCopyInd kept a reference");
        VariantClear(&copy);
    }
    return 0;
}
