// The numeric functions of the formula language.
#pragma once

#include <calquor/oleauto.h>

namespace calquor {

_variant_t FnMin(const _variant_t& a, const _variant_t& b);
_variant_t FnMax(const _variant_t& a, const _variant_t& b);
_variant_t FnMod(const _variant_t& a, const _variant_t& b);
_variant_t FnRound(const _variant_t& x, const _variant_t& n);
_variant_t FnFloor(const _variant_t& x);
_variant_t FnPower(const _variant_t& x, const _variant_t& y);
_variant_t FnIsZero(const _variant_t& x);
_variant_t FnLog2(const _variant_t& x);
_variant_t FnLog10(const _variant_t& x);
_variant_t FnLogN(const _variant_t& base, const _variant_t& x);
_variant_t FnCos(const _variant_t& x);
_variant_t FnSin(const _variant_t& x);
_variant_t FnTan(const _variant_t& x);

}  // namespace calquor
