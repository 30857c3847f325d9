#include "reconstruction/CopyPlan.h"

#include <algorithm>
#include <exception>
#include <stdexcept>

namespace reconstruction {
namespace {

struct SourceWindow {
    int64_t x0, xEnd, osEnd, y0, yEnd;
};

SourceWindow ClampedSource(const QuadrantRecord& record, const RawFrameGeometry& g, int64_t rawRows,
                           int64_t rawColumns) {
    const int64_t n = g.numberOfQuadrants;
    SourceWindow w;
    w.x0 = record.SourceFirstColumn();
    w.xEnd = n * (int64_t{g.rawQuadrantWidth} - g.fixedPrescanColumns - g.overscanColumns) + w.x0;
    w.y0 = record.SourceFirstRow();
    w.yEnd = rawRows + w.y0 - 1;
    w.x0 = std::min(std::max<int64_t>(w.x0, 0), rawColumns - 1);
    w.xEnd = std::min(std::max<int64_t>(w.xEnd, 0), rawColumns - 1);
    w.y0 = std::max<int64_t>(w.y0, 0);
    w.yEnd = std::min(std::max<int64_t>(w.yEnd, 0), rawRows - 1);
    // The overscan starts at the image's last column; the two share it.
    w.osEnd = (int64_t{g.overscanColumns} - 1) * n + w.xEnd;
    w.osEnd = std::min(std::max(w.osEnd, w.xEnd), rawColumns - 1);
    return w;
}

// Output indices of one axis: forwards from 0 for a positive stride, from
// the far end backwards (mirrored) otherwise.
AxisCopy OutputAxis(int64_t srcFirst, int32_t srcStride, int32_t sourceCount, int64_t wanted,
                    int32_t outStride, int64_t extent, bool clampToZero) {
    int64_t first = outStride > 0 ? 0 : wanted - 1;
    int64_t last = outStride > 0 ? wanted - 1 : 0;
    if (clampToZero) {
        first = std::max<int64_t>(first, 0);
        last = std::max<int64_t>(last, 0);
    }
    AxisCopy axis;
    axis.srcFirst = static_cast<int32_t>(srcFirst);
    axis.srcStride = srcStride;
    axis.dstFirst = static_cast<int32_t>(std::max<int64_t>(first, 0));
    axis.dstStride = outStride;
    axis.count = std::min(sourceCount, RangeCount(first, last, outStride, extent));
    return axis;
}

QuadrantCopy PlanQuadrant(const ReconstructionInput& in, int32_t k, CopyPlan& plan) {
    const int32_t q = in.activeQuadrants->at(k);
    const QuadrantRecord record = in.block.Quadrant(q);
    const SourceWindow w = ClampedSource(record, in.geometry, plan.rawRows, plan.rawColumns);
    const int32_t sx = record.SourceColumnStride();
    const int32_t sy = record.SourceRowStride();
    const int32_t sourceColumns = RangeCount(w.x0, w.xEnd, sx, plan.rawColumns);
    const int32_t sourceRows = RangeCount(w.y0, w.yEnd, sy, plan.rawRows);
    const int32_t overscanSourceColumns = RangeCount(w.xEnd, w.osEnd, sx, plan.rawColumns);

    const PictureBuffers& p = in.picture;
    const int64_t outW = std::min<int64_t>(p.width, sourceColumns);
    const int64_t outH = std::min<int64_t>(p.height, sourceRows);
    if (sourceRows < *p.overscanHeight) *p.overscanHeight = sourceRows;

    const int32_t cs = record.OutputColumnStride();
    const int32_t rs = record.OutputRowStride();
    QuadrantCopy copy;
    copy.columns = OutputAxis(w.x0, sx, sourceColumns, outW, cs, p.width, true);
    copy.rows = OutputAxis(w.y0, sy, sourceRows, outH, rs, p.height, true);
    // Never more overscan columns than the source has, whatever was asked.
    const int64_t overscanW = std::min<int64_t>(p.overscanWidth, overscanSourceColumns);
    copy.overscanColumns =
        OutputAxis(w.xEnd, sx, overscanSourceColumns, overscanW, cs, p.overscanWidth, false);
    copy.overscanRows =
        OutputAxis(w.y0, sy, sourceRows, *p.overscanHeight, rs, plan.overscanViewHeight, false);
    return copy;
}

}  // namespace

int32_t RangeCount(int64_t first, int64_t last, int32_t stride, int64_t extent) {
    if (stride == 0) throw std::invalid_argument("zero stride");
    const int64_t length = (last - first) / stride + 1;
    if (length <= 0 || first < 0 || first >= extent) return 0;
    const int64_t inside =
        stride > 0 ? (extent - 1 - first) / stride + 1 : first / -int64_t{stride} + 1;
    return static_cast<int32_t>(std::min(length, inside));
}

CopyPlan PlanFrame(const ReconstructionInput& in, bool overscanOn) {
    CopyPlan plan;
    const RawFrameGeometry& g = in.geometry;
    plan.rawRows = g.rawQuadrantHeight;
    plan.rawColumns = static_cast<int32_t>(int64_t{g.numberOfQuadrants} * g.rawQuadrantWidth);
    plan.overscanViewHeight = *in.picture.overscanHeight;
    plan.overscanOn = overscanOn;
    try {
        for (int32_t k = 0; k < g.numberOfQuadrants; ++k) {
            QuadrantCopy copy = PlanQuadrant(in, k, plan);
            // Only four images exist; later quadrants still count for the
            // overscan height and for errors.
            if (k < 4) plan.copies[plan.copyCount++] = copy;
        }
    } catch (const std::exception&) {
        plan.failed = true;
    }
    return plan;
}

}  // namespace reconstruction
