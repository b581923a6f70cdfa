// The evaluator: runs the compiled postfix sequence on a value stack.
#include <calquor/Calquex.h>

#include "AdapterAccess.h"
#include "CalquexAccess.h"
#include "Conversions.h"
#include "FunctionTable.h"
#include "Limits.h"
#include "NumberRun.h"
#include "Operators.h"
#include "Program.h"
#include "ResultCodes.h"
#include "Rules.h"
#include "StraightLine.h"
#include "ValueStack.h"

#include <calquor/rtl.h>

#include <algorithm>

namespace calquor {
namespace {

// @name references nest at most this deep; a deeper one fails the
// calculation with kReferenceTooDeep. Deep enough for any real chain of named
// formulas, shallow enough that a self-reference ends well inside the stack
// of a host thread (each level costs a few kilobytes).
constexpr int kMaxReferenceDepth = 100;

// One top-level Calculate runs at most this many reference calculations in
// all, at every depth together. The depth limit alone does not bound
// the work: a formula whose every level refers twice to the next asks for
// 2^99 calculations within it. 100,000 is far more than real sheets of
// named formulas need (a formula of 300 references to formulas of 300
// references each comes to 90,300), while a runaway formula fails within a
// fraction of a second (a reference costs a few microseconds).
constexpr int kMaxReferenceCalculations = 100000;

using detail::ThreadCounters;

// Counts one level of calculation; leaving the outermost one opens the text
// limits again, however it is left.
struct DepthGuard {
    ThreadCounters& counters;
    explicit DepthGuard(ThreadCounters& c) : counters(c) { ++counters.depth; }
    ~DepthGuard() {
        if (--counters.depth == 0) counters.maxTextBytes = counters.workLeft = SIZE_MAX;
    }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
};

_variant_t Null() {
    _variant_t value;
    value.vt = VT_NULL;
    return value;
}

// Ends the run with a code and message (unknown operand, failed reference).
struct Failure {
    int code;
    std::string message;
};

// Calquor_VCL catches only the runtime's conversion errors, reported with
// their own text, and too few values on the stack, reported with the
// runtime's text for an impossible operation. Every other
// error, a function's CQEError included, leaves Calculate. Call only from a
// catch handler.
[[maybe_unused]] void ReportRuntimeFailure(int& code, std::string& message) {
    try {
        throw;
    } catch (const rtl::EVariantTypeCastError& error) {
        message = error.what();
    } catch (const rtl::EVariantOverflowError& error) {
        message = error.what();
    } catch (const StackUnderflow&) {
        message = msg::kInvalidVariantOperation;
    }
    code = 1;
}

_variant_t Run(detail::CompiledProgram& program, adapter::Handle source);

// The value of a reference: the adapter's text for it, calculated by a
// nested engine bound to the same adapter. The engine of the text is kept
// (see ReferenceState), so an unchanged text is not compiled again.
_variant_t Reference(detail::Step& step, adapter::Handle source) {
    // Running out of the budget fails as running out of depth does: hosts
    // see one failure for runaway references.
    ThreadCounters& counters = detail::t_counters;
    if (counters.depth >= kMaxReferenceDepth || counters.references >= kMaxReferenceCalculations)
        throw Failure{step.pos + 1, msg::kReferenceTooDeep + std::string(step.name)};
    ++counters.references;
    std::string text = adapter::FormulaByName(source, step.name);
    detail::ReferenceState& kept = *step.reference;
    // While the kept engine calculates, the adapter may calculate this same
    // reference again (recalculating the outer engine); a different text
    // then gets an engine of its own for that calculation, so that the
    // running one is never replaced under it.
    std::unique_ptr<Calquex> own;
    if (kept.running && text != kept.text) {
        own = std::make_unique<Calquex>(text.c_str());
    } else if (!kept.engine || text != kept.text) {
        kept.engine = std::make_shared<Calquex>(text.c_str());
        kept.text = std::move(text);
    }
    Calquex& nested = own ? *own : *kept.engine;
    struct Running {
        unsigned& count;
        explicit Running(unsigned& c) : count(c) { ++count; }
        ~Running() { --count; }
        Running(const Running&) = delete;
        Running& operator=(const Running&) = delete;
    } running(kept.running);
    // A nested engine that is compiled runs its program here, one level
    // deeper, on the adapter this calculation already holds: what its
    // Calculate would do, without binding it to the adapter and without
    // turning a failure into a code and back (the outermost Calculate
    // reports each failure as the nested one would have).
    if (detail::CompiledProgram* program = detail::CalquexAccess::Runnable(nested)) {
        const detail::ProgramRun runningProgram(*program);
        const DepthGuard depth(counters);
        return Run(*program, source);
    }
    // The kept engine is bound only while it calculates, so that between
    // calculations the engine's own binding is the only hold on the adapter
    // (an automation adapter's references stay exactly one).
    struct Binding {
        Calquex& engine;
        Binding(Calquex& e, adapter::Handle source) : engine(e) { engine.SetDataAdapter(source); }
        ~Binding() { engine.SetDataAdapter(nullptr); }
        Binding(const Binding&) = delete;
        Binding& operator=(const Binding&) = delete;
    } binding(nested, source);
    int code = 0;
    std::string message;
    _variant_t value = nested.Calculate(code, message);
    if (code != 0) throw Failure{code, std::move(message)};
    return value;
}

// An adapter's value stands on the stack as a copy made by the library's
// variant copy (the runtime's in Calquor_VCL), so a kind that copy refuses
// fails the calculation as a failed copy does instead of passing through.
// Plain kinds and wide texts cannot be refused and are moved (see Operand):
// the copy would only cost an allocation.
[[gnu::noinline]] _variant_t Adopted(const _variant_t& value) {
    _variant_t copy;
    Rules::CopyValue(copy, value);
    return copy;
}

[[noreturn, gnu::noinline, gnu::cold]] void UnknownOperand(const detail::Step& step) {
    throw Failure{step.pos + 1, msg::kUnrecognizedElement + std::string(step.name)};
}

// The value of an operand: the adapter's, once it knows the name. Without an
// adapter every operand is unknown. Built in the caller's place, where the
// caller reads its fields as the adapter wrote them.
inline _variant_t Operand(const detail::Step& step, adapter::Handle source) {
    if (!source || !adapter::IsKnown(source, step.name)) UnknownOperand(step);
    _variant_t value = adapter::OperantValue(source, step.name);
    if (value.vt != VT_R8 && !detail::IsPlainKind(value.vt) && value.vt != VT_BSTR) [[unlikely]]
        value = Adopted(value);
    return value;
}

// The general run: any compiled sequence, the value stack checked at every
// step.
[[gnu::noinline]] _variant_t RunGeneral(detail::CompiledProgram& program, adapter::Handle source) {
    ValueStack stack;
    _variant_t args[3];
    for (detail::Step& current : program.steps) {
        switch (current.type) {
        case TT_COLUMN:
            stack.Push(Operand(current, source));
            break;
        case TT_FORMULA:
            stack.Push(source ? Reference(current, source) : Rules::MissingValue());
            break;
        case TT_FUNCTION: {
            if (!current.row) break;
            stack.PopInto(args, static_cast<int>(ArgumentCount(*current.row)));
            stack.Push(CallFunction(*current.row, args));
            break;
        }
        case TT_NEG:
            if (!NegateInPlace(stack.Peek(0))) stack.Push(Negate(stack.Pop()));
            break;
        default:
            if (IsOperatorKind(current.type)) {
                if (ApplyBinaryInPlace(current.type, stack.Peek(1), stack.Peek(0))) {
                    stack.DropPlain();
                } else {
                    const _variant_t right = stack.Pop();
                    const _variant_t left = stack.Pop();
                    stack.Push(ApplyBinary(current.type, left, right));
                }
            } else {
                stack.Push(current.value);
            }
            break;
        }
    }
    return stack.Empty() ? Null() : stack.Pop();
}

_variant_t Run(detail::CompiledProgram& program, adapter::Handle source) {
    const auto operand = [source](const detail::Step& step) { return Operand(step, source); };
    const auto reference = [source](detail::Step& step) { return source ? Reference(step, source) : Rules::MissingValue(); };
    switch (program.run) {
    case detail::RunKind::Numbers: return detail::RunNumbers(program, operand, reference);
    case detail::RunKind::Straight: return detail::RunStraightLine<false>(program.steps, operand, reference);
    case detail::RunKind::StraightWithFunctions: return detail::RunStraightLine<true>(program.steps, operand, reference);
    default: return RunGeneral(program, source);
    }
}

}  // namespace

namespace detail {

constinit thread_local ThreadCounters t_counters CALQUOR_THREAD_COUNTERS_MODEL;

void ThrowLimitExceeded() { throw LimitExceeded(); }

}  // namespace detail

_variant_t Calquex::Calculate(int& code, std::string& message) {
    code = 0;
    if (m_szFormula[0] == '\0') return conv::MakeText("");
    if (!m_bCompiled) {
        if (!Compile(code, message)) return Rules::MissingValue();
        code = 0;
    }
    // Held for the run: the adapter may change this engine's text meanwhile.
    detail::CompiledProgram& program = *m_pProgram;
    const detail::ProgramRun running(program);
    ThreadCounters& counters = detail::t_counters;
    if (counters.depth == 0) {
        // The outermost calculation's limits hold for every level within it.
        const CalculationLimits limits = detail::LimitsOf(this);
        counters.references = 0;
        counters.maxTextBytes = limits.maxTextBytes;
        counters.workLeft = limits.workBytes;
    }
    DepthGuard depth(counters);
    // Held for the run as well: the adapter may unbind itself from inside a
    // call, and the engine's reference may be the last one.
    struct AdapterHold {
        adapter::Handle held;
        explicit AdapterHold(adapter::Handle h) : held(h) { adapter::Retain(held); }
        ~AdapterHold() { adapter::Release(held); }
        AdapterHold(const AdapterHold&) = delete;
        AdapterHold& operator=(const AdapterHold&) = delete;
    } hold(m_pAdapter);
    try {
        return Run(program, hold.held);
    } catch (Failure& failure) {
        code = failure.code;
        message = std::move(failure.message);
        return Rules::FailureValue();
    } catch (...) {
        if constexpr (Rules::kOneFailureForAll) {
            // Whatever failed inside the evaluation (a refused conversion, a
            // function's error, an adapter's exception, too few values)
            // reads alike to the host.
            code = 1;
            message = msg::kTypeCastError;
            return Rules::FailureValue();
        } else {
            ReportRuntimeFailure(code, message);
            return Rules::FailureValue();
        }
    }
}

}  // namespace calquor
