// The value-semantics wrappers _com_error, _bstr_t and _variant_t, after the
// Windows compiler support library.
#include <calquor/comutil.h>
#include <calquor/oleauto.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <string>

namespace calquor {
namespace {

void Check(HRESULT hr) {
    if (FAILED(hr)) _com_issue_error(hr);
}

// A new BSTR holding the UTF-8 text s, or null for a null s.
BSTR BstrFromUtf8(const char* s) {
    if (!s) return nullptr;
    const std::size_t n = std::strlen(s);
    if (n > static_cast<std::size_t>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    const int len = n ? MultiByteToWideChar(CP_UTF8, 0, s, static_cast<int>(n), nullptr, 0) : 0;
    BSTR b = SysAllocStringLen(nullptr, static_cast<UINT>(len));
    if (!b) _com_issue_error(E_OUTOFMEMORY);
    if (len) MultiByteToWideChar(CP_UTF8, 0, s, static_cast<int>(n), b, len);
    return b;
}

// A copy of b keeping its exact byte length; null stays null.
BSTR CopyBstr(BSTR b) {
    if (!b) return nullptr;
    BSTR c = SysAllocStringByteLen(reinterpret_cast<const char*>(b), SysStringByteLen(b));
    if (!c) _com_issue_error(E_OUTOFMEMORY);
    return c;
}

BSTR CheckedAlloc(const OLECHAR* s) {
    BSTR b = SysAllocString(s);
    if (!b && s) _com_issue_error(E_OUTOFMEMORY);
    return b;
}

// Windows' long is 32-bit: wider values cannot be represented.
LONG CheckedLong(long value) {
    if (value < INT32_MIN || value > INT32_MAX) _com_issue_error(DISP_E_OVERFLOW);
    return static_cast<LONG>(value);
}

}  // namespace

// ---- _com_error -------------------------------------------------------------

const char* _com_error::ErrorMessage() const noexcept {
    switch (m_hresult) {
    case S_OK: return "The operation completed successfully.";
    case E_NOTIMPL: return "Not implemented.";
    case E_NOINTERFACE: return "No such interface supported.";
    case E_POINTER: return "Invalid pointer.";
    case E_ABORT: return "Operation aborted.";
    case E_FAIL: return "Unspecified error";
    case E_UNEXPECTED: return "Catastrophic failure.";
    case E_ACCESSDENIED: return "Access is denied.";
    case E_HANDLE: return "The handle is invalid.";
    case E_OUTOFMEMORY: return "Out of memory.";
    case E_INVALIDARG: return "The parameter is incorrect.";
    case DISP_E_UNKNOWNINTERFACE: return "Unknown interface.";
    case DISP_E_MEMBERNOTFOUND: return "Member not found.";
    case DISP_E_PARAMNOTFOUND: return "Parameter not found.";
    case DISP_E_TYPEMISMATCH: return "Type mismatch.";
    case DISP_E_UNKNOWNNAME: return "Unknown name.";
    case DISP_E_NONAMEDARGS: return "No named arguments.";
    case DISP_E_BADVARTYPE: return "Bad variable type.";
    case DISP_E_EXCEPTION: return "Exception occurred.";
    case DISP_E_OVERFLOW: return "Overflow.";
    case DISP_E_BADINDEX: return "Invalid index.";
    case DISP_E_UNKNOWNLCID: return "Unknown language.";
    case DISP_E_ARRAYISLOCKED: return "Memory is locked.";
    case DISP_E_BADPARAMCOUNT: return "Invalid number of parameters.";
    case DISP_E_PARAMNOTOPTIONAL: return "Parameter not optional.";
    case DISP_E_DIVBYZERO: return "Division by zero.";
    case CLASS_E_NOAGGREGATION: return "Class does not support aggregation.";
    case CLASS_E_CLASSNOTAVAILABLE: return "Class not available.";
    case REGDB_E_CLASSNOTREG: return "Class not registered.";
    default: break;
    }
    // The object holds no text of its own, so other codes are formatted once
    // and kept for the life of the process: the pointer stays valid however
    // long the caller keeps it, as on Windows, and distinct codes are few.
    static std::mutex mutex;
    static std::map<HRESULT, std::string> texts;
    try {
        const std::lock_guard<std::mutex> lock(mutex);
        auto it = texts.find(m_hresult);
        if (it == texts.end()) {
            char buf[32];
            std::snprintf(buf, sizeof buf, "Unknown error 0x%08X", static_cast<unsigned>(m_hresult));
            it = texts.emplace(m_hresult, buf).first;
        }
        return it->second.c_str();
    } catch (...) {
        return "Unknown error.";
    }
}

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

// ---- _bstr_t ----------------------------------------------------------------

_bstr_t::_bstr_t(const _bstr_t& s) : m_wstr(CopyBstr(s.m_wstr)) {}

_bstr_t::_bstr_t(_bstr_t&& s) noexcept : m_wstr(s.m_wstr), m_str(s.m_str) {
    s.m_wstr = nullptr;
    s.m_str = nullptr;
}

_bstr_t::_bstr_t(const char* s) : m_wstr(BstrFromUtf8(s)) {}

_bstr_t::_bstr_t(const OLECHAR* s) : m_wstr(CheckedAlloc(s)) {}

_bstr_t::_bstr_t(BSTR bstr, bool fCopy) : m_wstr(fCopy ? CopyBstr(bstr) : bstr) {}

_bstr_t::~_bstr_t() { Reset(); }

void _bstr_t::Reset() noexcept {
    SysFreeString(m_wstr);
    m_wstr = nullptr;
    delete[] m_str;
    m_str = nullptr;
}

// Every assignment builds the new text before it frees the old one, so a
// source that points into this object's own text stays valid.
_bstr_t& _bstr_t::operator=(const _bstr_t& s) {
    if (this != &s) Attach(CopyBstr(s.m_wstr));
    return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& s) noexcept {
    if (this != &s) {
        Reset();
        m_wstr = s.m_wstr;
        m_str = s.m_str;
        s.m_wstr = nullptr;
        s.m_str = nullptr;
    }
    return *this;
}

_bstr_t& _bstr_t::operator=(const char* s) {
    Attach(BstrFromUtf8(s));
    return *this;
}

_bstr_t& _bstr_t::operator=(const OLECHAR* s) {
    Attach(CheckedAlloc(s));
    return *this;
}

_bstr_t& _bstr_t::operator+=(const _bstr_t& s) {
    const UINT a = length(), b = s.length();
    if (b > UINT_MAX - a) _com_issue_error(E_OUTOFMEMORY);
    BSTR joined = SysAllocStringLen(nullptr, a + b);
    if (!joined) _com_issue_error(E_OUTOFMEMORY);
    if (a) std::memcpy(joined, m_wstr, a * sizeof(OLECHAR));
    if (b) std::memcpy(joined + a, s.m_wstr, b * sizeof(OLECHAR));
    Attach(joined);
    return *this;
}

_bstr_t _bstr_t::operator+(const _bstr_t& s) const {
    _bstr_t r(*this);
    r += s;
    return r;
}

_bstr_t::operator const char*() const {
    if (!m_wstr) return nullptr;
    if (m_str) return m_str;
    const UINT n = SysStringLen(m_wstr);
    if (n > static_cast<UINT>(INT_MAX)) _com_issue_error(E_OUTOFMEMORY);
    const int len =
        n ? WideCharToMultiByte(CP_UTF8, 0, m_wstr, static_cast<int>(n), nullptr, 0, nullptr, nullptr) : 0;
    if (n && len == 0) _com_issue_error(E_OUTOFMEMORY);  // the UTF-8 form exceeds INT_MAX bytes
    char* s = new (std::nothrow) char[static_cast<std::size_t>(len) + 1];
    if (!s) _com_issue_error(E_OUTOFMEMORY);
    if (len) WideCharToMultiByte(CP_UTF8, 0, m_wstr, static_cast<int>(n), s, len, nullptr, nullptr);
    s[len] = '\0';
    m_str = s;
    return m_str;
}

// A null string equals the empty one; otherwise UTF-16 units are compared in
// order and a proper prefix sorts first.
bool _bstr_t::operator==(const _bstr_t& s) const noexcept {
    const UINT n = length();
    return n == s.length() && (n == 0 || std::memcmp(m_wstr, s.m_wstr, n * sizeof(OLECHAR)) == 0);
}

bool _bstr_t::operator<(const _bstr_t& s) const noexcept {
    const UINT a = length(), b = s.length();
    for (UINT i = 0; i < a && i < b; ++i)
        if (m_wstr[i] != s.m_wstr[i]) return m_wstr[i] < s.m_wstr[i];
    return a < b;
}

unsigned int _bstr_t::length() const noexcept { return SysStringLen(m_wstr); }

// The caller may change the text through the reference: the cached 8-bit
// form is dropped now and rebuilt on the next request.
BSTR& _bstr_t::GetBSTR_Ref() noexcept {
    delete[] m_str;
    m_str = nullptr;
    return m_wstr;
}

// Frees the text and hands out the emptied slot for a callee to fill.
BSTR* _bstr_t::GetAddress() {
    Reset();
    return &m_wstr;
}

BSTR _bstr_t::copy(bool fCopy) const { return fCopy ? CopyBstr(m_wstr) : m_wstr; }

void _bstr_t::Assign(BSTR s) { Attach(CopyBstr(s)); }

void _bstr_t::Attach(BSTR s) {
    if (s != m_wstr) SysFreeString(m_wstr);
    m_wstr = s;
    delete[] m_str;
    m_str = nullptr;
}

BSTR _bstr_t::Detach() noexcept {
    BSTR s = m_wstr;
    m_wstr = nullptr;
    delete[] m_str;
    m_str = nullptr;
    return s;
}

// ---- _variant_t -------------------------------------------------------------

_variant_t::_variant_t(const VARIANT& varSrc) {
    VariantInit(this);
    Check(rtl::VarCopy(this, &varSrc));
}

_variant_t::_variant_t(const VARIANT* pSrc) {
    VariantInit(this);
    if (!pSrc) _com_issue_error(E_POINTER);
    Check(rtl::VarCopy(this, pSrc));
}

void _variant_t::CopyOwned(const VARIANT& varSrc) {
    VariantInit(this);
    Check(rtl::VarCopy(this, &varSrc));
}

_variant_t::_variant_t(VARIANT& varSrc, bool fCopy) {
    VariantInit(this);
    if (fCopy) {
        Check(rtl::VarCopy(this, &varSrc));
    } else {
        static_cast<VARIANT&>(*this) = varSrc;
        varSrc.vt = VT_EMPTY;
    }
}

_variant_t::_variant_t(short sSrc, VARTYPE vtSrc) {
    VariantInit(this);
    if (vtSrc == VT_BOOL) {
        boolVal = sSrc ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (vtSrc == VT_I2) {
        iVal = sSrc;
    } else {
        _com_issue_error(E_INVALIDARG);
    }
    vt = vtSrc;
}

_variant_t::_variant_t(long lSrc, VARTYPE vtSrc) {
    VariantInit(this);
    if (vtSrc != VT_I4 && vtSrc != VT_ERROR && vtSrc != VT_BOOL) _com_issue_error(E_INVALIDARG);
    const LONG value = CheckedLong(lSrc);
    if (vtSrc == VT_BOOL)
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    else
        lVal = value;  // scode shares the slot
    vt = vtSrc;
}

_variant_t::_variant_t(float fltSrc) noexcept {
    VariantInit(this);
    vt = VT_R4;
    fltVal = fltSrc;
}


_variant_t::_variant_t(const CY& cySrc) noexcept {
    VariantInit(this);
    vt = VT_CY;
    cyVal = cySrc;
}

_variant_t::_variant_t(const _bstr_t& bstrSrc) {
    VariantInit(this);
    bstrVal = bstrSrc.copy();
    vt = VT_BSTR;
}

_variant_t::_variant_t(const OLECHAR* pSrc) {
    VariantInit(this);
    bstrVal = CheckedAlloc(pSrc);
    vt = VT_BSTR;
}

_variant_t::_variant_t(const char* pSrc) {
    VariantInit(this);
    bstrVal = BstrFromUtf8(pSrc);
    vt = VT_BSTR;
}

_variant_t::_variant_t(IDispatch* pSrc, bool fAddRef) noexcept {
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = pSrc;
    // IDispatch derives from IUnknown: the slot is read through that view.
    if (fAddRef && punkVal) punkVal->AddRef();
}


_variant_t::_variant_t(IUnknown* pSrc, bool fAddRef) noexcept {
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = pSrc;
    if (fAddRef && pSrc) pSrc->AddRef();
}

_variant_t::_variant_t(const DECIMAL& decSrc) noexcept {
    decVal = decSrc;
    vt = VT_DECIMAL;  // after the copy: the tag overlaps the decimal's reserved word
}

_variant_t::_variant_t(unsigned char bSrc) noexcept {
    VariantInit(this);
    vt = VT_UI1;
    bVal = bSrc;
}

_variant_t::_variant_t(char cSrc) noexcept {
    VariantInit(this);
    vt = VT_I1;
    cVal = cSrc;
}

_variant_t::_variant_t(unsigned short usSrc) noexcept {
    VariantInit(this);
    vt = VT_UI2;
    uiVal = usSrc;
}

_variant_t::_variant_t(unsigned long ulSrc) {
    VariantInit(this);
    if (ulSrc > UINT32_MAX) _com_issue_error(DISP_E_OVERFLOW);  // Windows' unsigned long is 32-bit
    vt = VT_UI4;
    ulVal = static_cast<ULONG>(ulSrc);
}


_variant_t::_variant_t(unsigned int uiSrc) noexcept {
    VariantInit(this);
    vt = VT_UINT;
    uintVal = uiSrc;
}

_variant_t::_variant_t(long long i8Src) noexcept {
    VariantInit(this);
    vt = VT_I8;
    llVal = i8Src;
}

_variant_t::_variant_t(unsigned long long ui8Src) noexcept {
    VariantInit(this);
    vt = VT_UI8;
    ullVal = ui8Src;
}


namespace {

// Replaces the content of v by that of fresh. Every copying assignment builds
// its new value aside first: on failure the target is unchanged, and a
// source the target owns stays valid while it is read.
_variant_t& Replace(_variant_t& v, _variant_t&& fresh) {
    v.Clear();
    static_cast<VARIANT&>(v) = fresh.Detach();
    return v;
}

}  // namespace

_variant_t& _variant_t::operator=(const VARIANT& varSrc) {
    return this == &varSrc ? *this : Replace(*this, _variant_t(varSrc));
}

_variant_t& _variant_t::operator=(const VARIANT* pSrc) {
    if (!pSrc) _com_issue_error(E_POINTER);
    return *this = *pSrc;
}

_variant_t& _variant_t::operator=(const _variant_t& varSrc) {
    return *this = static_cast<const VARIANT&>(varSrc);
}


// As on Windows, assigning a short keeps a VT_BOOL variant boolean, and a
// long keeps VT_ERROR and VT_BOOL; other kinds are replaced.
_variant_t& _variant_t::operator=(short sSrc) {
    if (vt == VT_BOOL) {
        boolVal = sSrc ? VARIANT_TRUE : VARIANT_FALSE;
    } else if (vt != VT_I2) {
        Clear();
        vt = VT_I2;
    }
    if (vt == VT_I2) iVal = sSrc;
    return *this;
}

_variant_t& _variant_t::operator=(long lSrc) {
    const LONG value = CheckedLong(lSrc);
    if (vt == VT_BOOL) {
        boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    } else {
        if (vt != VT_I4 && vt != VT_ERROR) {
            Clear();
            vt = VT_I4;
        }
        lVal = value;
    }
    return *this;
}

_variant_t& _variant_t::operator=(float fltSrc) {
    Clear();
    vt = VT_R4;
    fltVal = fltSrc;
    return *this;
}

// A VT_DATE variant stays a date.
_variant_t& _variant_t::operator=(double dblSrc) {
    if (vt != VT_R8 && vt != VT_DATE) {
        Clear();
        vt = VT_R8;
    }
    dblVal = dblSrc;
    return *this;
}

_variant_t& _variant_t::operator=(const _bstr_t& bstrSrc) { return Replace(*this, _variant_t(bstrSrc)); }

_variant_t& _variant_t::operator=(const OLECHAR* pSrc) { return Replace(*this, _variant_t(pSrc)); }

_variant_t& _variant_t::operator=(const char* pSrc) { return Replace(*this, _variant_t(pSrc)); }

_variant_t& _variant_t::operator=(bool boolSrc) {
    Clear();
    vt = VT_BOOL;
    boolVal = boolSrc ? VARIANT_TRUE : VARIANT_FALSE;
    return *this;
}

_variant_t& _variant_t::operator=(int iSrc) {
    Clear();
    vt = VT_INT;
    intVal = iSrc;
    return *this;
}

_variant_t& _variant_t::operator=(unsigned char bSrc) {
    Clear();
    vt = VT_UI1;
    bVal = bSrc;
    return *this;
}

// Same kind and the same value. Reals compare as numbers (NaN is unequal to
// itself, 0 equals -0); currency and decimal compare their stored bits, so a
// decimal 1 differs from 1.0; strings compare their contents (null equals
// empty); interfaces compare identity. References and unknown kinds have no
// defined comparison and are unequal.
bool _variant_t::operator==(const VARIANT& varSrc) const noexcept {
    if (this == &varSrc) return true;
    if (vt != varSrc.vt) return false;
    switch (vt) {
    case VT_EMPTY: case VT_NULL: return true;
    case VT_I1: return cVal == varSrc.cVal;
    case VT_UI1: return bVal == varSrc.bVal;
    case VT_I2: case VT_BOOL: return iVal == varSrc.iVal;
    case VT_UI2: return uiVal == varSrc.uiVal;
    case VT_I4: case VT_ERROR: case VT_INT: return lVal == varSrc.lVal;
    case VT_UI4: case VT_UINT: return ulVal == varSrc.ulVal;
    case VT_I8: case VT_UI8: case VT_CY: return llVal == varSrc.llVal;
    case VT_R4: return fltVal == varSrc.fltVal;
    case VT_R8: case VT_DATE: return dblVal == varSrc.dblVal;
    case VT_DECIMAL:
        return decVal.signscale == varSrc.decVal.signscale && decVal.Hi32 == varSrc.decVal.Hi32 &&
               decVal.Lo64 == varSrc.decVal.Lo64;
    case VT_BSTR: {
        const UINT n = SysStringByteLen(bstrVal);
        return n == SysStringByteLen(varSrc.bstrVal) && (n == 0 || std::memcmp(bstrVal, varSrc.bstrVal, n) == 0);
    }
    case varString: {
        const char* mine = GetStrVal(*this);
        const char* theirs = GetStrVal(varSrc);
        const UINT n = AnsiStrLen(mine);
        return n == AnsiStrLen(theirs) && (n == 0 || std::memcmp(mine, theirs, n) == 0);
    }
    case VT_DISPATCH: case VT_UNKNOWN: return punkVal == varSrc.punkVal;
    default: return false;
    }
}

// ---- Extractors: the value itself when the kind matches, else a converted
// copy; the variant is never changed.

namespace {

_variant_t Converted(const _variant_t& v, VARTYPE kind) {
    _variant_t r;
    r.ChangeType(kind, &v);
    return r;
}

}  // namespace

_variant_t::operator short() const { return vt == VT_I2 ? iVal : Converted(*this, VT_I2).iVal; }

_variant_t::operator long() const { return vt == VT_I4 ? lVal : Converted(*this, VT_I4).lVal; }

_variant_t::operator int() const { return vt == VT_INT ? intVal : Converted(*this, VT_INT).intVal; }

_variant_t::operator unsigned char() const { return vt == VT_UI1 ? bVal : Converted(*this, VT_UI1).bVal; }

_variant_t::operator char() const { return vt == VT_I1 ? cVal : Converted(*this, VT_I1).cVal; }

_variant_t::operator unsigned short() const { return vt == VT_UI2 ? uiVal : Converted(*this, VT_UI2).uiVal; }

_variant_t::operator unsigned int() const { return vt == VT_UINT ? uintVal : Converted(*this, VT_UINT).uintVal; }

_variant_t::operator long long() const { return vt == VT_I8 ? llVal : Converted(*this, VT_I8).llVal; }

_variant_t::operator float() const { return vt == VT_R4 ? fltVal : Converted(*this, VT_R4).fltVal; }

_variant_t::operator double() const { return vt == VT_R8 ? dblVal : Converted(*this, VT_R8).dblVal; }

_variant_t::operator bool() const { return (vt == VT_BOOL ? boolVal : Converted(*this, VT_BOOL).boolVal) != 0; }

_variant_t::operator _bstr_t() const {
    if (vt == VT_BSTR) return _bstr_t(bstrVal, true);
    _variant_t r = Converted(*this, VT_BSTR);
    return _bstr_t(r.Detach().bstrVal, false);
}

_variant_t::operator CY() const { return vt == VT_CY ? cyVal : Converted(*this, VT_CY).cyVal; }

_variant_t::operator DECIMAL() const {
    DECIMAL d = vt == VT_DECIMAL ? decVal : Converted(*this, VT_DECIMAL).decVal;
    d.wReserved = 0;  // the kind tag shares this word
    return d;
}

void _variant_t::Clear() { Check(rtl::VarClear(this)); }

void _variant_t::Attach(VARIANT& varSrc) {
    if (&varSrc == this) return;
    Clear();
    static_cast<VARIANT&>(*this) = varSrc;
    varSrc.vt = VT_EMPTY;
}

VARIANT _variant_t::Detach() noexcept {
    VARIANT v = *this;
    VariantInit(this);
    return v;
}

VARIANT* _variant_t::GetAddress() {
    Clear();
    return this;
}

// Converted aside so that a failure leaves the variant as it was, whatever
// the conversion did to its destination.
void _variant_t::ChangeType(VARTYPE vartype, const _variant_t* pSrc) {
    if (!pSrc) pSrc = this;
    if (pSrc == this && vt == vartype) return;
    VARIANT converted;
    VariantInit(&converted);
    Check(rtl::VarCast(&converted, pSrc, 0, vartype));
    const HRESULT hr = rtl::VarClear(this);
    if (FAILED(hr)) {
        rtl::VarClear(&converted);
        _com_issue_error(hr);
    }
    static_cast<VARIANT&>(*this) = converted;
}

void _variant_t::SetString(const char* pSrc) { *this = pSrc; }

}  // namespace calquor
