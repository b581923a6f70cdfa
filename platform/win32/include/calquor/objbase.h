// On Windows the system header declares these; see wtypes.h.
#pragma once

#include <calquor/wtypes.h>
