// The library-wide default adapter every plain engine starts bound to.
#pragma once

#include <calquor/DataAdapter.h>

namespace calquor {

// One stateless instance for the whole library, alive while it is loaded.
DataAdapter* DefaultAdapter() noexcept;

}  // namespace calquor
