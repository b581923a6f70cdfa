// The fast path of the evaluator for the commonest compiled formulas: only
// operands, references, literals, operators and function calls, whose value
// stack never runs short and never grows beyond ValueStack::kInlineDepth
// values. The compiler decides this once per compiled formula (KindOfRun);
// such a run then checks no depth, keeps the top of its stack in a register
// and dispatches each step with one switch, each operator with its kind
// known. It does exactly what the general run does, in the same order (the
// adapter is asked the same).
#pragma once

#include "Program.h"
#include "FunctionTable.h"
#include "Operators.h"
#include "ValueStack.h"

#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>
#include <vector>

namespace calquor::detail {

// The value stack of a straight run: raw values in the run's frame and a
// pointer one past the top value, which stays in a register (PutValue and
// TakeValue pass ownership as ValueStack does).

// One binary operator of a straight run, its kind fixed at compile time so
// that the in-place rule needs no second dispatch.
template <TokenType Op>
inline void StraightBinary(VARIANT*& top) {
    if (ApplyBinaryInPlace(Op, top[-2], top[-1])) {
        --top;  // the right value was of a plain kind
        return;
    }
    const _variant_t right = TakeValue(*--top);
    const _variant_t left = TakeValue(*--top);
    PutValue(top, ApplyBinary(Op, left, right));
    ++top;
}

// Runs steps whose KindOfRun is Straight (Functions false) or
// StraightWithFunctions (Functions true) and returns the top value.
// operand(step) and reference(step) give a TT_COLUMN or TT_FORMULA step's
// value, as the general run asks the adapter for them. With calls, the
// argument array lives as long as in the general run: the last arguments of a
// call are released when the next call takes its own or when the run ends.
//
// A run taken over from the run on plain numbers starts at steps[first] with
// the count values of start (bottom first) on its stack, whose owner it
// becomes; count is at most ValueStack::kInlineDepth.
template <bool Functions, class Operand, class Reference>
[[gnu::noinline]] _variant_t RunStraightLine(std::vector<Step>& steps, Operand&& operand, Reference&& reference, std::size_t first = 0,
                           const VARIANT* start = nullptr, std::size_t count = 0) {
    VARIANT values[ValueStack::kInlineDepth];
    VARIANT* top = values;
    if (count) {
        std::memcpy(static_cast<void*>(values), start, count * sizeof(VARIANT));
        top += count;
    }
    [[maybe_unused]] std::conditional_t<Functions, _variant_t[3], char> args{};
    // What the run still owns goes in the order the general run lets it go:
    // the last call's arguments from the last, then the stack's values from
    // the bottom.
    const auto release = [&]() noexcept {
        if constexpr (Functions)
            for (int i = 2; i >= 0; --i) args[i] = _variant_t();
        ReleaseValues(values, top);
        top = values;
    };
    try {
        for (auto next = steps.begin() + static_cast<std::ptrdiff_t>(first); next != steps.end(); ++next) {
            Step& step = *next;
            switch (step.type) {
            case TT_COLUMN: PutValue(top, operand(step)); ++top; break;
            case TT_FORMULA: PutValue(top, reference(step)); ++top; break;
            case TT_FUNCTION:
                if constexpr (Functions) {
                    for (int i = static_cast<int>(ArgumentCount(*step.row)) - 1; i >= 0; --i) args[i] = TakeValue(*--top);
                    PutValue(top, CallFunction(*step.row, args));
                    ++top;
                }
                break;
            case TT_NEG:
                if (!NegateInPlace(top[-1])) {
                    const _variant_t value = TakeValue(*--top);
                    PutValue(top, Negate(value));
                    ++top;
                }
                break;
            case TT_EQ: StraightBinary<TT_EQ>(top); break;
            case TT_DIV: StraightBinary<TT_DIV>(top); break;
            case TT_MUL: StraightBinary<TT_MUL>(top); break;
            case TT_ADD: StraightBinary<TT_ADD>(top); break;
            case TT_SUB: StraightBinary<TT_SUB>(top); break;
            case TT_GT: StraightBinary<TT_GT>(top); break;
            case TT_LT: StraightBinary<TT_LT>(top); break;
            case TT_GE: StraightBinary<TT_GE>(top); break;
            case TT_LE: StraightBinary<TT_LE>(top); break;
            case TT_AND: StraightBinary<TT_AND>(top); break;
            case TT_OR: StraightBinary<TT_OR>(top); break;
            default:  // a literal
                if (IsPlainKind(step.value.vt))
                    *top = step.value;
                else
                    PutValue(top, _variant_t(step.value));
                ++top;
                break;
            }
        }
    } catch (...) {
        release();
        throw;
    }
    // Values left below the result (a formula of several comma-separated
    // parts) are released with the arguments.
    _variant_t result = TakeValue(*--top);
    release();
    return result;
}

}  // namespace calquor::detail
