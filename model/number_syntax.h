// Recognisers for the decimal numbers of the input files. Each returns the length
// of the longest prefix of `text` that forms a number of its kind (0: none), and
// the value where one was found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace orvane {

// [+-]?digits, of any length; `value` is set only when the number fits 32 bits.
size_t scanInteger(std::string_view text, int32_t& value, bool& fits);

// [+-]? (digits [. digits*] | . digits) ([eE] [+-]? digits)?  (no hex, inf or nan).
size_t scanDecimalReal(std::string_view text);

// The whole of `text` as a real in single or double precision; false when it is
// not wholly a decimal real or its value overflows the type.
bool parseWholeFloat(std::string_view text, float& value);
bool parseWholeDouble(std::string_view text, double& value);
// The whole of `text` as a 32-bit integer.
bool parseWholeInteger(std::string_view text, int32_t& value);

}  // namespace orvane
