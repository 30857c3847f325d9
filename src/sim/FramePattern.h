#pragma once
// The picture the simulated camera reads out: a pattern that depends only on
// the pixel's position in the transfer, so a test can compute every expected
// value without a reference file.
#include <cstdint>
#include <vector>

#include "platform/ByteOrder.h"

namespace sim {

// Pixel i of a frame transfer (16-bit little-endian words from the first
// byte of the transfer on). The high term keeps rows of a 4096-pixel stride
// from repeating each other.
inline uint16_t FramePixel(uint32_t i) { return static_cast<uint16_t>(i * 7u + (i >> 12)); }

// The pattern laid out in advance, so a frame costs one copy.
class FramePattern {
  public:
    // At least `bytes` bytes of the pattern; regenerated only when it grows.
    const uint8_t* Prepare(uint32_t bytes) {
        if (bytes > bytes_.size()) {
            const uint32_t pixels = bytes / 2 + 1;
            bytes_.resize(static_cast<size_t>(pixels) * 2);
            for (uint32_t i = 0; i < pixels; ++i)
                platform::StoreLe16(&bytes_[2 * static_cast<size_t>(i)], FramePixel(i));
        }
        return bytes_.data();
    }

  private:
    std::vector<uint8_t> bytes_;
};

}  // namespace sim
