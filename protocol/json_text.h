#pragma once
// JSON text in and out, with the rules every writer and reader of the protocol shares.
//
// Writing: compact, object keys in ascending byte order at every level, "/" escaped as "\/"
// inside strings, non-ASCII written as UTF-8. A string that is not valid UTF-8 or a number that
// is not finite makes writing fail with WireCodecException (nothing is replaced silently).
//
// Reading: the whole text must be one JSON value (white space around it allowed). Nesting
// deeper than `maxJsonDepth` is refused while parsing, before any deeper value is built, so
// hostile input cannot exhaust the stack or memory through nesting. Invalid UTF-8, NUL bytes,
// numbers out of range and trailing bytes are refused. Every refusal is a DecodeError.

#include <nlohmann/json_fwd.hpp>
#include <stdexcept>
#include <string>
#include <string_view>

namespace velopad {

// A JSON text or value that does not have the required form.
class DecodeError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

enum class WireCodecError {
    invalidUTF8,      // the encoded bytes are not UTF-8 text
    nonFiniteNumber,  // a number to be written is infinite or NaN (JSON has no form for it)
};

// Fixed English description of an error.
std::string_view description(WireCodecError error);

class WireCodecException : public std::runtime_error {
  public:
    explicit WireCodecException(WireCodecError error);
    WireCodecError error() const { return error_; }

  private:
    WireCodecError error_;
};

inline constexpr int maxJsonDepth = 64;

std::string writeJsonText(const nlohmann::json& value);
nlohmann::json parseJsonText(std::string_view text, int maxDepth = maxJsonDepth);

}  // namespace velopad
