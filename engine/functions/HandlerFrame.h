// The handler frame: runs a function body and turns any failure inside it
// into CQEError with the function's fixed message.
#pragma once

#include "Flavour.h"
#include "ResultCodes.h"

#include <calquor/oleauto.h>

#include <utility>

namespace calquor {

// Runs body(); any exception it throws becomes CQEError(message). A refused
// variant conversion becomes CQEError(conversionMessage) instead: the same
// message in the first flavour, "Parameter type mismatch" under the second
// flavour's rules (wired there).
template <class Body>
_variant_t RunFramed(const char* message, Body&& body) {
    try {
        return std::forward<Body>(body)();
    } catch (...) {
        throw CQEError(message);
    }
}

}  // namespace calquor
