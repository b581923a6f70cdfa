// Shared pieces of the fuzz targets: a reader over the fuzz input, a maker of
// hostile variant values of every kind, and a failure that libFuzzer records
// as a crash (with the input saved as an artifact).
#pragma once

#include <calquor/oleauto.h>
#include <calquor/unknwn.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <string>
#include <string_view>

namespace calquor::fuzz {

// Reports a broken invariant and aborts, so that libFuzzer keeps the input.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void Require(bool condition, const char* what) {
    if (!condition) Fail(what);
}

// Reads the fuzz input front to back. Past the end every read gives zeros, so
// a short input still decides everything deterministically.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}

    bool Empty() const { return m_pos >= m_size; }
    std::size_t Remaining() const { return m_pos < m_size ? m_size - m_pos : 0; }

    std::uint8_t Byte() { return m_pos < m_size ? m_data[m_pos++] : 0; }

    template <class T>
    T Bits() {
        unsigned char raw[sizeof(T)] = {};
        for (auto& b : raw) b = Byte();
        T value;
        std::memcpy(&value, raw, sizeof value);
        return value;
    }

    // Up to count bytes (fewer at the end of the input).
    std::string_view Bytes(std::size_t count) {
        const std::size_t n = count < Remaining() ? count : Remaining();
        const std::string_view out(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return out;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
};

// A component object that only counts its references. It is never deleted
// by Release, so that a surplus Release shows up as a count below the
// baseline instead of a use after free inside the code under test.
class CountingObject final : public IUnknown {
public:
    HRESULT QueryInterface(REFIID, void** object) override {
        if (object) *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG AddRef() override { return static_cast<ULONG>(++m_refs); }
    ULONG Release() override {
        if (m_refs <= 0) Fail("Release on an object without references");
        return static_cast<ULONG>(--m_refs);
    }
    long References() const { return m_refs; }

private:
    long m_refs = 1;  // the maker's own reference
};

// Makes variant values of every kind from fuzz input, including the ones a
// careless or hostile host could hand over: Null and Empty, the 8-bit kind,
// infinities, NaN and extreme doubles, BSTRs with lone surrogates or an odd
// byte length, very long texts, references (to values, to variants, null
// references), arrays without data, objects and kind codes that do not
// exist.
//
// Whatever a made value points at (the target of a reference, an object) is
// owned by the maker, which must outlive every copy of its values. On
// destruction the maker checks that each object is back to its own single
// reference: a copy that was never cleared, or one cleared twice, fails.
class ValueMaker {
public:
    ValueMaker() = default;
    ValueMaker(const ValueMaker&) = delete;
    ValueMaker& operator=(const ValueMaker&) = delete;

    ~ValueMaker() {
        for (VARIANT& slot : m_slots) VariantClear(&slot);
        m_slots.clear();
        if (m_object.References() != 1) Fail("an object reference leaked or was released twice");
    }

    // A fresh value owned by the caller.
    _variant_t Make(ByteReader& in, int depth = 0) {
        VARIANT v;
        VariantInit(&v);
        Fill(v, in, depth);
        return _variant_t(v, false);
    }

    CountingObject& Object() { return m_object; }

    // The kinds a conversion can be asked for, valid or not.
    static constexpr VARTYPE kTargets[] = {
        VT_EMPTY, VT_NULL, VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_BSTR, VT_DISPATCH,
        VT_ERROR, VT_BOOL, VT_VARIANT, VT_UNKNOWN, VT_DECIMAL, VT_I1, VT_UI1, VT_UI2, VT_UI4,
        VT_I8, VT_UI8, VT_INT, VT_UINT, VT_VOID, VT_LPSTR, varString, 15,
        VT_R8 | VT_BYREF, VT_R8 | VT_ARRAY, VT_ILLEGAL,
    };

    // Doubles at the edges of every range the platform and engine care about.
    static double EdgeDouble(std::uint8_t pick) {
        constexpr double inf = std::numeric_limits<double>::infinity();
        constexpr double table[] = {
            std::numeric_limits<double>::max(),      -std::numeric_limits<double>::max(),
            std::numeric_limits<double>::denorm_min(), std::numeric_limits<double>::min(),
            std::numeric_limits<double>::quiet_NaN(), -std::numeric_limits<double>::quiet_NaN(),
            inf, -inf, -0.0, 0.5, -0.5, 2.5, 1.5,
            2147483647.5, -2147483648.5, 2147483648.0, -2147483649.0, 4294967295.5,
            1e15, 1e16, 999999999999999.0, 1e-5, 1e-15, 5.6789e-12, 1e300, 1e-300,
            -657434.0, -657435.0, -657434.5, 2958465.0, 2958465.99999999, 2958466.0,
            0.25, -0.25, -1.25, 38000.75, 922337203685477.5807, 9.3e18, 1.8446744073709552e19,
        };
        return table[pick % (sizeof table / sizeof table[0])];
    }

    // Texts that sit on a parser's edges: numbers, dates, words, separators.
    static const char* EdgeText(std::uint8_t pick) {
        static const char* const table[] = {
            "", " ", "0", "-0", "1e309", "-1e309", "1e-94938484", "2147483647", "2147483648",
            "-2147483648", "-2147483649", "&HFFFFFFFF", "&H", "&O777777777777", "&HFFFFFFFFFFFFFFFFFF",
            "1,,000", ",123", "$$12", "(12.5)", "12.5-", "$-1,234.50", "1.2.3", "NaN", "1.#INF",
            "-1.#IND", "True", "#FALSE#", "1/14/2004", "2004-01-14 18:00:00", "1/1/100", "12/31/9999 11:59:59 PM",
            "12/31/99999", "1/1/99", "2/30/2004", "24:00", "12:60", "Jan 35", "14-Jan-2004", "6 pm",
            "1 2 3 4 5 6 7", "1:2:3:4", "99999999999999999999999999999999999999.5",
            "0.000000000000000000000000000000000000000000000000000000000000000001e-300",
            "4.94065645841247E-324", "1.79769313486232E+308", "79228162514264337593543950335",
            "\xC3\xA9t\xC3\xA9", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xFF\xFE",
        };
        return table[pick % (sizeof table / sizeof table[0])];
    }

private:
    // Kinds with nothing to release: the value bits are taken as they come.
    static constexpr VARTYPE kPlainKinds[] = {VT_I2, VT_I4, VT_R4, VT_R8, VT_CY, VT_DATE, VT_ERROR, VT_BOOL,
                                             VT_I1, VT_UI1, VT_UI2, VT_UI4, VT_I8, VT_UI8, VT_INT, VT_UINT};

    static BSTR WideText(std::u16string_view text) {
        return SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    }

    static BSTR WideFromBytes(std::string_view bytes) {
        std::u16string text;
        for (unsigned char c : bytes) text.push_back(c);
        return WideText(text);
    }

    // A slot the maker keeps for references to point at.
    VARIANT& Slot() {
        m_slots.emplace_back();
        VariantInit(&m_slots.back());
        return m_slots.back();
    }

    // Where a reference to a variant's value points: the decimal fills the
    // whole variant, every other value sits in the union.
    static void* ValueAddress(VARIANT& v) {
        return v.vt == VT_DECIMAL ? static_cast<void*>(&v.decVal) : static_cast<void*>(&v.llVal);
    }

    void Fill(VARIANT& v, ByteReader& in, int depth) {
        const std::uint8_t pick = in.Byte();
        switch (pick % 40) {
        case 0: v.vt = VT_EMPTY; break;
        case 1: v.vt = VT_NULL; break;
        case 2: case 3: {
            v.vt = kPlainKinds[in.Byte() % (sizeof kPlainKinds / sizeof kPlainKinds[0])];
            v.llVal = in.Bits<std::int64_t>();
            break;
        }
        case 4: v.vt = VT_R8; v.dblVal = EdgeDouble(in.Byte()); break;
        case 5: v.vt = VT_DATE; v.date = EdgeDouble(in.Byte()); break;
        case 6: v.vt = VT_R8; v.dblVal = in.Bits<double>(); break;
        case 7: v.vt = VT_I4; v.lVal = in.Bits<std::int32_t>(); break;
        case 8: v.vt = VT_INT; v.intVal = in.Bits<std::int32_t>(); break;
        case 9: v.vt = VT_BOOL; v.boolVal = in.Bits<std::int16_t>(); break;
        case 10: {  // UTF-16 units as they come: lone and reversed surrogates
            const std::size_t units = in.Byte();
            std::u16string text;
            for (std::size_t i = 0; i < units && !in.Empty(); ++i) text.push_back(in.Bits<char16_t>());
            v.vt = VT_BSTR;
            v.bstrVal = WideText(text);
            break;
        }
        case 11: case 12: {  // bytes as Latin-1 units: digits, signs, letters
            const std::string_view bytes = in.Bytes(in.Byte());
            v.vt = VT_BSTR;
            v.bstrVal = WideFromBytes(bytes);
            break;
        }
        case 13: v.vt = VT_BSTR; v.bstrVal = nullptr; break;
        case 14: {  // a long text: a repeated unit, up to 65535 of them
            const std::size_t count = in.Bits<std::uint16_t>();
            const char16_t unit = in.Bits<char16_t>();
            v.vt = VT_BSTR;
            v.bstrVal = WideText(std::u16string(count, unit));
            break;
        }
        case 15: {  // an odd byte length, as SysAllocStringByteLen allows
            const std::string_view bytes = in.Bytes(in.Byte() | 1u);
            v.vt = VT_BSTR;
            v.bstrVal = SysAllocStringByteLen(bytes.data(), static_cast<UINT>(bytes.size()));
            break;
        }
        case 16: {
            const char* text = EdgeText(in.Byte());
            v.vt = VT_BSTR;
            v.bstrVal = WideFromBytes(text);
            break;
        }
        case 17: {  // the same texts as real UTF-8
            const char* text = EdgeText(in.Byte());
            v.vt = VT_BSTR;
            v.bstrVal = _bstr_t(text).Detach();
            break;
        }
        case 18: {
            const std::string_view bytes = in.Bytes(in.Byte());
            v.vt = varString;
            v.strVal = AnsiStrAlloc(bytes.data(), static_cast<UINT>(bytes.size()));
            break;
        }
        case 19: {
            const char* text = EdgeText(in.Byte());
            v.vt = varString;
            v.strVal = AnsiStrAlloc(text, static_cast<UINT>(std::strlen(text)));
            break;
        }
        case 20: v.vt = varString; v.strVal = nullptr; break;
        case 21: {
            const std::size_t count = in.Bits<std::uint16_t>();
            const std::string text(count, static_cast<char>(in.Byte()));
            v.vt = varString;
            v.strVal = AnsiStrAlloc(text.data(), static_cast<UINT>(text.size()));
            break;
        }
        case 22: case 23: {
            v.vt = (pick % 40) == 22 ? VT_DISPATCH : VT_UNKNOWN;
            m_object.AddRef();
            v.punkVal = &m_object;
            break;
        }
        case 24: v.vt = VT_DISPATCH; v.punkVal = nullptr; break;
        case 25: v.vt = VT_UNKNOWN; v.punkVal = nullptr; break;
        case 26: {  // any 16 bytes as a decimal: scale and sign may be invalid
            v.decVal = in.Bits<DECIMAL>();
            v.vt = VT_DECIMAL;
            break;
        }
        case 27: {  // a valid small decimal
            v.decVal = DECIMAL{};
            v.decVal.scale = in.Byte() % 29;
            v.decVal.sign = (in.Byte() & 1) ? DECIMAL_NEG : 0;
            v.decVal.Lo64 = in.Bits<std::uint64_t>();
            v.vt = VT_DECIMAL;
            break;
        }
        case 28: v.vt = VT_CY; v.cyVal.int64 = in.Bits<std::int64_t>(); break;
        case 29: case 30: {  // a reference to a value the maker keeps
            if (depth >= 3) break;
            VARIANT& target = Slot();
            Fill(target, in, depth + 1);
            if (target.vt & VT_BYREF) break;  // no reference to a reference
            v.vt = target.vt | VT_BYREF;
            v.byref = ValueAddress(target);
            break;
        }
        case 31: {  // a reference to a variant, which may itself be a reference
            if (depth >= 3) break;
            VARIANT& target = Slot();
            Fill(target, in, depth + 1);
            v.vt = VT_VARIANT | VT_BYREF;
            v.pvarVal = &target;
            break;
        }
        case 32: {  // a reference with nothing behind it
            v.vt = kPlainKinds[in.Byte() % (sizeof kPlainKinds / sizeof kPlainKinds[0])] | VT_BYREF;
            v.byref = nullptr;
            break;
        }
        case 33: {  // an array without its data
            v.vt = static_cast<VARTYPE>(VT_ARRAY | (in.Byte() % 24));
            v.parray = nullptr;
            break;
        }
        case 34: {  // any kind code at all, with a zero payload so that no
                    // pointer is ever made up
            v.vt = in.Bits<VARTYPE>();
            v.llVal = 0;
            break;
        }
        case 35: v.vt = VT_R4; v.fltVal = static_cast<float>(EdgeDouble(in.Byte())); break;
        case 36: v.vt = VT_DATE; v.date = in.Bits<double>(); break;
        case 37: v.vt = VT_I8; v.llVal = in.Bits<std::int64_t>(); break;
        case 38: v.vt = VT_ERROR; v.scode = in.Bits<std::int32_t>(); break;
        default: v.vt = VT_R8; v.dblVal = static_cast<double>(in.Bits<std::int16_t>()) / 4.0; break;
        }
    }

    std::deque<VARIANT> m_slots;
    CountingObject m_object;
};

// The fixed messages the engine may report from Compile.
inline bool IsCompileMessage(const std::string& m) {
    return m == "Succeed" || m == "Unknown element" || m == "Unmatched right parentheses" ||
           m == "Unknown function" || m == "operant number not matching" ||
           m == "Parameter number not matching" || m == "Invalid Operator" ||
           m == "Unmatched left parentheses";
}

inline bool StartsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace calquor::fuzz
