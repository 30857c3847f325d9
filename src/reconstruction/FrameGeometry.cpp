#include "reconstruction/FrameGeometry.h"

#include <algorithm>
#include <cmath>

namespace reconstruction {
namespace {
// The geometry is signed 32-bit arithmetic that wraps; int64 keeps the
// intermediate steps defined before truncating.
int32_t Wrap(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }

int64_t RoundUpToMultiple(int64_t width, int64_t numberOfQuadrants) {
    if (numberOfQuadrants < 1 || width % numberOfQuadrants == 0) return width;
    return (width / numberOfQuadrants + 1) * numberOfQuadrants;
}

bool IsQuadrantDimension(int64_t value) { return value >= 0 && value <= kMaxQuadrantDimension; }
}  // namespace

bool PrescanCountsFromBlock(const Reconstruction& block, PrescanCounts& counts) {
    if (block.PrescanSource() != 1) return false;
    counts.columns = block.PrescanColumns();
    counts.rows = block.PrescanRows();
    counts.fixedColumns = block.FixedPrescanColumns();
    return true;
}

int32_t RoundRawQuadrantWidth(int32_t width, int32_t numberOfQuadrants) {
    return Wrap(RoundUpToMultiple(width, numberOfQuadrants));
}

FrameGeometry ComputeFrameGeometry(const FrameGeometryInput& in) {
    FrameGeometry out;
    out.fixedPrescanColumns = in.prescan.fixedColumns;
    out.rawQuadrantWidth = RoundRawQuadrantWidth(
        Wrap(int64_t{in.quadrantWidth} + in.overscanColumns + in.prescan.fixedColumns),
        in.numberOfQuadrants);
    out.rawImageWidth = Wrap(int64_t{in.numberOfQuadrants} * out.rawQuadrantWidth);
    out.epalQuadrantWidth =
        std::max(out.rawQuadrantWidth,
                 Wrap(int64_t{in.blockQuadrantWidth} + in.overscanColumns + in.prescan.columns));
    out.rawQuadrantHeight = Wrap(int64_t{in.quadrantHeight} + in.overscanRows);
    out.epalQuadrantHeight =
        std::max(out.rawQuadrantHeight,
                 Wrap(int64_t{in.blockQuadrantHeight} + in.overscanRows + in.prescan.rows));
    out.rawImageHeight = out.rawQuadrantHeight;
    return out;
}

bool WithinFrameLimits(const FrameGeometryInput& in) {
    const int64_t rawWidth =
        RoundUpToMultiple(int64_t{in.quadrantWidth} + in.overscanColumns + in.prescan.fixedColumns,
                          in.numberOfQuadrants);
    const int64_t rawHeight = int64_t{in.quadrantHeight} + in.overscanRows;
    const int64_t epalWidth = std::max(
        rawWidth, int64_t{in.blockQuadrantWidth} + in.overscanColumns + in.prescan.columns);
    const int64_t epalHeight =
        std::max(rawHeight, int64_t{in.blockQuadrantHeight} + in.overscanRows + in.prescan.rows);
    if (!IsQuadrantDimension(rawWidth) || !IsQuadrantDimension(rawHeight) ||
        !IsQuadrantDimension(epalWidth) || !IsQuadrantDimension(epalHeight))
        return false;
    const int64_t quadrantBytes = 2 * rawWidth * rawHeight;  // below 2^33
    return in.numberOfQuadrants < 1 || quadrantBytes <= kMaxRawFrameBytes / in.numberOfQuadrants;
}

TransferSize ComputeTransferSize(int32_t numberOfQuadrants, int32_t rawQuadrantWidth,
                                 int32_t rawQuadrantHeight) {
    return TransferSizeForBytes(
        Wrap(int64_t{numberOfQuadrants} * rawQuadrantWidth * rawQuadrantHeight * 2));
}

TransferSize TransferSizeForBytes(int32_t frameBytes) {
    TransferSize size;
    size.frameBytes = frameBytes;
    const double blocks = std::ceil(static_cast<uint32_t>(frameBytes) * 1.52587890625e-5);
    size.numberOfBlocks = std::max<int32_t>(1, static_cast<int32_t>(blocks));
    size.windowImageSize = Wrap((int64_t{frameBytes} + 511) / 512 * 512);
    return size;
}

}  // namespace reconstruction
