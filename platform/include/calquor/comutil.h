// Value-semantics wrappers of the automation runtime stand-in, after the
// Windows compiler support library (comutil.h): _com_error, _bstr_t and
// _variant_t. Every failing operation throws _com_error with the HRESULT.
#pragma once

#include <calquor/ansistr.h>
#include <calquor/wtypes.h>
// SysFreeString, which the wrapper's destructor calls (that header brings this
// one at its end, so either may come first).
#include <calquor/oleauto.h>

#include <cstddef>

namespace calquor {

// Thrown by value when a wrapper operation fails. Not derived from
// std::exception, as on Windows; hosts catch it by its own type. Default
// visibility so that a catch in another module matches.
class CALQUOR_PLATFORM_API _com_error {
public:
    explicit _com_error(HRESULT hr) noexcept : m_hresult(hr) {}
    HRESULT Error() const noexcept { return m_hresult; }
    // A fixed English description of the code, e.g. "Type mismatch.".
    const char* ErrorMessage() const noexcept;

private:
    HRESULT m_hresult;
};

// Throws _com_error(hr).
[[noreturn]] CALQUOR_PLATFORM_API void _com_issue_error(HRESULT hr);


// An owned BSTR with deep-copy semantics. The 8-bit form (operator const
// char*) is UTF-8, made on demand and cached until the text changes.
class CALQUOR_PLATFORM_API _bstr_t {
public:
    _bstr_t() noexcept = default;
    _bstr_t(const _bstr_t& s);
    _bstr_t(_bstr_t&& s) noexcept;
    _bstr_t(const char* s);
    _bstr_t(const OLECHAR* s);
    // Takes a copy of bstr when fCopy is true, else takes ownership of it.
    _bstr_t(BSTR bstr, bool fCopy);
    ~_bstr_t();

    _bstr_t& operator=(const _bstr_t& s);
    _bstr_t& operator=(_bstr_t&& s) noexcept;
    _bstr_t& operator=(const char* s);
    _bstr_t& operator=(const OLECHAR* s);
    _bstr_t& operator+=(const _bstr_t& s);
    _bstr_t operator+(const _bstr_t& s) const;

    operator const OLECHAR*() const noexcept { return m_wstr; }
    operator const char*() const;
    bool operator!() const noexcept { return m_wstr == nullptr; }
    bool operator==(const _bstr_t& s) const noexcept;
    bool operator!=(const _bstr_t& s) const noexcept { return !(*this == s); }
    bool operator<(const _bstr_t& s) const noexcept;

    // Length in UTF-16 units.
    unsigned int length() const noexcept;
    // The owned BSTR (may be null for the empty string); stays owned.
    BSTR GetBSTR() const noexcept { return m_wstr; }
    BSTR& GetBSTR_Ref() noexcept;
    BSTR* GetAddress();
    // A new BSTR copy the caller frees, or the owned one when fCopy is false.
    BSTR copy(bool fCopy = true) const;
    void Assign(BSTR s);
    void Attach(BSTR s);
    BSTR Detach() noexcept;

private:
    void Reset() noexcept;
    BSTR m_wstr = nullptr;
    mutable char* m_str = nullptr;
};

namespace detail {
// Kinds whose value is plain data: copied bitwise, nothing to release. The
// wrapper handles them inline, which keeps numeric work free of calls.
constexpr bool IsPlainKind(VARTYPE vt) noexcept {
    return vt <= VT_DATE || vt == VT_ERROR || vt == VT_BOOL || vt == VT_DECIMAL || (vt >= VT_I1 && vt <= VT_UINT);
}
}  // namespace detail

// A VARIANT with value semantics: copying deep-copies, destruction clears.
// Constructors mirror comutil: int gives VT_INT, long VT_I4 (a value that
// does not fit 32 bits throws DISP_E_OVERFLOW, as Windows' long is 32-bit),
// short VT_I2, char VT_I1, unsigned char VT_UI1, unsigned short VT_UI2,
// unsigned int VT_UINT, unsigned long VT_UI4, long long VT_I8, unsigned long
// long VT_UI8, float VT_R4, double VT_R8 (or VT_DATE), bool VT_BOOL, text
// VT_BSTR. Extractors convert with VariantChangeType and throw on failure.
class CALQUOR_PLATFORM_API _variant_t : public VARIANT {
public:
    _variant_t() noexcept;
    _variant_t(const VARIANT& varSrc);
    _variant_t(const VARIANT* pSrc);
    _variant_t(const _variant_t& varSrc);
    _variant_t(_variant_t&& varSrc) noexcept;
    // Takes the content of varSrc when fCopy is false (varSrc becomes Empty).
    _variant_t(VARIANT& varSrc, bool fCopy);
    _variant_t(short sSrc, VARTYPE vtSrc = VT_I2);
    _variant_t(long lSrc, VARTYPE vtSrc = VT_I4);
    _variant_t(float fltSrc) noexcept;
    _variant_t(double dblSrc, VARTYPE vtSrc = VT_R8);
    _variant_t(const CY& cySrc) noexcept;
    _variant_t(const _bstr_t& bstrSrc);
    _variant_t(const OLECHAR* pSrc);
    _variant_t(const char* pSrc);
    _variant_t(IDispatch* pSrc, bool fAddRef = true) noexcept;
    _variant_t(bool boolSrc) noexcept;
    _variant_t(IUnknown* pSrc, bool fAddRef = true) noexcept;
    _variant_t(const DECIMAL& decSrc) noexcept;
    _variant_t(unsigned char bSrc) noexcept;
    _variant_t(char cSrc) noexcept;
    _variant_t(unsigned short usSrc) noexcept;
    _variant_t(unsigned long ulSrc);
    _variant_t(int iSrc) noexcept;
    _variant_t(unsigned int uiSrc) noexcept;
    _variant_t(long long i8Src) noexcept;
    _variant_t(unsigned long long ui8Src) noexcept;
    ~_variant_t();

