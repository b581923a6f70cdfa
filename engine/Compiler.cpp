// The compiler: reorders the scanner's tokens into postfix form by operator
// priority, checking operand counts and function names on the way.
#include <calquor/Calquex.h>

#include "Conversions.h"
#include "FunctionTable.h"
#include "Lexer.h"
#include "Operators.h"
#include "Program.h"
#include "ResultCodes.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <deque>
#include <forward_list>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

namespace calquor {
namespace {

const FUNCTION* FunctionOf(const Token& token) { return FindFunction(conv::TextOf(token.vValue)); }

// Thrown inside Compile to stop at the first syntax error.
struct SyntaxError {
    int pos;
    const char* message;
};

}  // namespace

short Calquex::GetTokenPriority(Token token) {
    if (token.nType == TT_NEG) return RowOf(TT_NEG).priority;
    const OperatorRow* row = FindOperator(conv::TextOf(token.vValue));
    if (!row) throw CQEError(msg::kUnknownOperator);
    return row->priority;
}

namespace {

// How many elements right before it a token of m_Postfix swallows: a
// function its row's parameter count, an operator its operand count.
std::ptrdiff_t Swallowed(TokenType type, const FUNCTION* row) noexcept {
    if (type == TT_FUNCTION) return row->nParams;
    return IsOperatorKind(type) ? RowOf(type).operands : 0;
}

}  // namespace

unsigned short Calquex::OperantNum() {
    // Each operator or function is assumed to swallow a fixed number of
    // elements right before it; the index wraps as a signed 16-bit number.
    unsigned short count = 0;
    short index = static_cast<short>(m_Postfix.size() - 1);
    while (index >= 0) {
        const Token& token = m_Postfix[static_cast<std::size_t>(index)];
        if (token.nType == TT_FUNCTION) {
            if (const FUNCTION* row = FunctionOf(token)) {
                ++count;
                index = static_cast<short>(index - Swallowed(TT_FUNCTION, row));
            }
        } else {
            ++count;
            index = static_cast<short>(index - Swallowed(token.nType, nullptr));
        }
        index = static_cast<short>(index - 1);
    }
    return count;
}

namespace {

// A stack of trivially copyable entries that lives inside the compiler's frame
// up to N entries and moves to the heap only beyond that, so that compiling
// an ordinary formula takes no allocation for its working stacks.
template <class T, std::size_t N>
class ScratchStack {
public:
    ScratchStack() = default;
    ScratchStack(const ScratchStack&) = delete;
    ScratchStack& operator=(const ScratchStack&) = delete;

    void Push(const T& value) {
        if (m_size == m_capacity) Grow();
        m_data[m_size++].value = value;
    }
    T Pop() noexcept { return m_data[--m_size].value; }
    T& Back() noexcept { return m_data[m_size - 1].value; }
    const T& operator[](std::size_t i) const noexcept { return m_data[i].value; }
    const T* Data() const noexcept { return &m_data[0].value; }
    bool Empty() const noexcept { return m_size == 0; }
    std::size_t Size() const noexcept { return m_size; }

private:
    static_assert(std::is_trivially_copyable_v<T>, "entries are copied bitwise");
    // Storage that is not initialised before use: the inline part is large.
    union Slot {
        Slot() noexcept {}
        T value;
    };

    void Grow() {
        std::vector<Slot> grown(m_capacity * 2);
        std::copy(m_data, m_data + m_size, grown.begin());
        m_heap = std::move(grown);
        m_data = m_heap.data();
        m_capacity = m_heap.size();
    }

