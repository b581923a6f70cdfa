// Wide text for the component services, shared by the servers and the plain
// library's registration: OLECHAR strings (UTF-16 on every system, though
// the character type differs) and module paths.
#pragma once

#include <calquor/oleauto.h>

#include <string>

namespace calquor::oletext {

using OleString = std::basic_string<OLECHAR>;

// 8-bit text (the ANSI code page) as wide text; empty when it does not
// convert.
inline OleString Wide(const std::string& text) {
    OleString wide(text.size(), OLECHAR{0});
    const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                                          static_cast<int>(wide.size()));
    wide.resize(units > 0 ? static_cast<std::size_t>(units) : 0);
    return wide;
}

// NUL-terminated wide text as 8-bit text; empty for null.
inline std::string Narrow(const OLECHAR* text) {
    if (!text) return {};
    const int bytes = WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (bytes <= 1) return {};
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow.data(), bytes, nullptr, nullptr);
    narrow.resize(static_cast<std::size_t>(bytes - 1));
    return narrow;
}

// The folder of a module path (either separator); empty without one.
inline std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The system kind type libraries are registered under on this build.
inline constexpr SYSKIND kSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

}  // namespace calquor::oletext
