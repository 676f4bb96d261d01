#include "model/number_syntax.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace orvane {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

size_t skipDigits(std::string_view text, size_t at) {
    while (at < text.size() && isDigit(text[at])) ++at;
    return at;
}

}  // namespace

size_t scanInteger(std::string_view text, int32_t& value, bool& fits) {
    size_t at = 0;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
    const size_t digitsStart = at;
    at = skipDigits(text, at);
    if (at == digitsStart) return 0;
    // Accumulate as a negative number so that INT32_MIN is reachable.
    int64_t magnitude = 0;
    fits = true;
    for (size_t k = digitsStart; k < at && fits; ++k) {
        magnitude = magnitude * 10 + (text[k] - '0');
        if (magnitude > int64_t{1} << 31) fits = false;
    }
    if (fits) {
        const int64_t signedValue = negative ? -magnitude : magnitude;
        if (signedValue > std::numeric_limits<int32_t>::max() ||
            signedValue < std::numeric_limits<int32_t>::min()) {
            fits = false;
        } else {
            value = static_cast<int32_t>(signedValue);
        }
    }
    return at;
}

size_t scanDecimalReal(std::string_view text) {
    size_t at = 0;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) ++at;
    const size_t intStart = at;
    at = skipDigits(text, at);
    size_t mantissaDigits = at - intStart;
    if (at < text.size() && text[at] == '.') {
        const size_t fracStart = at + 1;
        const size_t fracEnd = skipDigits(text, fracStart);
        mantissaDigits += fracEnd - fracStart;
        at = fracEnd;
    }
    if (mantissaDigits == 0) return 0;
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
        size_t exp = at + 1;
        if (exp < text.size() && (text[exp] == '+' || text[exp] == '-')) ++exp;
        const size_t expEnd = skipDigits(text, exp);
        if (expEnd > exp) at = expEnd;  // an 'e' without digits is not part of the number
    }
    return at;
}

bool parseWholeFloat(std::string_view text, float& value) {
    if (text.empty() || scanDecimalReal(text) != text.size()) return false;
    const std::string copy(text);
    const float parsed = std::strtof(copy.c_str(), nullptr);
    if (std::isinf(parsed)) return false;
    value = parsed;
    return true;
}

bool parseWholeDouble(std::string_view text, double& value) {
    if (text.empty() || scanDecimalReal(text) != text.size()) return false;
    const std::string copy(text);
    const double parsed = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(parsed)) return false;
    value = parsed;
    return true;
}

bool parseWholeInteger(std::string_view text, int32_t& value) {
    bool fits = false;
    return scanInteger(text, value, fits) == text.size() && !text.empty() && fits;
}

}  // namespace orvane