    Slot m_inline[N];
    std::vector<Slot> m_heap;
    Slot* m_data = m_inline;
    std::size_t m_size = 0;
    std::size_t m_capacity = N;
};

// What the compiler notes for the step of each token it appends to
// m_Postfix: the kind, position, function row and, for an operand or
// reference, which of the formula's distinct names it carries.
struct StepSeed {
    TokenType type;
    int pos;
    const FUNCTION* row;
    int name;
};

// The distinct operand and reference names of a formula, in order of first
// appearance. A name that is ASCII and written as it reads is viewed in the
// formula; any other takes the text its token carries back to UTF-8 (what the
// adapter always received for it), kept in spelled.
class NameList {
public:
    // The index of the name of a TT_COLUMN or TT_FORMULA lexeme whose token
    // value is value.
    int Add(const detail::Lexeme& lexeme, const VARIANT& value) {
        std::string_view name = lexeme.View();
        bool ascii = !lexeme.skips;
        for (std::size_t i = 0; ascii && i < name.size(); ++i) ascii = static_cast<unsigned char>(name[i]) < 0x80;
        if (!ascii) name = m_spelled.emplace_front(conv::TextOf(value));
        for (std::size_t i = 0; i < m_names.Size(); ++i) {
            const std::string_view known = m_names[i];
            if (known.size() == name.size() && (name.empty() || (known[0] == name[0] && known == name)))
                return static_cast<int>(i);
        }
        m_bytes += name.size() + 1;
        m_names.Push(name);
        return static_cast<int>(m_names.Size() - 1);
    }
    // Copies the names into one block, each NUL terminated, and sets
    // offsets[i] to where name i starts.
    std::unique_ptr<char[]> Block(ScratchStack<std::size_t, 32>& offsets) const {
        auto block = std::make_unique<char[]>(m_bytes);
        std::size_t at = 0;
        for (std::size_t i = 0; i < m_names.Size(); ++i) {
            offsets.Push(at);
            std::memcpy(block.get() + at, m_names[i].data(), m_names[i].size());
            at += m_names[i].size();
            block[at++] = '\0';
        }
        return block;
    }
    std::size_t Bytes() const noexcept { return m_bytes; }

private:
    ScratchStack<std::string_view, 32> m_names;
    // Allocates only for such names.
    std::forward_list<std::string> m_spelled;
    std::size_t m_bytes = 0;
};

// The executable form of postfix, whose tokens have the seeds in order.
std::shared_ptr<detail::CompiledProgram> BuildProgram(const std::deque<Token>& postfix,
                                                      const ScratchStack<StepSeed, 256>& seeds, const NameList& names) {
    auto program = std::make_shared<detail::CompiledProgram>();
    ScratchStack<std::size_t, 32> offsets;
    program->names = names.Block(offsets);
    program->namesSize = names.Bytes();
    program->steps.resize(seeds.Size());
    auto token = postfix.begin();
    for (std::size_t i = 0; i < seeds.Size(); ++i, ++token) {
        const StepSeed& seed = seeds[i];
        detail::Step& step = program->steps[i];
        step.type = seed.type;
        step.pos = seed.pos;
        step.row = seed.row;
        if (seed.name >= 0) {
            step.name = program->names.get() + offsets[static_cast<std::size_t>(seed.name)];
        } else if (seed.type >= TT_INTEGER && seed.type <= TT_STRING) {
            // The step's value is still Empty: a plain kind is copied bitwise.
            if (detail::IsPlainKind(token->vValue.vt))
                static_cast<VARIANT&>(step.value) = token->vValue;
            else
                step.value = token->vValue;
        }
    }
    program->Finish();
    return program;
}

// Appends a token whose value make() builds in its place: a fresh value
// moved into the record would be read back before its writes reached
// memory. If make() throws, nothing is appended.
template <class Make>
Token& AppendToken(std::deque<Token>& postfix, TokenType type, int pos, Make&& make) {
    Token& token = postfix.emplace_back();
    token.nType = type;
    token.nPos = pos;
    token.vValue.~_variant_t();
    try {
        new (&token.vValue) _variant_t(make());
    } catch (...) {
        new (&token.vValue) _variant_t();
        postfix.pop_back();
        throw;
    }
    return token;
}

// An operator, "(" or function entry on the compiler's stack: its kind,
// position and, for a function, its table row. Its text follows from these
// (an operator's is fixed, a function's is its row's name) and is made only
// when the entry moves to the output.
struct Entry {
    TokenType type;
    int pos;
    const FUNCTION* row;
};

}  // namespace

bool Calquex::Compile(int& pos, std::string& message) {
    pos = 0;
    m_nCurPos = 0;
    message = msg::kSucceed;
    // Not compiled until this pass succeeds: a pass that fails, or throws
    // when memory or a limit runs out, leaves no compiled form to calculate.
    m_bCompiled = false;
    m_Postfix.clear();
    detail::ReleaseProgram(m_pProgram);

    ScratchStack<Entry, 64> stack;
    Entry pending{TT_END, 0, nullptr};
    bool hasPending = false;
    bool operandExpected = true;

    // counts[i] is OperantNum() of the first i + 1 tokens of m_Postfix, kept
    // as the tokens are appended, so that compiling stays linear: a token
    // that swallows skip elements counts 1 plus the count before them, a
    // function the table lacks counts nothing of its own (every function
    // entry here has its row).
    ScratchStack<unsigned short, 256> counts;
    auto operantNum = [&counts]() -> unsigned short { return counts.Empty() ? 0 : counts.Back(); };
    auto count = [&counts](TokenType type, const FUNCTION* row) {
        const std::ptrdiff_t before = static_cast<std::ptrdiff_t>(counts.Size()) - Swallowed(type, row) - 1;
        counts.Push(static_cast<unsigned short>(1 + (before >= 0 ? counts[static_cast<std::size_t>(before)] : 0)));
    };
    // The executable form is noted as m_Postfix grows, with the function
    // rows and names found here, so that it needs no lookup by name.
    ScratchStack<StepSeed, 256> seeds;
    NameList names;
    // Only the tokens kept in m_Postfix get their record and value.
    auto appendOperand = [&](const detail::Lexeme& lexeme) {
        const Token& token = AppendToken(m_Postfix, lexeme.type, lexeme.pos, [&] { return detail::ValueOf(lexeme); });
        const bool named = lexeme.type == TT_COLUMN || lexeme.type == TT_FORMULA;
        seeds.Push(StepSeed{lexeme.type, lexeme.pos, nullptr, named ? names.Add(lexeme, token.vValue) : -1});
        count(lexeme.type, nullptr);
    };
    auto appendEntry = [&](const Entry& entry) {
        const std::string_view text = entry.type == TT_FUNCTION ? FunctionName(*entry.row) : OperatorText(entry.type);
        AppendToken(m_Postfix, entry.type, entry.pos, [text] { return conv::MakeText(text); });
        seeds.Push(StepSeed{entry.type, entry.pos, entry.row, -1});
        count(entry.type, entry.row);
    };

    // Appends an operator or function entry after checking its operand count.
    auto moveToOutput = [&](const Entry& entry) {
        if (operantNum() < Swallowed(entry.type, entry.row))
            throw SyntaxError{entry.pos, entry.type == TT_FUNCTION ? msg::kParameterNumber : msg::kOperantNumber};
        appendEntry(entry);
    };
    auto priorityOf = [](const Entry& entry) {
        return entry.type == TT_FUNCTION ? kFunctionEntryPriority : RowOf(entry.type).priority;
    };

    try {
        for (;;) {
            // Scanned into place: a copy of the fresh lexeme would wait for
            // the scanner's writes to reach memory.
            pos = m_nCurPos;
            const detail::Lexeme token = detail::Scan(m_szFormula, m_nCurPos);
            const TokenType type = token.type;
            if (type == TT_END) break;
            if (type == TT_ERROR) throw SyntaxError{pos, msg::kUnknownElement};
            if (type == TT_RPAREN) {
                if (stack.Empty()) throw SyntaxError{token.pos, msg::kUnmatchedRight};
                for (Entry top = stack.Pop(); top.type != TT_LPAREN; top = stack.Pop()) {
                    moveToOutput(top);
                    if (stack.Empty()) throw SyntaxError{token.pos, msg::kUnmatchedRight};
                }
                operandExpected = false;
            } else if (type == TT_LPAREN) {
                stack.Push(Entry{TT_LPAREN, token.pos, nullptr});
                if (hasPending) {
                    stack.Push(pending);
                    hasPending = false;
                }
                operandExpected = true;
            } else if (type == TT_FUNCTION) {
                // A function entry always has its row: unknown names stop here.
                const FUNCTION* row = FindFunction(token.View());
                if (!row) throw SyntaxError{token.pos, msg::kUnknownFunction};
                pending = Entry{TT_FUNCTION, token.pos, row};
                hasPending = true;
                operandExpected = false;
            } else if (IsOperatorKind(type)) {
                const TokenType kind = type == TT_SUB && operandExpected ? TT_NEG : type;
                const short priority = RowOf(kind).priority;
                while (!stack.Empty() && priority <= priorityOf(stack.Back())) moveToOutput(stack.Pop());
                stack.Push(Entry{kind, token.pos, nullptr});
                operandExpected = true;
            } else if (type == TT_COMMA) {
                // A comma ends its argument, so it moves every
                // operator of that argument to the output, down to the
                // function entry or "(" below it; otherwise "Max(1+2,3)"
                // would add 2 and 3. A unary minus keeps its own rule (with
                // nothing before it, "Invalid Operator"). A comma outside every
                // parenthesis simply empties the stack.
                while (!stack.Empty() && IsOperatorKind(stack.Back().type)) {
                    const Entry top = stack.Pop();
                    if (top.type == TT_NEG) {
                        if (m_Postfix.empty()) throw SyntaxError{top.pos, msg::kInvalidOperator};
                        appendEntry(top);
                    } else {
                        moveToOutput(top);
                    }
                }
                operandExpected = true;
            } else {
                appendOperand(token);
                operandExpected = false;
            }
        }
        // A function name at the very end, without its
        // parentheses, is a call that lacks its arguments rather than
        // something dropped silently.
        if (hasPending) throw SyntaxError{pending.pos, msg::kParameterNumber};
        // A text cut to the buffer's size is refused where it was cut.
        if (m_bTextCut) throw SyntaxError{m_nCurPos, msg::kUnknownElement};
        while (!stack.Empty()) {
            if (stack.Back().type == TT_LPAREN) throw SyntaxError{m_nCurPos, msg::kUnmatchedLeft};
            moveToOutput(stack.Pop());
        }
    } catch (const SyntaxError& error) {
        pos = error.pos;
        message = error.message;
        return false;
    }
    m_pProgram = BuildProgram(m_Postfix, seeds, names);
    m_bCompiled = true;
    return true;
}

}  // namespace calquor
