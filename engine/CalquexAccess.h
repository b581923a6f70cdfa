// Read access to an engine's compiled form for the engine's own tests: the
// postfix record and the compiled flag, which hosts have no use for. Private
// to the source tree, never installed.
#pragma once

#include <calquor/Calquex.h>

#include <deque>

namespace calquor::detail {

struct CalquexAccess {
    static const std::deque<Token>& Postfix(const Calquex& engine) { return engine.m_Postfix; }
    static bool Compiled(const Calquex& engine) { return engine.m_bCompiled; }
};

}  // namespace calquor::detail
