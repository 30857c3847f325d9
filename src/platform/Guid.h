#pragma once
// Interface-class identifiers, laid out as the system's GUID so they can be
// handed to it unchanged.
#include <cstdint>
#include <string>

namespace platform {

struct Guid {
    uint32_t data1;
    uint16_t data2;
    uint16_t data3;
    uint8_t data4[8];
};
static_assert(sizeof(Guid) == 16, "Guid must match the system's 16-byte layout");

bool operator==(const Guid& a, const Guid& b);
inline bool operator!=(const Guid& a, const Guid& b) { return !(a == b); }

// Parses the registry form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}" (hex digits
// in either case, braces required) as CLSIDFromString does. Never blocks; false
// for any other text, leaving `out` unchanged. Thread-safe.
bool ParseGuid(const std::string& text, Guid& out);

// The registry form in upper case, for device paths and diagnostics.
std::string GuidText(const Guid& guid);

}  // namespace platform
