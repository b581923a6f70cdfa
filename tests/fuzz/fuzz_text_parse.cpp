// Fuzz target: the platform's text parsers (VarR8FromStr, VarI4FromStr,
// VarBoolFromStr, VarDateFromStr) on arbitrary wide text, and the texts of
// what they read checked by reading them back.
#include "FuzzSupport.h"

#include <cmath>
#include <memory>
#include <string>

using namespace calquor;
using calquor::fuzz::Require;

namespace {

// The input as wide text in a heap block of exactly its length plus the
// terminator, so that reading past the terminator is caught. The first byte
// picks the reading: bytes as Latin-1 units (digits and signs as they are),
// bytes as UTF-8, or byte pairs as UTF-16 units (lone surrogates included).
std::u16string WideInput(fuzz::ByteReader& in) {
    const std::uint8_t mode = in.Byte() % 3;
    const std::string_view rest = in.Bytes(in.Remaining());
    std::u16string text;
    if (mode == 0) {
        for (unsigned char c : rest) text.push_back(c);
    } else if (mode == 1 && !rest.empty()) {
        const int n = static_cast<int>(rest.size());
        const int units = MultiByteToWideChar(CP_UTF8, 0, rest.data(), n, nullptr, 0);
        Require(units > 0, "UTF-8 input without a wide length");
        text.resize(static_cast<std::size_t>(units));
        Require(MultiByteToWideChar(CP_UTF8, 0, rest.data(), n, text.data(), units) == units,
                "UTF-8 input converted to another length");
    } else {
        for (std::size_t i = 0; i + 1 < rest.size(); i += 2)
            text.push_back(static_cast<char16_t>(static_cast<unsigned char>(rest[i]) |
                                                 (static_cast<unsigned char>(rest[i + 1]) << 8)));
    }
    // The parsers read up to the first NUL, as on Windows.
    const std::size_t nul = text.find(u'\0');
    if (nul != std::u16string::npos) text.resize(nul);
    return text;
}

void CheckRealText(double x) {
    if (!std::isfinite(x) || x == 0.0 || std::fabs(x) < 1e-290 || std::fabs(x) > 1e308) return;
    BSTR text = nullptr;
    Require(SUCCEEDED(VarBstrFromR8(x, LOCALE_EN_US, 0, &text)), "a parsed double has no text");
    double back = 0.0;
    const HRESULT hr = VarR8FromStr(text, LOCALE_EN_US, 0, &back);
    SysFreeString(text);
    Require(SUCCEEDED(hr), "the text of a parsed double does not read back");
    Require(std::fabs(back - x) <= std::fabs(x) * 1e-14, "the text of a parsed double reads back differently");
}

bool SameFields(const SYSTEMTIME& a, const SYSTEMTIME& b) {
    return a.wYear == b.wYear && a.wMonth == b.wMonth && a.wDay == b.wDay && a.wHour == b.wHour &&
           a.wMinute == b.wMinute && a.wSecond == b.wSecond;
}

// A parsed date is in range, and its own text reads back as the same moment
// (to the second the text shows).
void CheckDateText(DATE d) {
    Require(std::isfinite(d) && d > -657435.0 && d < 2958466.0, "a parsed date out of range");
    SYSTEMTIME fields{};
    Require(VariantTimeToSystemTime(d, &fields) == TRUE, "a parsed date has no calendar fields");
    BSTR text = nullptr;
    if (FAILED(VarBstrFromDate(d, LOCALE_EN_US, 0, &text))) return;  // the last second of 9999 may round over
    DATE back = 0.0;
    const HRESULT hr = VarDateFromStr(text, LOCALE_EN_US, 0, &back);
    SysFreeString(text);
    Require(SUCCEEDED(hr), "the text of a parsed date does not read back");
    SYSTEMTIME again{};
    Require(VariantTimeToSystemTime(back, &again) == TRUE, "a re-read date has no calendar fields");
    Require(SameFields(fields, again), "the text of a parsed date reads back as another moment");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::ByteReader in(data, size);
    const std::u16string input = WideInput(in);
    auto buffer = std::make_unique<OLECHAR[]>(input.size() + 1);
    input.copy(buffer.get(), input.size());
    buffer[input.size()] = 0;
    const OLECHAR* text = buffer.get();

    double real = 0.0;
    const HRESULT realHr = VarR8FromStr(text, LOCALE_EN_US, 0, &real);
    if (SUCCEEDED(realHr)) {
        Require(std::isfinite(real), "a text read as an infinite or NaN double");
        CheckRealText(real);
    } else {
        Require(realHr == DISP_E_TYPEMISMATCH || realHr == DISP_E_OVERFLOW, "VarR8FromStr failed oddly");
    }

    LONG integer = 0;
    const HRESULT intHr = VarI4FromStr(text, LOCALE_EN_US, 0, &integer);
    if (SUCCEEDED(intHr) && input.find(u'&') == std::u16string::npos) {
        // The integer is the decimal reading rounded: both read the same digits.
        Require(SUCCEEDED(realHr), "a text is an integer but not a double");
        Require(std::fabs(real - integer) <= 0.5 + std::fabs(real) * 1e-15, "integer and double readings disagree");
    }
    if (FAILED(intHr)) Require(intHr == DISP_E_TYPEMISMATCH || intHr == DISP_E_OVERFLOW, "VarI4FromStr failed oddly");

    VARIANT_BOOL flag = 7;
    const HRESULT boolHr = VarBoolFromStr(text, LOCALE_EN_US, 0, &flag);
    if (SUCCEEDED(boolHr)) Require(flag == VARIANT_TRUE || flag == VARIANT_FALSE, "a boolean neither true nor false");

    DATE date = 0.0;
    const HRESULT dateHr = VarDateFromStr(text, LOCALE_EN_US, 0, &date);
    if (SUCCEEDED(dateHr)) CheckDateText(date);
    else Require(dateHr == DISP_E_TYPEMISMATCH || dateHr == DISP_E_OVERFLOW, "VarDateFromStr failed oddly");

    // The same text through a BSTR and VariantChangeType to every kind.
    VARIANT source;
    VariantInit(&source);
    source.vt = VT_BSTR;
    source.bstrVal = SysAllocStringLen(text, static_cast<UINT>(input.size()));
    for (const VARTYPE target : fuzz::ValueMaker::kTargets) {
        VARIANT out;
        VariantInit(&out);
        if (SUCCEEDED(VariantChangeType(&out, &source, 0, target))) {
            Require(out.vt == target, "a text converted to another kind");
            if (target == VT_R8) Require(SUCCEEDED(realHr) && out.dblVal == real, "VT_R8 and VarR8FromStr disagree");
            if (target == VT_DATE) Require(SUCCEEDED(dateHr) && out.date == date, "VT_DATE and VarDateFromStr disagree");
            VariantClear(&out);
        }
    }
    VariantClear(&source);
    return 0;
}
