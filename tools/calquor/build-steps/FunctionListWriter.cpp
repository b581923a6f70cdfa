// Build step: writes FunctionList.h, the built-in functions as the calquor
// tool shows them (`calquor functions`, completion in the repl), from the
// engine's help rows beside its function table. The tool itself uses only the
// public interface; this program alone reads the engine's table, when the
// tool is built, so the listing always matches the engine built with it.
// Only constexpr text is read: nothing here calls or links the engine.
#include "FunctionTable.h"

#include <cstdio>
#include <string>

namespace {

// The text as a C++ string literal.
std::string Literal(const char* text) {
    std::string literal = "\"";
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c == '"' || *c == '\\') literal += '\\';
        literal += *c;
    }
    return literal + "\"";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT\n", argv[0]);
        return 2;
    }
    std::string text =
        "// Generated when the calquor tool is built, from the help rows beside the\n"
        "// engine's function table (engine/functions/FunctionTable.h). Do not edit.\n"
        "#pragma once\n\n"
        "namespace calquor::tool {\n\n"
        "// One built-in function: its name, its arguments (\", \" between them)\n"
        "// and one line on what it gives.\n"
        "struct FunctionInfo {\n"
        "    const char* name;\n"
        "    const char* arguments;\n"
        "    const char* summary;\n"
        "};\n\n"
        "inline constexpr FunctionInfo kFunctions[] = {\n";
    for (const calquor::FUNCTIONHELP& row : calquor::g_FunctionHelp)
        text += "    {" + Literal(row.szName) + ", " + Literal(row.szArguments) + ", " + Literal(row.szSummary) + "},\n";
    text += "};\n\n}  // namespace calquor::tool\n";

    std::FILE* out = std::fopen(argv[1], "wb");
    if (out == nullptr || std::fputs(text.c_str(), out) < 0 || std::fclose(out) != 0) {
        std::perror(argv[1]);
        return 1;
    }
    return 0;
}
