#pragma once
// Read-only view of one 32-byte quadrant record of the reconstruction block:
// where the quadrant's pixels lie in the raw frame and how they are laid out
// in the output image.

#include <cstdint>

namespace reconstruction {

class QuadrantRecord {
  public:
    static constexpr int kSize = 32;

    explicit QuadrantRecord(const uint8_t* bytes) : bytes_(bytes) {}

    uint16_t SourceFirstColumn() const;
    uint16_t SourceFirstRow() const;
    int32_t SourceColumnStride() const;
    int32_t SourceRowStride() const;
    uint16_t OutputColumnOrigin() const;
    uint16_t OutputRowOrigin() const;
    int32_t OutputColumnStride() const;
    int32_t OutputRowStride() const;

  private:
    const uint8_t* bytes_;
};

}  // namespace reconstruction
