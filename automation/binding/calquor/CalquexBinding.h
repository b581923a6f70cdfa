// The automation servers' binding of the engine, found before the installed
// header of the same name (engine/CMakeLists.txt puts this folder first for
// the servers' engines): the engine holds one counted reference to a
// client's IDataAdapter and is given any IDispatch, which it asks for that
// interface (automation/AdapterBridge.cpp).
#pragma once

#include <calquor/IDataAdapter.h>

namespace calquor {

struct CalquexBinding {
    using Handle = IDataAdapter*;
    using Source = IDispatch*;
};

}  // namespace calquor
