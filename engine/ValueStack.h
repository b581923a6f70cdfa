// The evaluator's value stack. It owns its underflow check: a compiled
// sequence can ask for more values than were pushed (operand counting counts
// elements, not values), and the stack never reads below its bottom.
#pragma once

#include <calquor/oleauto.h>

#include <stdexcept>
#include <utility>
#include <vector>

namespace calquor {

// Thrown when an operator or function finds too few values.
class StackUnderflow : public std::runtime_error {
public:
    StackUnderflow() : std::runtime_error("value stack underflow") {}
};

class ValueStack {
public:
    ValueStack() { m_values.reserve(16); }

    void Push(_variant_t&& value) { m_values.push_back(std::move(value)); }
    void Push(const _variant_t& value) { m_values.push_back(value); }

    _variant_t Pop() {
        if (m_values.empty()) throw StackUnderflow();
        _variant_t top = std::move(m_values.back());
        m_values.pop_back();
        return top;
    }

    // Moves the top n values into out[0..n), out[n-1] being the top.
    void PopInto(_variant_t* out, int n) {
        if (static_cast<int>(m_values.size()) < n) throw StackUnderflow();
        for (int i = n - 1; i >= 0; --i) {
            out[i] = std::move(m_values.back());
            m_values.pop_back();
        }
    }

    bool Empty() const noexcept { return m_values.empty(); }
    _variant_t& Top() { return m_values.back(); }

private:
    std::vector<_variant_t> m_values;
};

}  // namespace calquor
