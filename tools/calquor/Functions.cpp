// The functions command, and the names that the repl completes.
#include "Commands.h"

#include "FunctionList.h"
#include "Text.h"

#include <algorithm>
#include <cstring>

namespace calquor::tool {

int RunFunctions() {
    std::size_t width = 0;
    for (const FunctionInfo& function : kFunctions)
        width = std::max(width, std::strlen(function.name) + std::strlen(function.arguments) + 2);
    for (const FunctionInfo& function : kFunctions) {
        const std::string call = std::string(function.name) + "(" + function.arguments + ")";
        std::printf("%-*s  %s\n", static_cast<int>(width), call.c_str(), function.summary);
    }
    return kExitOk;
}

std::vector<std::string> FunctionNames() {
    std::vector<std::string> names;
    for (const FunctionInfo& function : kFunctions) names.emplace_back(function.name);
    return names;
}

}  // namespace calquor::tool
