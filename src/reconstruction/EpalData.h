#pragma once
// Typed view of the parameter area of the EPAL block: the first 264 bytes of
// the block image. The view never owns the bytes; copying it copies the
// address only.

#include <cstddef>
#include <cstdint>

namespace reconstruction {

class EpalData {
  public:
    static constexpr size_t kSize = 264;
    // The first bytes of the block are also the camera's FPGA data block.
    static constexpr size_t kFpgaBlockSize = 64;

    // A view of address, or an empty view when address is null or the 264
    // bytes can be neither read nor written.
    static EpalData Convert(void* address);

    explicit operator bool() const { return bytes_ != nullptr; }
    uint8_t* Bytes() const { return bytes_; }

    uint8_t ColumnBinning() const { return bytes_[18]; }
    uint8_t RowBinning() const { return bytes_[21]; }
    uint16_t ActivePixelsPerLine() const;
    void SetActivePixelsPerLine(uint16_t value) const;
    uint16_t LinesPerFrame() const;
    void SetLinesPerFrame(uint16_t value) const;
    uint8_t TestPatternMode() const { return bytes_[30]; }
    void SetTestPatternMode(uint8_t value) const { bytes_[30] = value; }
    uint16_t RawQuadrantWidth() const;
    void SetRawQuadrantWidth(uint16_t value) const;
    uint16_t RawQuadrantHeight() const;
    void SetRawQuadrantHeight(uint16_t value) const;

    uint16_t TimingStart() const;
    void SetTimingStart(uint16_t value) const;
    uint16_t TimingEnd() const;
    // The logic reads the end from three places; all three get the value.
    void SetTimingEnd(uint16_t value) const;
    uint16_t ExposureTime() const;
    void SetExposureTime(uint16_t value) const;

    uint16_t QuadrantWidth() const;
    uint16_t QuadrantHeight() const;
    uint16_t OverscanColumns() const;
    void SetOverscanColumns(uint16_t value) const;
    uint16_t OverscanRows() const;
    void SetOverscanRows(uint16_t value) const;

  private:
    explicit EpalData(uint8_t* bytes) : bytes_(bytes) {}
    uint8_t* bytes_;
};

}  // namespace reconstruction
