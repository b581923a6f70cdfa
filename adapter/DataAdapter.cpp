// The adapter base class, its default answers, the library's instance, and
// how the plain library's engine calls a C++ adapter.
#include <calquor/DataAdapter.h>

#include "AdapterAccess.h"
#include "Conversions.h"
#include "Rules.h"

namespace calquor {

DataAdapter::DataAdapter() = default;

DataAdapter::DataAdapter(const DataAdapter&) = default;

DataAdapter& DataAdapter::operator=(const DataAdapter&) = default;

_variant_t DataAdapter::GetOperantValue(const char*) {
    return Rules::MissingValue();
}

std::string DataAdapter::GetFormulaByName(const char*) { return {}; }

bool DataAdapter::IsKnown(const char*) { return false; }

void Calquex::SetDataAdapter(DataAdapter* adapter) { m_pAdapter = adapter; }

namespace adapter {

Handle DefaultHandle() noexcept {
    // One stateless instance for the library, created on first use (which
    // the language makes thread-safe), so that an engine constructed during
    // another library's static initialisation never sees it unconstructed.
    static DataAdapter instance;
    return &instance;
}

}  // namespace adapter
}  // namespace calquor
