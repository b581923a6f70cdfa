// PLACEHOLDER: replaced by the date implementation.
#include <calquor/oleauto.h>
namespace calquor {
INT VariantTimeToSystemTime(DOUBLE, SYSTEMTIME*) { return FALSE; }
INT SystemTimeToVariantTime(SYSTEMTIME*, DOUBLE*) { return FALSE; }
HRESULT VarUdateFromDate(DATE, ULONG, UDATE*) { return E_NOTIMPL; }
HRESULT VarDateFromUdate(UDATE*, ULONG, DATE*) { return E_NOTIMPL; }
void GetLocalTime(SYSTEMTIME*) {}
}  // namespace calquor
