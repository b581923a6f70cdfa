// The executable form of a compiled formula: one step per token of
// m_Postfix, each function step with its table row and each operand's and
// reference's UTF-8 name, so that a calculation does no lookups by name; per
// reference the nested engine that compiled the text the adapter gave for it;
// and how the steps run. The compiler builds it in the same pass that
// fills m_Postfix, from the rows and names it found there. Header only, so
// that tests can look at a compiled form.
#pragma once

#include <calquor/Calquex.h>

#include "Conversions.h"
#include "Operators.h"
#include "ValueStack.h"
#include "functions/FunctionTable.h"

#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace calquor::detail {

// What a TT_FORMULA step keeps between calculations: the text last calculated
// for the reference and the engine that holds it compiled; reused while the
// adapter answers the same text, so an unchanged formula is not compiled
// again. A calculation of the reference from inside a running one, with
// another text, uses an engine of its own and leaves these as they are.
struct ReferenceState {
    std::string text;
    std::shared_ptr<Calquex> engine;
    // Calculations of this reference now running (more than one when the
    // adapter recalculates the outer engine from inside).
    unsigned running = 0;
};

// How a compiled formula runs: the general run, the evaluator's fast path,
// with or without function calls (see StraightLine.h), or the run on plain
// numbers (see NumberRun.h).
enum class RunKind : unsigned char { General, Straight, StraightWithFunctions, Numbers };

// One step per token of m_Postfix, in the same order.
struct Step {
    TokenType type = TT_END;
    // The token's position.
    int pos = 0;
    // TT_COLUMN and TT_FORMULA: the name as the adapter receives it, NUL
    // terminated. Every occurrence of one name has the same pointer, held
    // by the program: hosts may key their lookups on it.
    const char* name = nullptr;
    // TT_FUNCTION: the table row. TT_FORMULA: its state, held by the program.
    const FUNCTION* row = nullptr;
    ReferenceState* reference = nullptr;
    // Literals: the value.
    _variant_t value;
};

// The kinds of the values on the stack after the first count steps, from the
// bottom, when every operand and reference answers a double: the kinds a run
// on plain numbers knows without looking. False when a step there takes or
// gives anything but doubles, integer literals and booleans held directly, in
// the operations the in-place rule works (ApplyBinaryInPlace) and the
// functions that give a number for any numbers, when "=" would meet two
// kinds, or when the stack would run short or hold more than
// ValueStack::kInlineDepth values: those formulas keep another run.
inline bool NumberKinds(const std::vector<Step>& steps, std::size_t count, VARTYPE (&kinds)[ValueStack::kInlineDepth],
                        std::size_t& depth) noexcept {
    const auto number = [](VARTYPE vt) { return vt == VT_R8 || vt == VT_INT || vt == VT_I4; };
    const auto truth = [&](VARTYPE vt) { return number(vt) || vt == VT_BOOL; };
    depth = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const Step& step = steps[i];
        switch (step.type) {
        case TT_COLUMN: case TT_FORMULA: case TT_INTEGER: case TT_REAL: {
            const VARTYPE vt = step.type == TT_COLUMN || step.type == TT_FORMULA ? VARTYPE{VT_R8} : step.value.vt;
            if (depth == ValueStack::kInlineDepth || !number(vt)) return false;
            kinds[depth++] = vt;
            break;
        }
        case TT_NEG:
            if (depth < 1 || !number(kinds[depth - 1])) return false;
            kinds[depth - 1] = VT_R8;
            break;
        case TT_FUNCTION: {
            if (!step.row || !step.row->pfnNumbers) return false;
            const std::size_t arguments = ArgumentCount(*step.row);
            if (arguments == 0 || depth < arguments) return false;
            for (std::size_t k = depth - arguments; k < depth; ++k)
                if (!number(kinds[k])) return false;
            depth -= arguments;
            kinds[depth++] = VT_R8;
            break;
        }
        default: {
            if (!IsOperatorKind(step.type) || depth < 2) return false;
            const VARTYPE left = kinds[depth - 2], right = kinds[depth - 1];
            bool fits = false;
            switch (RowOf(step.type).rule) {
            case OperatorRule::Arithmetic: fits = number(left) && number(right); break;
            case OperatorRule::Comparison: fits = number(left) && number(right); break;
            case OperatorRule::Equality: fits = left == right && truth(left); break;
            case OperatorRule::Logic: fits = truth(left) && truth(right); break;
            default: break;
            }
            if (!fits) return false;
            kinds[depth - 2] = RowOf(step.type).rule == OperatorRule::Arithmetic ? VARTYPE{VT_R8} : VARTYPE{VT_BOOL};
            --depth;
            break;
        }
        }
    }
    return true;
}

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
// the engine's caches, and only that engine's thread runs it.
struct CompiledProgram {
    std::vector<Step> steps;
    // One per TT_FORMULA step.
    std::vector<ReferenceState> references;
    // The distinct names of the steps, each NUL terminated.
    std::unique_ptr<char[]> names;
    std::size_t namesSize = 0;
    // How the steps run, and for RunKind::Numbers the kind of the result.
    RunKind run = RunKind::General;
    VARTYPE numberResult = VT_EMPTY;
    // Calculations now running on this program, and its own hold on itself
    // once its engine let go of it while they ran (the adapter changed the
    // engine's text from inside a calculation): the last of them to end
    // frees it. Plain counts: one thread at a time runs an engine, and a
    // program belongs to one engine.
    unsigned running = 0;
    std::shared_ptr<CompiledProgram> orphan;

