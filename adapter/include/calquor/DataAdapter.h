// The data adapter of the plain library: how a host supplies operand values
// and the texts of named formulas. Derive from DataAdapter, override the three
// operations and bind an instance with Calquex::SetDataAdapter.
#pragma once

#include <calquor/CalquorExport.h>
#include <calquor/oleauto.h>

#include <string>

namespace calquor {

// Contract for implementers:
// - All calls come from the thread that runs Calquex::Calculate, never from
//   Compile. The engine neither copies nor destroys an adapter: the host keeps
//   it alive while any engine bound to it may calculate. An adapter shared by
//   engines on several threads must protect itself.
// - Names are NUL-terminated UTF-8 (the ANSI code page), exactly as written
//   between the braces or after "@". Every occurrence of a name in a formula
//   comes with the same pointer, valid for as long as the engine keeps that
//   compiled form (until its text changes, it compiles again or it is
//   destroyed; a copied engine and each @name formula have their own), so a
//   host may key a lookup cache on the pointer instead of hashing the text.
//   Forget such a cache when the formula changes: a later compiled form may
//   reuse the addresses for other names.
// - IsKnown is asked once per operand occurrence; GetOperantValue only after
//   IsKnown answered true, once per occurrence (no caching). GetFormulaByName
//   is asked once per @name occurrence; its text (at most 1023 bytes) is
//   compiled and calculated by a nested engine bound to the same adapter.
// - An exception thrown from any operation ends the calculation as an error
//   of the calculation (see Calquex::Calculate).
class CALQUOR_API DataAdapter {
public:
    DataAdapter();
    DataAdapter(const DataAdapter& other);
    DataAdapter& operator=(const DataAdapter& other);

    // Default: Null (the Calquor_VCL build: an empty string).
    virtual _variant_t GetOperantValue(const char* name);
    // Default: the empty text.
    virtual std::string GetFormulaByName(const char* name);
    // Default: false.
    virtual bool IsKnown(const char* name);

    // Declared after the three operations so that they keep their slots 1 to
    // 3; virtual so that a host may delete a derived adapter through a base
    // pointer without undefined behaviour.
    virtual ~DataAdapter() = default;
};

}  // namespace calquor
