// What a Calquex engine binds to for its operand values: in the plain
// libraries a C++ DataAdapter, which the engine uses without owning it.
// The automation servers build the same engine from the same Calquex.h with
// their own copy of this header (automation/binding/), which binds a
// client's IDataAdapter instead; hosts always see this one.
#pragma once

namespace calquor {

class DataAdapter;

struct CalquexBinding {
    // What the engine holds and passes to the engines of @name references.
    using Handle = DataAdapter*;
    // What SetDataAdapter takes.
    using Source = DataAdapter*;
};

}  // namespace calquor
