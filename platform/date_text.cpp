// PLACEHOLDER: replaced by the date text implementation.
#include <calquor/oleauto.h>
namespace calquor {
HRESULT VarDateFromStr(const OLECHAR*, LCID, ULONG, DATE*) { return E_NOTIMPL; }
HRESULT VarBstrFromDate(DATE, LCID, ULONG, BSTR*) { return E_NOTIMPL; }
}  // namespace calquor
