// Read access to an engine's compiled form for the engine's own tests: the
// postfix record, the compiled flag and how the compiled form runs, which
// hosts have no use for. Private
// to the source tree, never installed.
#pragma once

#include <calquor/Calquex.h>

#include "Program.h"

#include <deque>

namespace calquor::detail {

struct CalquexAccess {
    static const std::deque<Token>& Postfix(const Calquex& engine) { return engine.m_Postfix; }
    static bool Compiled(const Calquex& engine) { return engine.m_bCompiled; }
    // General also when nothing is compiled.
    static RunKind Run(const Calquex& engine) {
        return engine.m_pProgram ? engine.m_pProgram->run : RunKind::General;
    }
};

}  // namespace calquor::detail
