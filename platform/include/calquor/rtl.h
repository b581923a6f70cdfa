// Calquor_VCL's runtime library, as far as the engine uses it: its
// variant conversions and generic variant operations with their own error
// classes, and its math and text routines. The Calquor_VCL and Calquor_Auto
// builds of the engine use these instead of the automation rules.
//
// Values are VARIANTs; the runtime's own 8-bit string kind is varString
// (strVal, an AnsiStrAlloc string). Every function is safe to call from any
// thread on distinct data.
#pragma once

#include <calquor/oleauto.h>

#include <exception>
#include <utility>
#include <string>

namespace calquor::rtl {

// Base of the runtime's variant errors; what() gives the runtime's message.
// Default visibility so that a host catches them across modules.
class CALQUOR_PLATFORM_API EVariantError : public std::exception {
public:
    explicit EVariantError(std::string message) : m_message(std::move(message)) {}
    const char* what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// "Could not convert variant of type (%s) into type (%s)".
class CALQUOR_PLATFORM_API EVariantTypeCastError : public EVariantError {
public:
    using EVariantError::EVariantError;
};

// "Overflow while converting variant of type (%s) into type (%s)".
class CALQUOR_PLATFORM_API EVariantOverflowError : public EVariantError {
public:
    using EVariantError::EVariantError;
};

// "Invalid variant operation": an operator not defined for the kinds.
class CALQUOR_PLATFORM_API EVariantInvalidOpError : public EVariantError {
public:
    using EVariantError::EVariantError;
};

// The name of a kind in the runtime's messages: "Empty", "Null", "Smallint",
// "Integer", "Double", "Date", "OleStr", "Boolean", "String", ... Arrays read
// "Array Double", references "Ref to Double"; an unknown code "$0018".
CALQUOR_PLATFORM_API std::string VarTypeAsText(VARTYPE vt);

// Conversions with the runtime's rules. Each throws EVariantTypeCastError
// when the value cannot become the target kind (Null included) and
// EVariantOverflowError when it is out of the target's range; running out of
// memory throws _com_error(E_OUTOFMEMORY). Empty converts to 0, "", False and
// date 0. References are followed to their values.
CALQUOR_PLATFORM_API double VarToDouble(const VARIANT& v);
// Reals and numeric text are rounded half to even ("2.5" -> 2, "2.6" -> 3).
CALQUOR_PLATFORM_API LONG VarToInteger(const VARIANT& v);     // varInteger (VT_I4)
// Smallint and Byte keep the low 16 / 8 bits of the value read as a 64-bit
// integer, without a range check (321 -> Byte 65, True -> Byte 255).
CALQUOR_PLATFORM_API SHORT VarToSmallint(const VARIANT& v);   // VT_I2
CALQUOR_PLATFORM_API BYTE VarToByte(const VARIANT& v);        // VT_UI1
// Text: "true"/"false" in any case, or a number (zero is False).
CALQUOR_PLATFORM_API bool VarToBoolean(const VARIANT& v);
// Numbers are day counts; text is read as a date.
CALQUOR_PLATFORM_API DATE VarToDateTime(const VARIANT& v);
// 8-bit (UTF-8) text of any kind that converts to a string; Booleans give
// "True"/"False".
CALQUOR_PLATFORM_API std::string VarToString(const VARIANT& v);
// A varString value holding text; throws _com_error(E_OUTOFMEMORY).
CALQUOR_PLATFORM_API _variant_t VarFromString(const std::string& text);

// The runtime's generic operators on variants of any kinds: integer operands
// keep an integer result (Integer, or Int64 when it does not fit), values of
// different kinds are converted before they are combined or compared, Null
// propagates through arithmetic, Empty counts as zero, division by zero
// gives +/-INF or NaN, and comparisons follow the runtime's Null and Empty
// rules (Null and then Empty order before every other value). Objects,
// errors, arrays and references throw EVariantInvalidOpError; text that is
// no number where one is needed throws EVariantTypeCastError.
enum class VarOp { Add, Subtract, Multiply, Divide };
enum class VarCmp { Equal, Less, Greater, LessEqual, GreaterEqual };

CALQUOR_PLATFORM_API _variant_t VarArith(VarOp op, const VARIANT& left, const VARIANT& right);
CALQUOR_PLATFORM_API _variant_t VarNeg(const VARIANT& value);
CALQUOR_PLATFORM_API bool VarCompare(VarCmp op, const VARIANT& left, const VARIANT& right);

// Math routines of the runtime library. Floating-point exceptions are masked:
// invalid operations give NaN, divisions by zero +/-INF; nothing throws.

// Rounds to the nearest multiple of 10^digit (digit -2 rounds to hundredths),
// halves away from zero, on the value's shortest decimal digits (1.235 ->
// 1.24). digit is clamped to -37..37.
CALQUOR_PLATFORM_API double SimpleRoundTo(double value, signed char digit);
// The largest integer not greater than x, as a 32-bit integer; saturates
// outside the 32-bit range, NaN gives 0.
CALQUOR_PLATFORM_API LONG Floor(double x);
// |a| <= epsilon (epsilon 0 means the default 1e-12).
CALQUOR_PLATFORM_API bool IsZero(double a, double epsilon);
CALQUOR_PLATFORM_API double Power(double base, double exponent);
CALQUOR_PLATFORM_API double Log2(double x);
CALQUOR_PLATFORM_API double Log10(double x);
CALQUOR_PLATFORM_API double LogN(double base, double x);
CALQUOR_PLATFORM_API double Tan(double x);

// Text routines on UTF-8: case mapping by the locale's tables (letters beyond
// a-z change too; bytes that are not well-formed UTF-8 stay as they are), and
// trimming of every character with a code from 0 to 32.
CALQUOR_PLATFORM_API std::string AnsiUpperCase(const std::string& text);
CALQUOR_PLATFORM_API std::string AnsiLowerCase(const std::string& text);
CALQUOR_PLATFORM_API std::string Trim(const std::string& text);
CALQUOR_PLATFORM_API std::string TrimLeft(const std::string& text);
CALQUOR_PLATFORM_API std::string TrimRight(const std::string& text);

}  // namespace calquor::rtl
