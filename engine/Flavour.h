// The build flavour of the engine, chosen at build time. CLQMFC (and the
// Calquor_MFC server) follow the automation runtime's conversions and a
// catch-all in Calculate; Calquor_VCL (and Calquor_Auto) follow the second
// runtime library's rules. Code asks kRuntimeRules with `if constexpr` in the
// few places where the flavours differ.
#pragma once

#ifndef CALQUOR_RUNTIME_RULES
#define CALQUOR_RUNTIME_RULES 0
#endif

namespace calquor::flavour {

inline constexpr bool kRuntimeRules = CALQUOR_RUNTIME_RULES != 0;

}  // namespace calquor::flavour
