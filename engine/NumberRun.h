// The run on plain numbers, for compiled formulas whose every operation works
// on numbers and truths by the in-place rule, or is a function that gives a
// number for any numbers, as long as operands and references answer doubles
// (RunKind::Numbers, see NumberKinds). Values are doubles on a stack in the
// run's frame (a truth 1 or 0, an integer literal its value); their kinds
// follow from the steps, so an operator checks nothing and its value never
// passes through a variant. The first operand or reference that answers
// another kind hands the run over, at that step, to the straight run with the
// stack as variants of those kinds: the adapter is asked exactly as in the
// other runs and the outcome is theirs.
#pragma once

#include "Operators.h"
#include "Program.h"
#include "StraightLine.h"
#include "ValueStack.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace calquor::detail {

// Writes a number of the run into v as a value of its kind, field by field
// (see PutValue). v owns nothing.
inline void PutNumber(VARIANT& v, VARTYPE kind, double x) noexcept {
    v.vt = kind;
    v.wReserved1 = v.wReserved2 = v.wReserved3 = 0;
    switch (kind) {
    case VT_R8: v.dblVal = x; break;
    case VT_BOOL: v.llVal = 0; v.boolVal = x != 0.0 ? VARIANT_TRUE : VARIANT_FALSE; break;
    default: v.llVal = 0; v.intVal = static_cast<int>(x); break;  // an integer literal's kind
    }
}

// A number of the run as a value of its kind; built where the caller wants
// it, field by field.
inline _variant_t ValueOfNumber(VARTYPE kind, double x) noexcept {
    _variant_t value;
    PutNumber(value, kind, x);
    return value;
}

// Hands the run over to the straight run after *at, an operand or reference
// step that answered value, not a double, whose owner the straight run
// becomes; depth numbers lie below it.
template <class Operand, class Reference>
[[gnu::noinline]] _variant_t HandOverToStraight(CompiledProgram& program, const Step* at, const double* numbers,
                                                std::size_t depth, const VARIANT& value, Operand& operand,
                                                Reference& reference) {
    const auto next = static_cast<std::size_t>(at - program.steps.data()) + 1;
    VARTYPE kinds[ValueStack::kInlineDepth];
    std::size_t known = 0;
    NumberKinds(program.steps, next - 1, kinds, known);
    VARIANT start[ValueStack::kInlineDepth];
    for (std::size_t i = 0; i < depth; ++i) PutNumber(start[i], kinds[i], numbers[i]);
    start[depth] = value;
    // The straight run with calls: it does the same for steps without them.
    return RunStraightLine<true>(program.steps, operand, reference, next, start, depth + 1);
}

// One binary operator on the two top numbers; gives the new top.
template <TokenType Op>
inline double* NumberBinary(double* top) noexcept {
    if constexpr (RowOf(Op).rule == OperatorRule::Arithmetic)
        top[-2] = NumberOf(Op, top[-2], top[-1]);
    else
        top[-2] = TruthOf(Op, top[-2], top[-1]) ? 1.0 : 0.0;
    return top - 1;
}

// RunNumberSteps lists every operator kind NumberKinds can admit, TT_EQ to
// TT_OR; a kind added there must be added to its switch.
static_assert(TT_OR - TT_EQ == 11 && TT_NEG > TT_EQ && TT_NEG < TT_OR, "twelve operator kinds, TT_NEG among them");

// Where RunNumberSteps stopped: at the end, or at the operand or reference
// step whose value was not a double; and the top of the stack.
struct NumberStop {
    Step* step;
    double* top;
};

// Runs the steps from step to end on the stack whose top is top, as long as
// operands and references answer doubles; the value that is not one is left
// in stopped, which then owns it. Inlined into the caller's frame, whose other
// paths are calls, so the loop's few values stay in registers and a
// calculation pays no frame of its own for it.
template <class Operand, class Reference>
[[gnu::always_inline]] inline NumberStop RunNumberSteps(Step* step, Step* const end, double* top, VARIANT& stopped,
                                            Operand operand, Reference reference) {
    for (; step != end; ++step) {
        switch (step->type) {
        case TT_COLUMN:
        case TT_FORMULA: {
            _variant_t value = step->type == TT_COLUMN ? operand(*step) : reference(*step);
            if (value.vt != VT_R8) [[unlikely]] {
                PutValue(&stopped, std::move(value));
                return {step, top};
            }
            *top++ = value.dblVal;
            break;
        }
        case TT_NEG: top[-1] = NegativeOf(top[-1]); break;
        case TT_FUNCTION:
            top -= step->row->nParams;
            *top = step->row->pfnNumbers(top);
            ++top;
            break;
        case TT_EQ: top = NumberBinary<TT_EQ>(top); break;
        case TT_DIV: top = NumberBinary<TT_DIV>(top); break;
        case TT_MUL: top = NumberBinary<TT_MUL>(top); break;
        case TT_ADD: top = NumberBinary<TT_ADD>(top); break;
        case TT_SUB: top = NumberBinary<TT_SUB>(top); break;
        case TT_GT: top = NumberBinary<TT_GT>(top); break;
        case TT_LT: top = NumberBinary<TT_LT>(top); break;
        case TT_GE: top = NumberBinary<TT_GE>(top); break;
        case TT_LE: top = NumberBinary<TT_LE>(top); break;
        case TT_AND: top = NumberBinary<TT_AND>(top); break;
        case TT_OR: top = NumberBinary<TT_OR>(top); break;
        case TT_INTEGER:
        case TT_REAL:
            *top++ = step->value.vt == VT_R8 ? step->value.dblVal : static_cast<double>(step->value.intVal);
            break;
        default:
            // NumberKinds admits no other step: no range check per step.
            __builtin_unreachable();
        }
    }
    return {end, top};
}

// Runs a program whose run is RunKind::Numbers. operand and reference as for
// RunStraightLine.
template <class Operand, class Reference>
[[gnu::always_inline]] inline _variant_t RunNumbers(CompiledProgram& program, Operand& operand, Reference& reference) {
    double numbers[ValueStack::kInlineDepth];
    VARIANT stopped;
    Step* const end = program.steps.data() + program.steps.size();
    const NumberStop stop = RunNumberSteps(program.steps.data(), end, numbers, stopped, operand, reference);
    if (stop.step != end) [[unlikely]]
        return HandOverToStraight(program, stop.step, numbers, static_cast<std::size_t>(stop.top - numbers), stopped,
                                  operand, reference);
    return ValueOfNumber(program.numberResult, stop.top[-1]);
}

}  // namespace calquor::detail
