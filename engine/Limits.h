// What one top-level calculation may spend, and how the places that make
// texts charge it. The limits are checked where a text value is made (a
// string function's result, a concatenation, a conversion to text), never
// per step, so numeric formulas pay nothing for them.
#pragma once

#include <calquor/Calquex.h>
#include <calquor/oleauto.h>

#include <atomic>
#include <cstddef>
#include <cstdint>

namespace calquor {

// Thrown when a calculation would pass one of its limits. It is the variant
// layer's out-of-memory error, so that every build reports it exactly as it
// reports running out of memory (CLQMFC: code 1 "type cast error"; Calquor_VCL:
// the _com_error a host already catches). Its own type only lets the
// Calquor_Auto server describe it, which it cannot do for a real lack of
// memory.
class LimitExceeded : public _com_error {
public:
    LimitExceeded() noexcept : _com_error(E_OUTOFMEMORY) {}
};

namespace detail {

// What the calculations running on this thread share: their nesting depth,
// the reference calculations started since the outermost calculation began,
// and that calculation's text limits (the largest text value, and the bytes
// of text it may still make). Outside every calculation the text limits are
// open, so that compiling and the hosts' own conversions are never charged.
struct ThreadCounters {
    int depth = 0;
    int references = 0;
    std::size_t maxTextBytes = SIZE_MAX;
    std::size_t workLeft = SIZE_MAX;
};

// This thread's counters (Evaluator.cpp). Constant-initialized, so that an
// access needs no check that it was constructed. On ELF systems in the
// initial-exec model: every text made reads them, and that model reads them
// at a fixed offset from the thread pointer instead of calling the dynamic
// linker (a library loaded later takes the few bytes from the reserve the
// loader keeps for this).
#if defined(__ELF__)
#define CALQUOR_THREAD_COUNTERS_MODEL [[gnu::tls_model("initial-exec")]]
#else
#define CALQUOR_THREAD_COUNTERS_MODEL
#endif
extern constinit thread_local ThreadCounters t_counters CALQUOR_THREAD_COUNTERS_MODEL;

[[noreturn]] void ThrowLimitExceeded();

// How many engines have limits other than the defaults, and the table that
// holds them by engine (Calquex.cpp).
extern std::atomic<std::size_t> g_limitRows;
CalculationLimits LimitsInTable(const Calquex* engine);

// An engine's limits. While no engine has limits of its own (the common
// case) one relaxed load answers, without a call or a lock: an engine is
// used by one thread at a time, and whoever hands it to another thread
// orders that hand-over, so the load sees this engine's own rows.
inline CalculationLimits LimitsOf(const Calquex* engine) {
    if (g_limitRows.load(std::memory_order_relaxed) == 0) return {};
    return LimitsInTable(engine);
}

// Fails unless a text of bytes fits the running calculation's largest text;
// charges nothing (for a text still being built).
inline void CheckTextSize(std::size_t bytes) {
    if (bytes > t_counters.maxTextBytes) ThrowLimitExceeded();
}

// Fails unless a text of bytes fits the largest text and the work left, and
// charges it.
inline void ChargeText(std::size_t bytes) {
    ThreadCounters& counters = t_counters;
    if (bytes > counters.maxTextBytes || bytes > counters.workLeft) ThrowLimitExceeded();
    counters.workLeft -= bytes;
}

}  // namespace detail
}  // namespace calquor
