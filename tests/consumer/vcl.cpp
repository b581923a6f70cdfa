// Checks the installed second-flavour library from a host's point of view;
// prints "N passed, N failed" and exits non-zero on any failure.
#include <calquor/Calquex.h>

#include "Checks.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

using namespace calquor;

namespace {

using consumer::Check;

_variant_t Calc(const char* text, int& code, std::string& message) {
    Calquex engine(text);
    return engine.Calculate(code, message);
}

std::string Text(const _variant_t& v) {
    if (v.vt == varString) return std::string(v.strVal ? v.strVal : "", AnsiStrLen(v.strVal));
    return "";
}

}  // namespace

int main() {
    consumer::CheckVersion();
    int code = -1;
    std::string message;
    const _variant_t sum = Calc("1+2", code, message);
    Check(code == 0 && sum.vt == VT_I4 && sum.lVal == 3, "1+2 is VT_I4 3");
    const _variant_t equal = Calc("'1' = 1", code, message);
    Check(code == 0 && equal.vt == VT_BOOL && equal.boolVal == VARIANT_TRUE, "'1' = 1 is true");
    const _variant_t replaced = Calc("Replace('aaa','a','b')", code, message);
    Check(code == 0 && Text(replaced) == "baa", "Replace replaces the first occurrence");

    // A function's own error leaves Calculate as a C++ exception.
    try {
        Calc("Mod(1, 0)", code, message);
        Check(false, "Mod(1, 0) throws");
    } catch (const std::exception& error) {
        Check(std::strcmp(error.what(), "Unknown error") == 0, "Mod(1, 0) throws Unknown error");
    }
    return consumer::Report();
}
