// The date functions of the formula language.
#pragma once

#include <calquor/oleauto.h>

namespace calquor {

_variant_t FnToday();
_variant_t FnNow();
_variant_t FnAddDays(const _variant_t& date, const _variant_t& n);
_variant_t FnAddWeeks(const _variant_t& date, const _variant_t& n);
_variant_t FnAddMonths(const _variant_t& date, const _variant_t& n);
_variant_t FnAddYears(const _variant_t& date, const _variant_t& n);
_variant_t FnDateDiff(const _variant_t& a, const _variant_t& b, const _variant_t& unit);
_variant_t FnIsLeapYear(const _variant_t& date);
_variant_t FnGetMonth(const _variant_t& date);
_variant_t FnGetYear(const _variant_t& date);
_variant_t FnDayOfMonth(const _variant_t& date);
_variant_t FnDayOfWeek(const _variant_t& date, const _variant_t& format);

}  // namespace calquor
