// Lookup and calling of the built-in function table, and CalquorInfo.
#include "FunctionTable.h"

#include "Conversions.h"
#include "HandlerFrame.h"
#include "ResultCodes.h"

#include <array>
#include <string>

namespace calquor {

namespace {

// The rows' names with their lengths, measured once at build time, so that a
// lookup compares lengths before it compares characters.
constexpr auto kRowNames = [] {
    std::array<std::string_view, g_nFunctionCount> names{};
    for (int i = 0; i < g_nFunctionCount; ++i) names[static_cast<std::size_t>(i)] = g_FunctionTable[i].szName;
    return names;
}();

}  // namespace

const FUNCTION* FindFunction(std::string_view name) noexcept {
    for (std::size_t i = 0; i < kRowNames.size(); ++i)
        if (name == kRowNames[i]) return &g_FunctionTable[i];
    return nullptr;
}

std::string_view FunctionName(const FUNCTION& row) noexcept {
    return kRowNames[static_cast<std::size_t>(&row - g_FunctionTable)];
}

_variant_t CallFunction(const FUNCTION& row, const _variant_t* args) {
    switch (row.nParams) {
    case 1: if (row.pfnFunc1) return row.pfnFunc1(args[0]); break;
    case 2: if (row.pfnFunc2) return row.pfnFunc2(args[0], args[1]); break;
    case 3: if (row.pfnFunc3) return row.pfnFunc3(args[0], args[1], args[2]); break;
    default: if (row.pfnFunc0) return row.pfnFunc0(); break;
    }
    // A row without its handler fails the call; it never makes up a value.
    throw CQEError(msg::kUnknownError);
}

// A VT_BSTR in both flavours: the table and its own function are the same in
// every build, unlike the string functions, whose texts follow the flavour.
_variant_t FnCalquorInfo() {
    return RunFramed(msg::kUnknownError, [] {
        return _variant_t(conv::Widen(std::string(g_szProductName) + "  " + g_szVersion));
    });
}

}  // namespace calquor
