// How the engine talks to its data adapter. The plain libraries bind a C++
// DataAdapter, the automation servers a client's IDataAdapter. The plain
// libraries' calls are defined here, the servers' in the automation bridge;
// each library defines DefaultHandle and Calquex::SetDataAdapter, so the
// engine sources stay the same.
#pragma once

#include <calquor/Calquex.h>
#if !defined(CALQUOR_AUTOMATION_ENGINE)
#include <calquor/DataAdapter.h>
#endif

#include <string>

namespace calquor::adapter {

using Handle = Calquex::AdapterHandle;

// The adapter a new engine starts bound to: the plain library's default
// instance, or none in the automation servers.
Handle DefaultHandle() noexcept;

// The three operations, with a non-null adapter. Names are NUL-terminated
// UTF-8. The plain libraries call their C++ adapter directly, inline in the
// evaluator's loop; the servers go through the bridge to IDataAdapter.
//
// Retain and Release take and give back the engine's hold on an adapter: a
// counted reference in the servers, nothing for a C++ adapter, which its
// host owns.
#if defined(CALQUOR_AUTOMATION_ENGINE)
void Retain(Handle adapter) noexcept;
void Release(Handle adapter) noexcept;
bool IsKnown(Handle adapter, const char* name);
_variant_t OperantValue(Handle adapter, const char* name);
std::string FormulaByName(Handle adapter, const char* name);
#else
inline void Retain(Handle) noexcept {}
inline void Release(Handle) noexcept {}
inline bool IsKnown(Handle adapter, const char* name) { return adapter->IsKnown(name); }
inline _variant_t OperantValue(Handle adapter, const char* name) { return adapter->GetOperantValue(name); }
inline std::string FormulaByName(Handle adapter, const char* name) { return adapter->GetFormulaByName(name); }
#endif

}  // namespace calquor::adapter
