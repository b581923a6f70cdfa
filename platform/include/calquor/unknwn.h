// The root component interface of the automation runtime stand-in, with the
// Windows vtable order: QueryInterface, AddRef, Release.
#pragma once

#include <calquor/wtypes.h>

namespace calquor {

// Implemented by clients and servers alike; default visibility so that casts
// and type checks agree across modules.
struct CALQUOR_PLATFORM_API IUnknown {
    virtual HRESULT QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG AddRef() = 0;
    virtual ULONG Release() = 0;

protected:
    ~IUnknown() = default;
};

}  // namespace calquor
