#include "camera/HexToDecimal.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>

namespace {
// 32-bit conversions saturate on overflow; the host's long may be wider.
int32_t Saturate(long long value) {
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}
}  // namespace

bool HexToDecimal(const char* text, int32_t& value) {
    value = text ? Saturate(std::strtoll(text, nullptr, 16)) : 0;
    return value != INT32_MAX;
}

int32_t DecimalValue(const char* text) {
    return text ? Saturate(std::strtoll(text, nullptr, 10)) : 0;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}
