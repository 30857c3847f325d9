#pragma once
// Field access for the byte blocks the camera's logic defines. The blocks have
// no alignment and mix byte orders, so every field goes through these.

#include <bitset>
#include <cstdint>

namespace reconstruction {

inline uint16_t LoadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

inline uint16_t LoadBe16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

inline void StoreLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value & 0xFF);
    p[1] = static_cast<uint8_t>(value >> 8);
}

inline void StoreBe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value >> 8);
    p[1] = static_cast<uint8_t>(value & 0xFF);
}

// Strides are stored as sign and magnitude: 0x8001 is -1 and 0x8000 is 0.
inline int32_t DecodeSignMagnitude(uint16_t word) {
    const std::bitset<16> bits(word);
    const int32_t magnitude = word & 0x7FFF;
    return bits.test(15) ? -magnitude : magnitude;
}

}  // namespace reconstruction
