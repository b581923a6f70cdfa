// Which server this build is: its interfaces, identifiers and the few
// behaviours in which the two servers differ. Calquor_Auto is the build
// with Calquor_VCL's rules (CALQUOR_RUNTIME_RULES=1).
#pragma once

#include "Flavour.h"

#if CALQUOR_RUNTIME_RULES
#include <calquor/Calquor_Auto.h>
#else
#include <calquor/Calquor_MFC.h>
#endif

namespace calquor::server {

#if CALQUOR_RUNTIME_RULES
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
inline constexpr bool kAutoServer = flavour::kRuntimeRules;

// The version of both type libraries.
inline constexpr WORD kLibraryMajor = 1;
inline constexpr WORD kLibraryMinor = 0;

}  // namespace calquor::server
