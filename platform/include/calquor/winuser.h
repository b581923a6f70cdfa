// The modal message box of the runtime stand-in, and the debugger hooks a
// box may lead to. There is no window system: a box writes its caption and
// text to standard error and is answered by the host's answerer, if one is
// installed, or by the stand-in's default answer.
#pragma once

#include <calquor/wtypes.h>

namespace calquor {

struct HWND__;
using HWND = HWND__*;

// Buttons (the low four bits of uType).
inline constexpr UINT MB_OK = 0x0;
inline constexpr UINT MB_OKCANCEL = 0x1;
inline constexpr UINT MB_ABORTRETRYIGNORE = 0x2;
inline constexpr UINT MB_YESNOCANCEL = 0x3;
inline constexpr UINT MB_YESNO = 0x4;
inline constexpr UINT MB_RETRYCANCEL = 0x5;
inline constexpr UINT MB_TYPEMASK = 0xF;
// Icons and modality.
inline constexpr UINT MB_ICONHAND = 0x10;
inline constexpr UINT MB_ICONERROR = MB_ICONHAND;
inline constexpr UINT MB_ICONSTOP = MB_ICONHAND;
inline constexpr UINT MB_ICONQUESTION = 0x20;
inline constexpr UINT MB_ICONWARNING = 0x30;
inline constexpr UINT MB_ICONINFORMATION = 0x40;
inline constexpr UINT MB_APPLMODAL = 0x0;
inline constexpr UINT MB_SYSTEMMODAL = 0x1000;
inline constexpr UINT MB_TASKMODAL = 0x2000;

// Answers.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDABORT = 3;
inline constexpr int IDRETRY = 4;
inline constexpr int IDIGNORE = 5;
inline constexpr int IDYES = 6;
inline constexpr int IDNO = 7;

// Shows a box: writes "<caption>: <text>" (caption "Error" when null) to
// standard error, then returns the installed answerer's answer, or the
// default one. In a process nobody watches the default
// answer is the one that changes least, IDNO where the box offers No
// (MB_YESNO, MB_YESNOCANCEL), else IDIGNORE, IDCANCEL or IDOK as offered.
CALQUOR_PLATFORM_API int MessageBox(HWND hWnd, const char* lpText, const char* lpCaption, UINT uType);

// A host's answerer: gets the box's text, caption and type and returns one
// of the ID* answers. Installing null restores the default answer. The
// answerer is shared by all threads; it may be called from any of them.
using MESSAGEBOXANSWERER = int (*)(void* context, const char* text, const char* caption, UINT type);
CALQUOR_PLATFORM_API void SetMessageBoxAnswerer(MESSAGEBOXANSWERER answerer, void* context);

// Whether a debugger is tracing the process.
CALQUOR_PLATFORM_API BOOL IsDebuggerPresent();
// Stops in the debugger when one is attached; does nothing otherwise (where
// Windows would end the process).
CALQUOR_PLATFORM_API void DebugBreak();

}  // namespace calquor
