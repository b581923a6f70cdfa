// Fuzz target: the scanner and the compiler on arbitrary bytes as formula
// text, shorter and longer than the 1023-byte limit. Built once against each
// plain library (CALQUOR_FUZZ_RUNTIME_RULES says which one).
#include "FuzzSupport.h"

#include <calquor/Calquex.h>

#include <cstring>
#include <string>

using namespace calquor;
using calquor::fuzz::Require;

namespace {

constexpr bool kRuntimeRules = CALQUOR_FUZZ_RUNTIME_RULES != 0;

struct CompileResult {
    bool ok;
    int pos;
    std::string message;
};

CompileResult CompileOnce(Calquex& engine) {
    CompileResult r{false, -1, "untouched"};
    r.ok = engine.Compile(r.pos, r.message);
    return r;
}

bool operator==(const CompileResult& a, const CompileResult& b) {
    return a.ok == b.ok && a.pos == b.pos && a.message == b.message;
}

// Walks the scanner alone over the text and checks every token it returns.
void CheckTokens(const char* text, std::size_t stored) {
    Calquex engine(text);
    int last = 0;
    // Every token but the end consumes at least one byte, so the walk is
    // bounded by the text's length.
    for (std::size_t step = 0; step <= stored + 1; ++step) {
        const Token token = engine.GetNextToken();
        const int cur = engine.GetCurrentPos();
        Require(cur >= last && static_cast<std::size_t>(cur) <= stored, "scan position left the text");
        Require(token.nPos >= last && token.nPos <= cur, "token position outside the scanned part");
        if (token.nType == TT_END) {
            Require(static_cast<std::size_t>(cur) == stored, "end token before the end of the text");
            return;
        }
        if (token.nType == TT_ERROR) return;  // Compile stops here too
        Require(token.nType >= TT_INTEGER && token.nType <= TT_COMMA && token.nType != TT_NEG,
                "scanner returned an unknown token kind");
        Require(cur > token.nPos, "a token that consumed nothing");
        last = cur;
    }
    calquor::fuzz::Fail("scanner did not reach the end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // The engine takes C strings: the text ends at the first NUL byte.
    const std::string input(reinterpret_cast<const char*>(data), size);
    const char* text = input.c_str();
    const std::size_t length = std::strlen(text);
    const bool cut = length > static_cast<std::size_t>(Calquex::kMaxFormulaLength);
    const std::size_t stored = cut ? Calquex::kMaxFormulaLength : length;

    Calquex engine(text);
    Require(std::strlen(engine.GetFormulaStr()) == stored, "stored text has the wrong length");
    Require(std::memcmp(engine.GetFormulaStr(), text, stored) == 0, "stored text differs");

    const CompileResult first = CompileOnce(engine);
    Require(fuzz::IsCompileMessage(first.message), "Compile reported an unknown message");
    Require(first.ok == (first.message == "Succeed"), "Compile result and message disagree");
    Require(first.pos >= 0 && static_cast<std::size_t>(first.pos) <= stored, "Compile position outside the text");
    // A cut text never compiles, so it can never calculate another formula.
    if (cut) Require(!first.ok, "a cut text compiled");
    Require(CompileOnce(engine) == first, "a second Compile differs");

    // Copies and assignment compile alike.
    {
        Calquex copy(engine);
        Require(CompileOnce(copy) == first, "a copy compiles differently");
        Calquex assigned;
        assigned = engine;
        Require(CompileOnce(assigned) == first, "an assigned engine compiles differently");
    }

    // Calculating without an adapter: a compile failure comes back with its
    // position and message; anything else is a clean outcome with a code.
    {
        Calquex calc(text);
        calc.SetDataAdapter(nullptr);
        int code = -1;
        std::string message;
        try {
            const _variant_t value = calc.Calculate(code, message);
            if (stored == 0) {
                Require(code == 0, "the empty text failed");
            } else if (!first.ok) {
                Require(code == first.pos && message == first.message, "Calculate hid the compile error");
                Require(value.vt == (kRuntimeRules ? varString : VT_NULL), "a failed compile gave a value");
            } else if (code != 0) {
                Require(message == "type cast error" || fuzz::StartsWith(message, "Unrecognized element:") ||
                            kRuntimeRules,
                        "Calculate failed with an unexpected message");
                if (!kRuntimeRules) Require(value.vt == VT_BOOL && value.boolVal == VARIANT_FALSE, "failure value");
            }
        } catch (const std::exception&) {
            // Calquor_VCL lets its functions' errors leave Calculate.
            Require(kRuntimeRules, "an exception left Calculate");
        } catch (const _com_error&) {
            Require(kRuntimeRules, "a _com_error left Calculate");
        }
    }

    CheckTokens(text, stored);
    return 0;
}
