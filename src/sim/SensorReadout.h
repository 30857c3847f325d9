#pragma once
// How the sensor reads a scene out into one frame transfer, as the mode's
// EPAL image describes it: each enabled output clocks its quadrant's rows in
// order, and within a row its pixels column-interleaved with the other
// outputs, after the pre-scan columns, followed by overscan; outputs that the
// host mirrors read their quadrant from the far side.
//
// This is written from the block's fields alone, apart from the library's
// reconstruction, so that comparing the two tests both.
//
// Quadrants sit on the sensor as the host's mosaic shows them: one output
// covers the sensor, two side by side, more two per row in output order.
// Only the signs of the output strides are taken: the sensor has no gaps.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sim/SkyScene.h"

namespace sim {

class SensorReadout {
  public:
    // A 400-byte EPAL image, or only its first 64 bytes (the FPGA block the
    // host uploads): then one output reads the whole transfer straight.
    explicit SensorReadout(const std::vector<uint8_t>& epal);

    // Whether `epal` is the image the host took `fpga` from: every byte but
    // the test pattern and exposure timing, which the host rewrites. A frame
    // the host resized matches no image.
    static bool Describes(const std::vector<uint8_t>& epal, const uint8_t* fpga);

    int SceneWidth() const { return cellWidth_ * cellColumns_; }
    int SceneHeight() const { return cellHeight_ * cellRows_; }
    int BinX() const { return binX_; }
    int BinY() const { return binY_; }
    size_t FrameBytes() const { return size_t(rawColumns_) * rawRows_ * 2; }

    // Fills `bytes` bytes of the transfer (16-bit little-endian pixels);
    // whatever lies beyond the frame is zero.
    void Read(const SkyScene& scene, const SkyScene::Exposure& exposure, uint8_t* out,
              size_t bytes) const;

  private:
    void Weave(const std::vector<std::vector<uint16_t>>& lines, uint16_t* row) const;

    struct Output {
        int firstColumn, firstRow, columnStride, rowStride;
        bool mirrorColumns, mirrorRows;
        int cellX, cellY;
        int reach;  // how many pixels of a row land inside the transfer
    };

    int binX_ = 1, binY_ = 1;
    int rawColumns_ = 0, rawRows_ = 0;
    int cellWidth_ = 0, cellHeight_ = 0, cellColumns_ = 1, cellRows_ = 1;
    std::vector<Output> outputs_;
    // Two or four outputs side by side, column by column: rows are woven
    // from the outputs' lines several pixels at a time.
    bool woven_ = false;
    std::vector<int> unreadColumns_;  // pre-scan: no output clocks them
};

}  // namespace sim
