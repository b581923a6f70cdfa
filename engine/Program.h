// The executable form of a compiled formula: one step per token of
// m_Postfix, each function step with its table row and each operand's and
// reference's UTF-8 name, so that a calculation does no lookups by name; per
// reference the nested engine that compiled the text the adapter last gave
// for it; and how the steps run. The compiler builds it in the same pass that
// fills m_Postfix, from its tokens and the rows the compiler found. Header
// only, so that tests can look at a compiled form.
#pragma once

#include <calquor/Calquex.h>

#include "Conversions.h"
#include "ValueStack.h"
#include "functions/FunctionTable.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
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
// path, with or without function calls (see StraightLine.h).
enum class RunKind : unsigned char { General, Straight, StraightWithFunctions };

// One step per token of m_Postfix, in the same order.
struct Step {
    TokenType type = TT_END;
    // The token's position and, for literals, its value.
    int pos = 0;
    _variant_t value;
    // TT_FUNCTION: the table row.
    const FUNCTION* row = nullptr;
    // TT_COLUMN and TT_FORMULA: the name as the adapter receives it.
    std::string name;
    // TT_FORMULA: its state, held by the program.
    ReferenceState* reference = nullptr;
};

// Straight when steps are operands, references, literals, operators and
// calls of known functions only, and a run of them always finds the values an
// operation takes and keeps at most ValueStack::kInlineDepth values on the
// stack, ending with at least one. A formula with too few values for an
// operator somewhere ("1 + 2 * 3 - , 5") therefore runs the general way,
// which checks the stack and reports the failure.
inline RunKind KindOfRun(const std::vector<Step>& steps) noexcept {
    std::size_t depth = 0;
    bool functions = false;
    for (const Step& step : steps) {
        switch (step.type) {
        case TT_COLUMN: case TT_FORMULA: case TT_INTEGER: case TT_REAL: case TT_STRING:
            if (++depth > ValueStack::kInlineDepth) return RunKind::General;
            break;
        case TT_NEG:
            if (depth < 1) return RunKind::General;
            break;
        case TT_FUNCTION: {
            if (!step.row) return RunKind::General;
            const std::size_t count = ArgumentCount(*step.row);
            if (depth < count) return RunKind::General;
            depth = depth - count + 1;
            if (depth > ValueStack::kInlineDepth) return RunKind::General;
            functions = true;
            break;
        }
        default:
            // Anything else takes the general run.
            if (!(step.type >= TT_EQ && step.type <= TT_OR) || depth < 2) return RunKind::General;
            --depth;
            break;
        }
    }
    if (depth < 1) return RunKind::General;
    return functions ? RunKind::StraightWithFunctions : RunKind::Straight;
}

// The executable form. Each engine holds its own: the reference states are
// the engine's caches.
struct CompiledProgram {
    std::vector<Step> steps;
    // One per TT_FORMULA step; sized before the steps point into it.
    std::vector<ReferenceState> references;
    // How the steps run.
    RunKind run = RunKind::General;

    // Points the reference steps at their states and decides the run.
    void Finish() {
        std::size_t count = 0;
        for (const Step& step : steps) count += step.type == TT_FORMULA;
        references.assign(count, ReferenceState{});
        auto state = references.begin();
        for (Step& step : steps)
            if (step.type == TT_FORMULA) step.reference = &*state++;
        run = KindOfRun(steps);
    }
    // The same steps with fresh reference states, for a copied engine.
    std::shared_ptr<CompiledProgram> Copy() const {
        auto copy = std::make_shared<CompiledProgram>();
        copy->steps = steps;
        copy->Finish();
        return copy;
    }
};

// The executable form of postfix, whose TT_FUNCTION tokens take rows[0..count)
// in order. Throws what making a name's text throws.
inline std::shared_ptr<CompiledProgram> BuildProgram(const std::deque<Token>& postfix, const FUNCTION* const* rows,
                                                     std::size_t count) {
    auto program = std::make_shared<CompiledProgram>();
    program->steps.resize(postfix.size());
    auto step = program->steps.begin();
    std::size_t call = 0;
    for (const Token& token : postfix) {
        step->type = token.nType;
        step->pos = token.nPos;
        if (token.nType == TT_FUNCTION) {
            step->row = call < count ? rows[call++] : nullptr;
        } else if (token.nType == TT_COLUMN || token.nType == TT_FORMULA) {
            step->name = conv::TextOf(token.vValue);
        } else if (!(token.nType >= TT_EQ && token.nType <= TT_OR)) {
            // The step's value is still Empty: a plain kind is copied bitwise.
            if (IsPlainKind(token.vValue.vt))
                static_cast<VARIANT&>(step->value) = token.vValue;
            else
                step->value = token.vValue;
        }
        ++step;
    }
    program->Finish();
    return program;
}

}  // namespace calquor::detail
