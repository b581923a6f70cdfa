// The evaluator's value stack. It owns its underflow check: a compiled
// sequence can ask for more values than were pushed (operand counting counts
// elements, not values), and the stack never reads below its bottom.
//
// Values live as raw VARIANTs in storage inside the stack object, so a
// calculation of a short formula allocates nothing; a deeper stack moves to
// the heap. A pushed value's ownership passes to the stack, a popped one's to
// the caller.
#pragma once

#include <calquor/oleauto.h>

#include <cstring>
#include <memory>
#include <stdexcept>
#include <utility>

namespace calquor {

namespace detail {

// Puts value into a raw slot, whose owner it becomes, and takes a slot's
// value back out. Numbers and booleans move by their fields: such a value has
// usually just been written field by field (by the adapter or an operator),
// and reading all its bytes at once would wait until those writes reached
// memory.
inline void PutValue(VARIANT* slot, _variant_t&& value) noexcept {
    if (value.vt == VT_R8 || value.vt == VT_BOOL) {
        slot->vt = value.vt;
        slot->wReserved1 = slot->wReserved2 = slot->wReserved3 = 0;
        if (value.vt == VT_R8) {
            slot->dblVal = value.dblVal;
        } else {
            slot->llVal = 0;
            slot->boolVal = value.boolVal;
        }
        return;
    }
    *slot = value;
    value.vt = VT_EMPTY;
}

// Releases what the raw values [first, last) own, from the first.
inline void ReleaseValues(VARIANT* first, VARIANT* last) noexcept {
    for (; first != last; ++first)
        if (!IsPlainKind(first->vt)) rtl::VarClear(first);
}

inline _variant_t TakeValue(VARIANT& slot) noexcept {
    _variant_t value;
    switch (slot.vt) {
    case VT_R8: value.vt = VT_R8; value.dblVal = slot.dblVal; break;
    case VT_BOOL: value.vt = VT_BOOL; value.boolVal = slot.boolVal; break;
    default: static_cast<VARIANT&>(value) = slot; break;
    }
    return value;
}

}  // namespace detail

// Thrown when an operator or function finds too few values.
class StackUnderflow : public std::runtime_error {
public:
    StackUnderflow() : std::runtime_error("value stack underflow") {}
};

class ValueStack {
public:
    ValueStack() = default;
    ValueStack(const ValueStack&) = delete;
    ValueStack& operator=(const ValueStack&) = delete;
    ~ValueStack() { detail::ReleaseValues(m_data, m_data + m_size); }

    void Push(_variant_t&& value) {
        Reserve();
        detail::PutValue(&m_data[m_size++], std::move(value));
    }
    // A copy of value; a plain kind is copied bitwise without a temporary.
    void Push(const VARIANT& value) {
        if (!detail::IsPlainKind(value.vt)) {
            Push(_variant_t(value));
            return;
        }
        Reserve();
        m_data[m_size++] = value;
    }

    _variant_t Pop() {
        Need(1);
        return detail::TakeValue(m_data[--m_size]);
    }

    // Moves the top n values into out[0..n), out[n-1] being the top.
    void PopInto(_variant_t* out, int n) {
        Need(static_cast<std::size_t>(n));
        for (int i = n - 1; i >= 0; --i) out[i] = Pop();
    }

    // The value i places below the top (0 is the top); needs i + 1 values.
    VARIANT& Peek(std::size_t i) {
        Need(i + 1);
        return m_data[m_size - 1 - i];
    }

    // Drops the top value, which must be of a plain kind (nothing to free).
    void DropPlain() noexcept { --m_size; }

    // How many values the stack holds in its own storage; a straight run
    // (StraightLine.h) never holds more.
    static constexpr std::size_t kInlineDepth = 32;

    bool Empty() const noexcept { return m_size == 0; }
    std::size_t Size() const noexcept { return m_size; }

private:
    static constexpr std::size_t kInline = kInlineDepth;

    void Need(std::size_t n) const {
        if (m_size < n) throw StackUnderflow();
    }

    void Reserve() {
        if (m_size < m_capacity) return;
        // Raw VARIANTs move bitwise: ownership goes with the bytes.
        const std::size_t capacity = m_capacity * 2;
        auto grown = std::make_unique<VARIANT[]>(capacity);
        std::memcpy(static_cast<void*>(grown.get()), m_data, m_size * sizeof(VARIANT));
        m_heap = std::move(grown);
        m_data = m_heap.get();
        m_capacity = capacity;
    }

    VARIANT m_inline[kInline];
    std::unique_ptr<VARIANT[]> m_heap;
    VARIANT* m_data = m_inline;
    std::size_t m_size = 0;
    std::size_t m_capacity = kInline;
};

}  // namespace calquor
