// The module's type library on Windows: its own TYPELIB resource, loaded
// without touching the registry.
#include "../OleText.h"
#include "../ServerModule.h"

namespace calquor::server {

HRESULT LoadModuleTypeLib(ITypeLib** library) {
    const std::string path = ModulePath();
    if (path.empty()) return E_UNEXPECTED;
    return LoadTypeLibEx(oletext::Wide(path).c_str(), REGKIND_NONE, library);
}

}  // namespace calquor::server
