// The engine object: construction, copying, the formula text and the adapter.
#include <calquor/Calquex.h>

#include "AdapterAccess.h"
#include "CompiledProgram.h"

#include <cstring>

namespace calquor {

Calquex::Calquex() : m_szFormula{}, m_nCurPos(0), m_bCompiled(false), m_pAdapter(adapter::DefaultHandle()), m_bTextCut(false) {}

Calquex::Calquex(const char* formula) : Calquex() { StoreText(formula); }

Calquex::Calquex(const Calquex& other)
    : m_Postfix(other.m_Postfix),
      m_nCurPos(other.m_nCurPos),
      m_bCompiled(other.m_bCompiled),
      m_pAdapter(other.m_pAdapter),
      m_bTextCut(other.m_bTextCut) {
    std::memcpy(m_szFormula, other.m_szFormula, sizeof m_szFormula);
    adapter::Retain(m_pAdapter);
}

Calquex::~Calquex() { adapter::Release(m_pAdapter); }

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
    // Decided here: a text beyond the buffer is cut, never overrun; the cut is
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
    m_pProgram.reset();
}

void Calquex::SetFormulaStr(const char* formula) {
    StoreText(formula);
    DropCompiled();
}

const char* Calquex::GetFormulaStr() const { return m_szFormula; }

int Calquex::GetCurrentPos() { return m_nCurPos; }

}  // namespace calquor
