// PLACEHOLDER: replaced by the number text implementation.
#include <calquor/oleauto.h>
namespace calquor {
HRESULT VarR8FromStr(const OLECHAR*, LCID, ULONG, DOUBLE*) { return E_NOTIMPL; }
HRESULT VarI4FromStr(const OLECHAR*, LCID, ULONG, LONG*) { return E_NOTIMPL; }
HRESULT VarBoolFromStr(const OLECHAR*, LCID, ULONG, VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT VarBstrFromR8(DOUBLE, LCID, ULONG, BSTR*) { return E_NOTIMPL; }
HRESULT VarBstrFromR4(FLOAT, LCID, ULONG, BSTR*) { return E_NOTIMPL; }
}  // namespace calquor
