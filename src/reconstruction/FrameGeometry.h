#pragma once
// The arithmetic that turns the EPAL parameters into the frame geometry and
// the size of one frame transfer. Values in, values out: the camera keeps the
// fields, looks up the pre-scan tables and formats its trace lines.

#include <cstdint>

#include "reconstruction/Reconstruction.h"

namespace reconstruction {

struct PrescanCounts {
    int32_t columns = 0;
    int32_t rows = 0;
    int32_t fixedColumns = 0;
};

// The block's own pre-scan counts when its PrescanSource is 1; otherwise
// false, and the counts come from the settings tables keyed by binning.
bool PrescanCountsFromBlock(const Reconstruction& block, PrescanCounts& counts);

struct FrameGeometryInput {
    int32_t quadrantWidth = 0;  // camera field, may differ from the block after a resize
    int32_t quadrantHeight = 0;
    int32_t overscanColumns = 0;
    int32_t overscanRows = 0;
    int32_t blockQuadrantWidth = 0;   // EPAL offset 246
    int32_t blockQuadrantHeight = 0;  // EPAL offset 248
    int32_t numberOfQuadrants = 0;
    PrescanCounts prescan;
};

struct FrameGeometry {
    int32_t fixedPrescanColumns = 0;
    int32_t rawQuadrantWidth = 0;
    int32_t rawQuadrantHeight = 0;
    int32_t rawImageWidth = 0;
    int32_t rawImageHeight = 0;
    int32_t epalQuadrantWidth = 0;
    int32_t epalQuadrantHeight = 0;
};

// Each quadrant's raw width is rounded up to a multiple of the quadrant count
// so the interleaved raw row splits evenly. A count below 1 leaves the width
// as it is instead of dividing by it.
int32_t RoundRawQuadrantWidth(int32_t width, int32_t numberOfQuadrants);

FrameGeometry ComputeFrameGeometry(const FrameGeometryInput& input);

// Deliberate hardening, the sizes a block may give: each quadrant dimension
// travels in a 16-bit field of the block, and a picture holds one raw frame
// in memory.
constexpr int64_t kMaxQuadrantDimension = 65535;
constexpr int64_t kMaxRawFrameBytes = int64_t{1} << 30;

// Whether the geometry of input keeps every raw and EPAL quadrant dimension
// within 0..65535 and the raw frame within 1 GiB. Worked out in 64 bits, so
// that no sum or product wraps into an acceptable size.
bool WithinFrameLimits(const FrameGeometryInput& input);

struct TransferSize {
    int32_t frameBytes = 0;
    int32_t numberOfBlocks = 0;   // 64 KiB units, at least 1
    int32_t windowImageSize = 0;  // frame bytes rounded up to whole 512-byte packets
};

TransferSize ComputeTransferSize(int32_t numberOfQuadrants, int32_t rawQuadrantWidth,
                                 int32_t rawQuadrantHeight);
TransferSize TransferSizeForBytes(int32_t frameBytes);

}  // namespace reconstruction