    _variant_t& operator=(const VARIANT& varSrc);
    _variant_t& operator=(const VARIANT* pSrc);
    _variant_t& operator=(const _variant_t& varSrc);
    _variant_t& operator=(_variant_t&& varSrc) noexcept;
    _variant_t& operator=(short sSrc);
    _variant_t& operator=(long lSrc);
    _variant_t& operator=(float fltSrc);
    _variant_t& operator=(double dblSrc);
    _variant_t& operator=(const _bstr_t& bstrSrc);
    _variant_t& operator=(const OLECHAR* pSrc);
    _variant_t& operator=(const char* pSrc);
    _variant_t& operator=(bool boolSrc);
    _variant_t& operator=(int iSrc);
    _variant_t& operator=(unsigned char bSrc);

    // Kind-and-value equality as the Windows wrapper defines it (VarCmp-like
    // for simple kinds): same kind and equal value.
    bool operator==(const VARIANT& varSrc) const noexcept;
    bool operator!=(const VARIANT& varSrc) const noexcept { return !(*this == varSrc); }

    operator short() const;
    operator long() const;
    operator int() const;
    operator unsigned char() const;
    operator char() const;
    operator unsigned short() const;
    operator unsigned int() const;
    operator long long() const;
    operator float() const;
    operator double() const;
    operator bool() const;
    operator _bstr_t() const;
    operator CY() const;
    operator DECIMAL() const;

    void Clear();
    void Attach(VARIANT& varSrc);
    VARIANT Detach() noexcept;
    VARIANT& GetVARIANT() noexcept { return *this; }
    VARIANT* GetAddress();
    // Converts in place (or from pSrc) to kind vartype; throws on failure and
    // then leaves the variant unchanged.
    void ChangeType(VARTYPE vartype, const _variant_t* pSrc = nullptr);
    void SetString(const char* pSrc);

private:
    // Deep copy of a kind that owns something; throws _com_error.
    void CopyOwned(const VARIANT& varSrc);
};

inline _variant_t::_variant_t() noexcept : VARIANT{} { vt = VT_EMPTY; }

inline _variant_t::_variant_t(const _variant_t& varSrc) : VARIANT{} {
    if (detail::IsPlainKind(varSrc.vt))
        static_cast<VARIANT&>(*this) = varSrc;
    else
        CopyOwned(varSrc);
}

inline _variant_t::_variant_t(_variant_t&& varSrc) noexcept : VARIANT(varSrc) {
    varSrc.vt = VT_EMPTY;
}

// A wide string, the commonest kind that owns something, is freed here
// directly: clearing would free it the same way, after two more calls.
inline _variant_t::~_variant_t() {
    if (vt == VT_BSTR)
        SysFreeString(bstrVal);
    else if (!detail::IsPlainKind(vt))
        rtl::VarClear(this);
}

inline _variant_t::_variant_t(double dblSrc, VARTYPE vtSrc) : VARIANT{} {
    if (vtSrc != VT_R8 && vtSrc != VT_DATE) _com_issue_error(E_INVALIDARG);
    vt = vtSrc;
    dblVal = dblSrc;
}

inline _variant_t::_variant_t(bool boolSrc) noexcept : VARIANT{} {
    vt = VT_BOOL;
    boolVal = boolSrc ? VARIANT_TRUE : VARIANT_FALSE;
}

inline _variant_t::_variant_t(int iSrc) noexcept : VARIANT{} {
    vt = VT_INT;
    intVal = iSrc;
}

inline _variant_t& _variant_t::operator=(_variant_t&& varSrc) noexcept {
    if (this != &varSrc) {
        if (!detail::IsPlainKind(vt)) rtl::VarClear(this);
        static_cast<VARIANT&>(*this) = static_cast<const VARIANT&>(varSrc);
        varSrc.vt = VT_EMPTY;
    }
    return *this;
}

}  // namespace calquor
