// PLACEHOLDER: replaced by the runtime-library math and text routines.
#include <calquor/rtl.h>
