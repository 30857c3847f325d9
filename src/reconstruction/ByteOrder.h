#pragma once
// Field access for the byte blocks the camera's logic defines. The blocks have
// no alignment and mix byte orders, so every field goes through these.

#include <bitset>
#include <cstdint>

#include "platform/ByteOrder.h"

namespace reconstruction {

using platform::LoadBe16;
using platform::LoadLe16;
using platform::StoreBe16;
using platform::StoreLe16;

// Strides are stored as sign and magnitude: 0x8001 is -1 and 0x8000 is 0.
inline int32_t DecodeSignMagnitude(uint16_t word) {
    const std::bitset<16> bits(word);
    const int32_t magnitude = word & 0x7FFF;
    return bits.test(15) ? -magnitude : magnitude;
}

}  // namespace reconstruction
