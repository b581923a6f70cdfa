// PLACEHOLDER: replaced by the code-page implementation.
#include <calquor/oleauto.h>
namespace calquor {
int MultiByteToWideChar(UINT, DWORD, const char*, int, OLECHAR*, int) { return 0; }
int WideCharToMultiByte(UINT, DWORD, const OLECHAR*, int, char*, int, const char*, BOOL*) { return 0; }
}  // namespace calquor
