// The engine object: construction, copying, the formula text and the adapter.
#include <calquor/Calquex.h>

#include "AdapterAccess.h"
#include "Program.h"
#include "Limits.h"

#include <atomic>
#include <cstring>
#include <mutex>
#include <unordered_map>

namespace calquor {

std::atomic<std::size_t> detail::g_limitRows{0};

namespace {

using detail::g_limitRows;

bool operator==(const CalculationLimits& a, const CalculationLimits& b) {
    return a.maxTextBytes == b.maxTextBytes && a.workBytes == b.workBytes;
}

// The limits of engines that do not keep the defaults, by engine. Engines
// with the defaults have no row, and while no engine has one (the common
// case) a calculation finds its limits with one load of the count, without
// the lock.
struct LimitTable {
    std::mutex lock;
    std::unordered_map<const Calquex*, CalculationLimits> rows;
};
// Never destroyed: engines in static storage may still be destroyed after it.
LimitTable& Limits() {
    static LimitTable* const table = new LimitTable;
    return *table;
}

void StoreLimits(const Calquex* engine, const CalculationLimits& limits) {
    LimitTable& table = Limits();
    const std::lock_guard<std::mutex> hold(table.lock);
    if (limits == CalculationLimits{})
        table.rows.erase(engine);
    else
        table.rows[engine] = limits;
    g_limitRows.store(table.rows.size(), std::memory_order_relaxed);
}

}  // namespace

Calquex::Calquex() : m_szFormula{}, m_nCurPos(0), m_bCompiled(false), m_pAdapter(adapter::DefaultHandle()), m_bTextCut(false) {}

Calquex::Calquex(const char* formula) : Calquex() { StoreText(formula); }

Calquex::Calquex(const Calquex& other)
    : m_Postfix(other.m_Postfix),
      m_nCurPos(other.m_nCurPos),
      m_bCompiled(other.m_bCompiled),
      m_pAdapter(other.m_pAdapter),
      m_bTextCut(other.m_bTextCut),
      m_pProgram(other.m_pProgram ? other.m_pProgram->Copy() : nullptr) {
    std::memcpy(m_szFormula, other.m_szFormula, sizeof m_szFormula);
    adapter::Retain(m_pAdapter);
    if (g_limitRows.load(std::memory_order_relaxed) != 0) StoreLimits(this, detail::LimitsInTable(&other));
}

Calquex::~Calquex() {
    // A calculation running on this engine keeps its program to the end.
    detail::ReleaseProgram(m_pProgram);
    adapter::Release(m_pAdapter);
    if (g_limitRows.load(std::memory_order_relaxed) != 0) StoreLimits(this, CalculationLimits{});
}

Calquex& Calquex::operator=(const Calquex& other) {
    if (this != &other) {
        std::memcpy(m_szFormula, other.m_szFormula, sizeof m_szFormula);
        m_bTextCut = other.m_bTextCut;
    }
    DropCompiled();
    return *this;
}

void Calquex::StoreText(const char* formula) {
    const std::size_t length = formula ? std::strlen(formula) : 0;
    // A text beyond the buffer is cut, never overrun; the cut is
    // remembered so that Compile refuses it instead of calculating a
    // different formula than the host wrote.
    m_bTextCut = length > static_cast<std::size_t>(kMaxFormulaLength);
    const std::size_t kept = m_bTextCut ? kMaxFormulaLength : length;
    if (kept) std::memcpy(m_szFormula, formula, kept);
    m_szFormula[kept] = '\0';
}

void Calquex::DropCompiled() {
    m_bCompiled = false;
    // clear() keeps the one block an empty sequence has anyway, and cannot
    // throw; a fresh sequence to swap in would allocate on every change.
    m_Postfix.clear();
    detail::ReleaseProgram(m_pProgram);
}

void Calquex::SetFormulaStr(const char* formula) {
    StoreText(formula);
    DropCompiled();
}

const char* Calquex::GetFormulaStr() const { return m_szFormula; }

int Calquex::GetCurrentPos() { return m_nCurPos; }

void Calquex::SetLimits(const CalculationLimits& limits) { StoreLimits(this, limits); }

CalculationLimits Calquex::GetLimits() const { return detail::LimitsOf(this); }

CalculationLimits detail::LimitsInTable(const Calquex* engine) {
    LimitTable& table = Limits();
    const std::lock_guard<std::mutex> hold(table.lock);
    const auto row = table.rows.find(engine);
    return row == table.rows.end() ? CalculationLimits{} : row->second;
}

}  // namespace calquor
