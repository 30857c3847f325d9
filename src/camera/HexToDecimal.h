#pragma once
#include <cstdint>
#include <string>

// The text as a base-16 number (a "0x" prefix is accepted; parsing stops at
// the first character that is not a hex digit; no digits give 0). False
// exactly when the result is 0x7FFFFFFF, the value a 32-bit conversion gives
// on overflow, which is refused even when the text says it.
bool HexToDecimal(const char* text, int32_t& value);

// Leading-number decimal parsing as settings and request texts use it:
// white space, optional sign, digits; anything else ends it; none gives 0.
int32_t DecimalValue(const char* text);

// The text in lower case, as the settings and request rules compare it.
std::string LowerCase(std::string text);
