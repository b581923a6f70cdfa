// The build flavour of the engine, chosen at build time by
// CALQUOR_RUNTIME_RULES: 0 for CLQMFC (and the Calquor_MFC server), 1 for
// Calquor_VCL (and Calquor_Auto). Code reads the flavour's rules through
// `Rules` (Rules.h), where both rule sets stand side by side.
#pragma once

#ifndef CALQUOR_RUNTIME_RULES
#define CALQUOR_RUNTIME_RULES 0
#endif

namespace calquor::flavour {

inline constexpr bool kRuntimeRules = CALQUOR_RUNTIME_RULES != 0;

}  // namespace calquor::flavour
