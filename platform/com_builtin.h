// The classes the runtime serves itself, without the registry.
#pragma once

#include <calquor/oleauto.h>

namespace calquor::com {

// The registrar's class object (IUnknown or IClassFactory).
HRESULT GetRegistrarClassObject(REFIID riid, void** ppv);

}  // namespace calquor::com
