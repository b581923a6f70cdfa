// Read access to an engine's compiled form for the evaluator and the engine's
// own tests: the postfix record, the compiled flag, the compiled form and how
// it runs, which hosts have no use for. Private to the source tree, never
// installed.
#pragma once

#include <calquor/Calquex.h>

#include "Program.h"

#include <deque>

namespace calquor::detail {

struct CalquexAccess {
    static const std::deque<Token>& Postfix(const Calquex& engine) { return engine.m_Postfix; }
    static bool Compiled(const Calquex& engine) { return engine.m_bCompiled; }
    // The compiled form that Calculate would run now: null unless the
    // current text is compiled, and for the empty text, whose value Calculate
    // gives without running anything.
    static CompiledProgram* Runnable(Calquex& engine) {
        return engine.m_bCompiled && engine.m_szFormula[0] != '\0' ? engine.m_pProgram.get() : nullptr;
    }
    // General also when nothing is compiled.
    static RunKind Run(const Calquex& engine) {
        return engine.m_pProgram ? engine.m_pProgram->run : RunKind::General;
    }
};

}  // namespace calquor::detail
