// PLACEHOLDER: replaced by the conversion implementation.
#include <calquor/oleauto.h>
namespace calquor {
HRESULT VariantChangeTypeEx(VARIANTARG*, const VARIANTARG*, LCID, USHORT, VARTYPE) { return E_NOTIMPL; }
HRESULT VariantChangeType(VARIANTARG*, const VARIANTARG*, USHORT, VARTYPE) { return E_NOTIMPL; }
}  // namespace calquor
