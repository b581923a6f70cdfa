// The handler frame: runs a function body and turns any failure inside it
// into CQEError with the function's fixed message.
#pragma once

#include "ResultCodes.h"
#include "Rules.h"

#include <calquor/oleauto.h>
#include <calquor/rtl.h>

#include <utility>

namespace calquor {

// Runs body(); any exception it throws becomes CQEError(message). In
// Calquor_VCL the frame has two clauses instead: a conversion the
// runtime refuses becomes "Parameter type mismatch", anything else
// "Unknown error", whatever message the function names.
template <class Body>
_variant_t RunFramed(const char* message, Body&& body) {
    if constexpr (Rules::kFunctionErrorsByCause) {
        try {
            return std::forward<Body>(body)();
        } catch (const rtl::EVariantTypeCastError&) {
            throw CQEError(msg::kParameterTypeMismatch);
        } catch (const rtl::EVariantOverflowError&) {
            throw CQEError(msg::kParameterTypeMismatch);
        } catch (...) {
            throw CQEError(msg::kUnknownError);
        }
    } else {
        try {
            return std::forward<Body>(body)();
        } catch (...) {
            throw CQEError(message);
        }
    }
}

}  // namespace calquor
