// The fast path of the evaluator for the commonest compiled formulas: only
// operands, references, literals, operators and function calls, whose value
// stack never runs short and never grows beyond the stack's own storage.
// The compiler decides this once per compiled formula (KindOfRun); such a run then checks no
// depth and dispatches each step with one switch, each operator with its
// kind known. It does exactly what the general run does, in the same order
// (the adapter is asked the same).
#pragma once

#include "Program.h"
#include "FunctionTable.h"
#include "Operators.h"
#include "ValueStack.h"

#include <type_traits>
#include <vector>

namespace calquor::detail {

// One binary operator of a straight run, its kind fixed at compile time so
// that the in-place rule needs no second dispatch.
template <TokenType Op>
inline void StraightBinary(ValueStack& stack) {
    if (ApplyBinaryInPlace(Op, stack.PeekUnchecked(1), stack.PeekUnchecked(0))) {
        stack.DropPlain();
        return;
    }
    const _variant_t right = stack.Pop();
    const _variant_t left = stack.Pop();
    stack.Push(ApplyBinary(Op, left, right));
}

// Runs steps whose KindOfRun is Straight (Functions false) or
// StraightWithFunctions (Functions true) and returns the top value.
// operand(stack, step) pushes a TT_COLUMN step's value and reference(step)
// gives a TT_FORMULA step's, as the general run asks the adapter for them. With calls, the argument array lives as long as in the
// general run: the last arguments of a call are released when the next call
// takes its own or when the run ends.
template <bool Functions, class Operand, class Reference>
_variant_t RunStraightLine(std::vector<Step>& steps, Operand&& operand, Reference&& reference) {
    ValueStack stack;
    [[maybe_unused]] std::conditional_t<Functions, _variant_t[3], char> args{};
    for (Step& step : steps) {
        switch (step.type) {
        case TT_COLUMN: operand(stack, step); break;
        case TT_FORMULA: stack.PushUnchecked(reference(step)); break;
        case TT_FUNCTION:
            if constexpr (Functions) {
                stack.PopInto(args, static_cast<int>(ArgumentCount(*step.row)));
                stack.Push(CallFunction(*step.row, args));
            }
            break;
        case TT_NEG:
            if (!NegateInPlace(stack.PeekUnchecked(0))) stack.Push(Negate(stack.Pop()));
            break;
        case TT_EQ: StraightBinary<TT_EQ>(stack); break;
        case TT_DIV: StraightBinary<TT_DIV>(stack); break;
        case TT_MUL: StraightBinary<TT_MUL>(stack); break;
        case TT_ADD: StraightBinary<TT_ADD>(stack); break;
        case TT_SUB: StraightBinary<TT_SUB>(stack); break;
        case TT_GT: StraightBinary<TT_GT>(stack); break;
        case TT_LT: StraightBinary<TT_LT>(stack); break;
        case TT_GE: StraightBinary<TT_GE>(stack); break;
        case TT_LE: StraightBinary<TT_LE>(stack); break;
        case TT_AND: StraightBinary<TT_AND>(stack); break;
        case TT_OR: StraightBinary<TT_OR>(stack); break;
        default: stack.PushCopyUnchecked(step.value); break;  // a literal
        }
    }
    return stack.Pop();
}

}  // namespace calquor::detail
