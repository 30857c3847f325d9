#include "platform/Guid.h"

#include <cstdio>
#include <cstring>

namespace platform {
namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads `digits` hex digits at text[pos]; false on anything else.
bool ReadHex(const std::string& text, size_t pos, size_t digits, uint32_t& value) {
    value = 0;
    for (size_t i = 0; i < digits; ++i) {
        int d = HexDigit(text[pos + i]);
        if (d < 0) return false;
        value = (value << 4) | static_cast<uint32_t>(d);
    }
    return true;
}

}  // namespace

bool operator==(const Guid& a, const Guid& b) {
    return a.data1 == b.data1 && a.data2 == b.data2 && a.data3 == b.data3 &&
           std::memcmp(a.data4, b.data4, sizeof a.data4) == 0;
}

bool ParseGuid(const std::string& text, Guid& out) {
    // {01234567-0123-0123-0123-0123456789AB}
    if (text.size() != 38 || text[0] != '{' || text[37] != '}') return false;
    if (text[9] != '-' || text[14] != '-' || text[19] != '-' || text[24] != '-') return false;
    Guid guid{};
    uint32_t v = 0;
    if (!ReadHex(text, 1, 8, v)) return false;
    guid.data1 = v;
    if (!ReadHex(text, 10, 4, v)) return false;
    guid.data2 = static_cast<uint16_t>(v);
    if (!ReadHex(text, 15, 4, v)) return false;
    guid.data3 = static_cast<uint16_t>(v);
    static const size_t kBytePositions[8] = {20, 22, 25, 27, 29, 31, 33, 35};
    for (size_t i = 0; i < 8; ++i) {
        if (!ReadHex(text, kBytePositions[i], 2, v)) return false;
        guid.data4[i] = static_cast<uint8_t>(v);
    }
    out = guid;
    return true;
}

std::string GuidText(const Guid& g) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1],
                  g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
    return text;
}

}  // namespace platform
