// Which server this build is (CALQUOR_AUTO_SERVER, set per server by
// automation/CMakeLists.txt): its interfaces, identifiers and the few
// behaviours in which the two servers differ. This is the server's choice,
// apart from the engine's rule set (Rules.h); Calquor_Auto embeds the engine
// with Calquor_VCL's rules, Calquor_MFC the one with CLQMFC's.
#pragma once

#include "Flavour.h"

#ifndef CALQUOR_AUTO_SERVER
#error "CALQUOR_AUTO_SERVER must name the server being built (0 Calquor_MFC, 1 Calquor_Auto)"
#endif

#if CALQUOR_AUTO_SERVER
#include <calquor/Calquor_Auto.h>
#else
#include <calquor/Calquor_MFC.h>
#endif

namespace calquor::server {

#if CALQUOR_AUTO_SERVER
namespace api = calquor::Calquor_Auto;
inline constexpr const CLSID& kClassId = api::CLSID_Formula;
inline constexpr const GUID& kLibraryId = api::LIBID_Calquor;
inline constexpr const OLECHAR* kProgId = OLESTR("Calquor.Formula");
#else
namespace api = calquor::Calquor_MFC;
inline constexpr const CLSID& kClassId = api::CLSID_Calquom;
inline constexpr const GUID& kLibraryId = api::LIBID_Calquor_MFC;
inline constexpr const OLECHAR* kProgId = OLESTR("Calquor.Calquom");
#endif

// Calquor_Auto's object can be aggregated, answers IDataAdapter itself,
// converts string results to VT_BSTR and asks the user about failing
// adapter calls; Calquor_MFC's does none of these.
inline constexpr bool kAutoServer = CALQUOR_AUTO_SERVER != 0;
static_assert(kAutoServer == flavour::kRuntimeRules, "each server embeds the engine with its own flavour's rules");

// The version of both type libraries.
inline constexpr WORD kLibraryMajor = 1;
inline constexpr WORD kLibraryMinor = 0;

}  // namespace calquor::server
