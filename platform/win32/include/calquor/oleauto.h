// The automation runtime on Windows: the system's, see wtypes.h, and the
// Calquor_VCL's 8-bit strings, which the system lacks. One header for
// the whole API, as on the stand-in.
#pragma once

#include <calquor/ansistr.h>
#include <calquor/oaidl.h>
#include <calquor/objbase.h>
#include <calquor/unknwn.h>
#include <calquor/winreg.h>
#include <calquor/winuser.h>
#include <calquor/wtypes.h>

#include <calquor/comutil.h>
