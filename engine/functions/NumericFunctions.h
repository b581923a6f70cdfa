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

// The functions that give a number for any numbers, on arguments already
// read as numbers (args[0] the first written): what their handlers compute
// once the arguments are converted, without a variant or a frame. The run on
// plain numbers calls them through the table (FUNCTION::pfnNumbers); with
// CLQMFC's rules none of them fails.
using PFNNUMBERS = double (*)(const double* args);
double NumbersMin(const double* args);
double NumbersMax(const double* args);
double NumbersFloor(const double* args);
double NumbersPower(const double* args);
double NumbersLog2(const double* args);
double NumbersLog10(const double* args);
double NumbersLogN(const double* args);
double NumbersCos(const double* args);
double NumbersSin(const double* args);
double NumbersTan(const double* args);

}  // namespace calquor
