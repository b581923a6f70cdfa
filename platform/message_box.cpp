// The message box stand-in and the debugger hooks.
#include <calquor/oleauto.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>

namespace calquor {
namespace {

std::mutex g_answererMutex;
MESSAGEBOXANSWERER g_answerer = nullptr;
void* g_context = nullptr;

int DefaultAnswer(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_YESNO:
    case MB_YESNOCANCEL:
        return IDNO;
    case MB_ABORTRETRYIGNORE:
        return IDIGNORE;
    case MB_OKCANCEL:
    case MB_RETRYCANCEL:
        return IDCANCEL;
    default:
        return IDOK;
    }
}

}  // namespace

int MessageBox(HWND, const char* lpText, const char* lpCaption, UINT uType) {
    const char* caption = lpCaption ? lpCaption : "Error";
    const char* text = lpText ? lpText : "";
    // One write, so that boxes from several threads do not interleave.
    std::string line;
    try {
        line.append(caption).append(": ").append(text).append("\n");
        std::fwrite(line.data(), 1, line.size(), stderr);
    } catch (...) {
        std::fputs(text, stderr);
        std::fputc('\n', stderr);
    }
    std::fflush(stderr);
    MESSAGEBOXANSWERER answerer;
    void* context;
    {
        std::lock_guard<std::mutex> guard(g_answererMutex);
        answerer = g_answerer;
        context = g_context;
    }
    return answerer ? answerer(context, text, caption, uType) : DefaultAnswer(uType);
}

void SetMessageBoxAnswerer(MESSAGEBOXANSWERER answerer, void* context) {
    std::lock_guard<std::mutex> guard(g_answererMutex);
    g_answerer = answerer;
    g_context = answerer ? context : nullptr;
}

BOOL IsDebuggerPresent() {
    // The kernel names the tracing process, if any, in the status file.
    try {
        std::ifstream status("/proc/self/status");
        std::string line;
        while (std::getline(status, line)) {
            if (line.compare(0, 10, "TracerPid:") == 0) return std::strtol(line.c_str() + 10, nullptr, 10) != 0;
        }
    } catch (...) {
    }
    return FALSE;
}

void DebugBreak() {
    if (IsDebuggerPresent()) std::raise(SIGTRAP);
}

}  // namespace calquor
