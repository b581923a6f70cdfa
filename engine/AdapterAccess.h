// How the engine talks to its data adapter. The plain libraries bind a C++
// DataAdapter, the automation servers a client's IDataAdapter; each library
// compiles exactly one implementation of these functions (and of
// Calquex::SetDataAdapter), so the engine sources stay the same.
#pragma once

#include <calquor/Calquex.h>

#include <string>

namespace calquor::adapter {

using Handle = Calquex::AdapterHandle;

// The adapter a new engine starts bound to: the plain library's default
// instance, or none in the automation servers.
Handle DefaultHandle() noexcept;

// Takes and gives back the engine's hold on an adapter (a counted reference
// in the automation servers, nothing for a C++ adapter).
void Retain(Handle adapter) noexcept;
void Release(Handle adapter) noexcept;

// The three operations, with a non-null adapter. Names are UTF-8.
bool IsKnown(Handle adapter, const std::string& name);
_variant_t OperantValue(Handle adapter, const std::string& name);
std::string FormulaByName(Handle adapter, const std::string& name);

}  // namespace calquor::adapter
