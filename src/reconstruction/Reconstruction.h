#pragma once
// Read-only typed view of the reconstruction block (EPAL bytes 256 onward).
// The view spans 272 bytes, room for eight quadrant records; the block image
// fills only the header and records 0 to 3, and nothing reads further.

#include <cstddef>
#include <cstdint>

#include "reconstruction/QuadrantRecord.h"

namespace reconstruction {

class Reconstruction {
  public:
    static constexpr size_t kSize = 272;
    static constexpr size_t kBlockImageSize = 144;
    static constexpr size_t kOffsetInEpalBlock = 256;
    static constexpr int kQuadrants = 4;

    // A view of address, or an empty view when address is null or the 272
    // bytes can be neither read nor written.
    static Reconstruction Convert(const void* address);

    explicit operator bool() const { return bytes_ != nullptr; }
    const uint8_t* Bytes() const { return bytes_; }

    // Any nonzero flag byte enables its quadrant. q must be 0 to 3.
    bool QuadrantEnabled(int q) const;
    uint16_t PrescanSource() const;
    uint16_t PrescanColumns() const;
    uint16_t PrescanRows() const;
    uint16_t FixedPrescanColumns() const;
    // Throws std::out_of_range for q outside 0 to 3.
    QuadrantRecord Quadrant(int q) const;

  private:
    explicit Reconstruction(const uint8_t* bytes) : bytes_(bytes) {}
    const uint8_t* bytes_;
};

}  // namespace reconstruction
