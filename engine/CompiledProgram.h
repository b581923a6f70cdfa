// What the evaluator resolves once from a compiled postfix sequence, so that
// a calculation does no lookups by name: each function token's table row,
// each operand's and reference's UTF-8 name, and per reference the nested
// engine that compiled the text the adapter last gave for it.
#pragma once

#include <calquor/Calquex.h>

#include "FunctionTable.h"

#include <memory>
#include <string>
#include <vector>

namespace calquor::detail {

// What a TT_FORMULA step keeps between calculations: the text last calculated
// for the reference and the engine that holds it compiled; reused while the
// adapter answers the same text, so an unchanged formula is not compiled
// again.
struct ReferenceState {
    std::string text;
    std::shared_ptr<Calquex> engine;
};

// How a compiled formula runs: the general run, or the evaluator's fast
// path, with or without function calls.
enum class RunKind : unsigned char { General, Straight, StraightWithFunctions };

// One step per token of m_Postfix, in the same order.
struct Step {
    TokenType type = TT_END;
    // The token's position and, for literals, its value.
    int pos = 0;
    _variant_t value;
    // TT_FUNCTION: the table row (null for a name the table lacks).
    const FUNCTION* row = nullptr;
    // TT_COLUMN and TT_FORMULA: the name as the adapter receives it.
    std::string name;
    // TT_FORMULA: its state, held by the program.
    ReferenceState* reference = nullptr;
};

struct CompiledProgram {
    std::vector<Step> steps;
    // One per TT_FORMULA step; sized before the steps point into it.
    std::vector<ReferenceState> references;
    // How the steps run (see StraightLine.h).
    RunKind run = RunKind::General;
};

// Resolves the steps of postfix.
std::shared_ptr<CompiledProgram> Resolve(const std::deque<Token>& postfix);

}  // namespace calquor::detail
