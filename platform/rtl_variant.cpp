// PLACEHOLDER: replaced by the runtime-library variant support.
#include <calquor/rtl.h>
