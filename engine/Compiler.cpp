// The compiler: reorders the scanner's tokens into postfix form by operator
// priority, checking operand counts and function names on the way.
#include <calquor/Calquex.h>

#include "Conversions.h"
#include "FunctionTable.h"
#include "Operators.h"
#include "ResultCodes.h"

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

namespace {

// The priority of an operator or "(" entry by its kind, as the scanner makes
// them: the same answer GetTokenPriority gives from the token's text, without
// converting the text.
short PriorityOfKind(TokenType type) {
    switch (type) {
    case TT_LPAREN: return 0;
    case TT_AND: case TT_OR: return 1;
    case TT_EQ: case TT_GT: case TT_LT: case TT_GE: case TT_LE: return 2;
    case TT_ADD: case TT_SUB: return 3;
    case TT_MUL: case TT_DIV: return 4;
    case TT_NEG: return kNegPriority;
    default: throw CQEError(msg::kUnknownOperator);
    }
}

}  // namespace

short Calquex::GetTokenPriority(Token token) {
    if (token.nType == TT_NEG) return kNegPriority;
    const OPERATOR* row = FindOperator(conv::TextOf(token.vValue));
    if (!row) throw CQEError(msg::kUnknownOperator);
    return row->nPriority;
}

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
                index = static_cast<short>(index - row->nParams);
            }
        } else if (IsOperatorKind(token.nType)) {
            ++count;
            index = static_cast<short>(index - (token.nType == TT_NEG ? 1 : 2));
        } else {
            ++count;
        }
        index = static_cast<short>(index - 1);
    }
    return count;
}

bool Calquex::Compile(int& pos, std::string& message) {
    pos = 0;
    m_nCurPos = 0;
    message = msg::kSucceed;
    m_Postfix.clear();

    std::vector<Token> stack;
    Token pending;
    bool hasPending = false;
    bool operandExpected = true;

    // counts[i] is OperantNum() of the first i + 1 tokens of m_Postfix, kept
    // as the tokens are appended, so that compiling stays linear: a token
    // that swallows skip elements counts 1 plus the count before them, a
    // function the table lacks counts nothing of its own.
    std::vector<unsigned short> counts;
    auto operantNum = [&counts]() -> unsigned short { return counts.empty() ? 0 : counts.back(); };
    auto append = [this, &counts](Token&& token, const FUNCTION* row) {
        const std::ptrdiff_t n = static_cast<std::ptrdiff_t>(counts.size());
        unsigned short count;
        if (token.nType == TT_FUNCTION && !row) {
            count = n > 0 ? counts[n - 1] : 0;
        } else {
            std::ptrdiff_t skip = 0;
            if (token.nType == TT_FUNCTION) skip = row->nParams;
            else if (IsOperatorKind(token.nType)) skip = token.nType == TT_NEG ? 1 : 2;
            const std::ptrdiff_t before = n - skip - 1;
            count = static_cast<unsigned short>(1 + (before >= 0 ? counts[before] : 0));
        }
        counts.push_back(count);
        m_Postfix.push_back(std::move(token));
    };

    // Appends an operator or function entry after checking its operand count.
    auto moveToOutput = [&](Token&& entry) {
        const unsigned short have = operantNum();
        const FUNCTION* row = nullptr;
        if (entry.nType == TT_FUNCTION) {
            row = FunctionOf(entry);
            if (row && have < static_cast<unsigned short>(row->nParams))
                throw SyntaxError{entry.nPos, msg::kParameterNumber};
        } else if (IsOperatorKind(entry.nType)) {
            if (have < (entry.nType == TT_NEG ? 1u : 2u)) throw SyntaxError{entry.nPos, msg::kOperantNumber};
        }
        append(std::move(entry), row);
    };
    auto pop = [&stack]() {
        Token top = std::move(stack.back());
        stack.pop_back();
        return top;
    };
    auto priorityOf = [](const Token& entry) {
        return entry.nType == TT_FUNCTION ? kFunctionEntryPriority : PriorityOfKind(entry.nType);
    };

    try {
        Token token = GetNextToken();
        for (;;) {
            const TokenType type = token.nType;
            if (type == TT_END) break;
            if (type == TT_ERROR) throw SyntaxError{pos, msg::kUnknownElement};
            if (type == TT_RPAREN) {
                if (stack.empty()) throw SyntaxError{token.nPos, msg::kUnmatchedRight};
                for (Token top = pop(); top.nType != TT_LPAREN; top = pop()) {
                    moveToOutput(std::move(top));
                    if (stack.empty()) throw SyntaxError{token.nPos, msg::kUnmatchedRight};
                }
                operandExpected = false;
            } else if (type == TT_LPAREN) {
                stack.push_back(std::move(token));
                if (hasPending) {
                    stack.push_back(std::move(pending));
                    hasPending = false;
                }
                operandExpected = true;
            } else if (type == TT_FUNCTION) {
                if (!FunctionOf(token)) throw SyntaxError{token.nPos, msg::kUnknownFunction};
                pending = std::move(token);
                hasPending = true;
                operandExpected = false;
            } else if (IsOperatorKind(type)) {
                short priority;
                if (type == TT_SUB && operandExpected) {
                    token.nType = TT_NEG;
                    priority = kNegPriority;
                } else {
                    priority = PriorityOfKind(type);
                }
                while (!stack.empty() && priority <= priorityOf(stack.back())) moveToOutput(pop());
                stack.push_back(std::move(token));
                operandExpected = true;
            } else if (type == TT_COMMA) {
                // Decided here: a comma ends its argument, so it moves every
                // operator of that argument to the output, down to the
                // function entry or "(" below it; otherwise "Max(1+2,3)"
                // would add 2 and 3. A unary minus keeps its own rule (with
                // nothing before it, "Invalid Operator"). A comma outside every
                // parenthesis simply empties the stack.
                while (!stack.empty() && IsOperatorKind(stack.back().nType)) {
                    Token top = pop();
                    if (top.nType == TT_NEG) {
                        if (m_Postfix.empty()) throw SyntaxError{top.nPos, msg::kInvalidOperator};
                        append(std::move(top), nullptr);
                    } else {
                        moveToOutput(std::move(top));
                    }
                }
                operandExpected = true;
            } else {
                append(std::move(token), nullptr);
                operandExpected = false;
            }
            pos = m_nCurPos;
            token = GetNextToken();
        }
        // Decided here: a function name at the very end, without its
        // parentheses, is a call that lacks its arguments rather than
        // something dropped silently.
        if (hasPending) throw SyntaxError{pending.nPos, msg::kParameterNumber};
        // A text cut to the buffer's size is refused where it was cut.
        if (m_bTextCut) throw SyntaxError{m_nCurPos, msg::kUnknownElement};
        while (!stack.empty()) {
            if (stack.back().nType == TT_LPAREN) throw SyntaxError{m_nCurPos, msg::kUnmatchedLeft};
            moveToOutput(pop());
        }
    } catch (const SyntaxError& error) {
        pos = error.pos;
        message = error.message;
        return false;
    }
    m_bCompiled = true;
    return true;
}

}  // namespace calquor