    // Points the reference steps at their states and decides the run.
    void Finish() {
        std::size_t count = 0;
        for (const Step& step : steps) count += step.type == TT_FORMULA;
        references.assign(count, ReferenceState{});
        auto state = references.begin();
        for (Step& step : steps)
            if (step.type == TT_FORMULA) step.reference = &*state++;
        // Calquor_VCL's operators are its runtime's, which keep integer kinds:
        // it has no run on plain numbers. A formula that runs on them would
        // run straight as well (NumberKinds checks what KindOfRun checks).
        VARTYPE kinds[ValueStack::kInlineDepth];
        std::size_t depth = 0;
        if (!Rules::kRuntimeOperators && NumberKinds(steps, steps.size(), kinds, depth) && depth >= 1) {
            run = RunKind::Numbers;
            numberResult = kinds[depth - 1];
        } else {
            run = KindOfRun(steps);
        }
    }
    // The same steps with fresh reference states, for a copied engine.
    std::shared_ptr<CompiledProgram> Copy() const {
        auto copy = std::make_shared<CompiledProgram>();
        copy->steps = steps;
        copy->namesSize = namesSize;
        copy->names = std::make_unique<char[]>(namesSize);
        if (namesSize) std::memcpy(copy->names.get(), names.get(), namesSize);
        for (Step& step : copy->steps)
            if (step.name) step.name = copy->names.get() + (step.name - names.get());
        copy->Finish();
        return copy;
    }
};

// Lets go of an engine's program: at once, or, while calculations still run
// on it, when the last of them ends.
inline void ReleaseProgram(std::shared_ptr<CompiledProgram>& program) noexcept {
    if (program && program->running) {
        CompiledProgram& held = *program;
        held.orphan = std::move(program);
    }
    program.reset();
}

// Marks a calculation running on a program for as long as it lives.
class ProgramRun {
public:
    explicit ProgramRun(CompiledProgram& program) noexcept : m_program(program) { ++m_program.running; }
    ~ProgramRun() {
        if (--m_program.running == 0 && m_program.orphan) {
            const std::shared_ptr<CompiledProgram> last = std::move(m_program.orphan);
        }
    }
    ProgramRun(const ProgramRun&) = delete;
    ProgramRun& operator=(const ProgramRun&) = delete;

private:
    CompiledProgram& m_program;
};

}  // namespace calquor::detail
