// Every fixed message of the engine, and its exception class.
#pragma once

#include <exception>
#include <string>

namespace calquor {

namespace msg {
// Compile.
inline constexpr const char* kSucceed = "Succeed";
inline constexpr const char* kUnknownElement = "Unknown element";
inline constexpr const char* kUnmatchedRight = "Unmatched right parentheses";
inline constexpr const char* kUnknownFunction = "Unknown function";
inline constexpr const char* kOperantNumber = "operant number not matching";
inline constexpr const char* kParameterNumber = "Parameter number not matching";
inline constexpr const char* kInvalidOperator = "Invalid Operator";
inline constexpr const char* kUnmatchedLeft = "Unmatched left parentheses";
// Calculate.
inline constexpr const char* kUnrecognizedElement = "Unrecognized element:";
inline constexpr const char* kTypeCastError = "type cast error";
// Calquor_VCL's report of too few values on the stack.
inline constexpr const char* kInvalidVariantOperation = "Invalid variant operation";
// Followed by the reference's name: a chain of @name references deeper than
// kMaxReferenceDepth (a formula that refers to itself ends here), or more
// reference calculations in one Calculate than kMaxReferenceCalculations
// (references that branch at every level end here).
inline constexpr const char* kReferenceTooDeep = "Formula reference too deep:";
// Raised inside the engine.
inline constexpr const char* kUnknownOperator = "Unknown operator";
inline constexpr const char* kParameterTypeMismatch = "Parameter type mismatch";
inline constexpr const char* kUnknownError = "Unknown error";
}  // namespace msg

// The engine's exception: thrown by value with one of the fixed messages.
// Internal to the engine; in the Calquor_VCL build it can leave Calculate, and
// a host catches it as std::exception, whose what() gives the message.
class CQEError : public std::exception {
public:
    explicit CQEError(const char* text) : m_szMessage(text ? text : "") {}
    const char* what() const noexcept override { return m_szMessage.c_str(); }
    const std::string& Message() const noexcept { return m_szMessage; }

private:
    std::string m_szMessage;
};

}  // namespace calquor
