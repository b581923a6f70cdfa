// The string functions of the formula language. Lengths and positions count
// bytes of the UTF-8 text. No frame of their own: a refused conversion leaves
// them as the variant layer's error.
#pragma once

#include <calquor/oleauto.h>

namespace calquor {

_variant_t FnLength(const _variant_t& s);
_variant_t FnTrim(const _variant_t& s);
_variant_t FnTrimLeft(const _variant_t& s);
_variant_t FnTrimRight(const _variant_t& s);
_variant_t FnUpperCase(const _variant_t& s);
_variant_t FnLowerCase(const _variant_t& s);
_variant_t FnReverse(const _variant_t& s);
_variant_t FnSubStr(const _variant_t& s, const _variant_t& start, const _variant_t& end);
_variant_t FnFindSub(const _variant_t& s, const _variant_t& sub);
_variant_t FnReplace(const _variant_t& s, const _variant_t& oldText, const _variant_t& newText);
_variant_t FnChar(const _variant_t& code);

}  // namespace calquor
