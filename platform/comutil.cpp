// PLACEHOLDER: replaced by the wrapper implementation.
#include <calquor/oleauto.h>
