// The adapter base class: its default answers and the library's instance.
#include <calquor/DataAdapter.h>

#include "Conversions.h"
#include "DefaultAdapter.h"
#include "Flavour.h"

namespace calquor {

DataAdapter::DataAdapter() = default;

DataAdapter::DataAdapter(const DataAdapter&) = default;

DataAdapter& DataAdapter::operator=(const DataAdapter&) = default;

_variant_t DataAdapter::GetOperantValue(const char*) {
    if constexpr (flavour::kRuntimeRules) return conv::MakeText("");
    _variant_t null;
    null.vt = VT_NULL;
    return null;
}

std::string DataAdapter::GetFormulaByName(const char*) { return {}; }

bool DataAdapter::IsKnown(const char*) { return false; }

DataAdapter* DefaultAdapter() noexcept {
    // Created on first use, which the language makes thread-safe, so that an
    // engine constructed during another library's static initialisation
    // never sees it unconstructed.
    static DataAdapter instance;
    return &instance;
}

}  // namespace calquor
