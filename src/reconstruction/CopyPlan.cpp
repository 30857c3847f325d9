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

int64_t FloorDiv(int64_t a, int64_t b) { return a / b - ((a % b != 0) && ((a < 0) != (b < 0))); }
int64_t CeilDiv(int64_t a, int64_t b) { return -FloorDiv(-a, b); }

struct Steps {
    int64_t lo, hi;  // the steps n in [lo, hi)
};

// The steps n of first + n * stride that land inside [0, extent).
Steps InsideSteps(int64_t first, int64_t stride, int64_t extent) {
    if (extent <= 0) return {0, 0};
    if (stride > 0) return {CeilDiv(-first, stride), FloorDiv(extent - 1 - first, stride) + 1};
    return {CeilDiv(first - (extent - 1), -stride), FloorDiv(first, -stride) + 1};
}

struct Line {
    int64_t first;
    int32_t stride;
    int64_t length;  // indices the range has, wherever they lie
    int64_t extent;  // size of the array along this axis
};

// Assigning one range to another sets element n of the destination from
// element n of the source; only the steps where both exist are copied, so no
// range ever reaches outside its array.
AxisCopy Pair(const Line& src, const Line& dst) {
    const Steps a = InsideSteps(src.first, src.stride, src.extent);
    const Steps b = InsideSteps(dst.first, dst.stride, dst.extent);
    const int64_t lo = std::max({int64_t{0}, a.lo, b.lo});
    const int64_t hi = std::min({src.length, dst.length, a.hi, b.hi});
    AxisCopy axis;
    axis.srcStride = src.stride;
    axis.dstStride = dst.stride;
    if (hi <= lo) return axis;
    axis.srcFirst = static_cast<int32_t>(src.first + lo * src.stride);
    axis.dstFirst = static_cast<int32_t>(dst.first + lo * dst.stride);
    axis.count = static_cast<int32_t>(hi - lo);
    return axis;
}

// Output indices of one axis: forwards from 0 for a positive stride, from
// the far end backwards (mirrored) otherwise.
Line OutputLine(int64_t wanted, int32_t stride, int64_t extent, bool clampToZero) {
    int64_t first = stride > 0 ? 0 : wanted - 1;
    int64_t last = stride > 0 ? wanted - 1 : 0;
    if (clampToZero) {
        first = std::max<int64_t>(first, 0);
        last = std::max<int64_t>(last, 0);
    }
    return {first, stride, RangeLength(first, last, stride), extent};
}

QuadrantCopy PlanQuadrant(const ReconstructionInput& in, int32_t k, CopyPlan& plan) {
    const int32_t q = in.activeQuadrants->at(k);
    const QuadrantRecord record = in.block.Quadrant(q);
    const SourceWindow w = ClampedSource(record, in.geometry, plan.rawRows, plan.rawColumns);
    const int32_t sx = record.SourceColumnStride();
    const int32_t sy = record.SourceRowStride();
    const Line imageColumns{w.x0, sx, RangeLength(w.x0, w.xEnd, sx), plan.rawColumns};
    const Line sourceRows{w.y0, sy, RangeLength(w.y0, w.yEnd, sy), plan.rawRows};
    const Line overscanColumns{w.xEnd, sx, RangeLength(w.xEnd, w.osEnd, sx), plan.rawColumns};

    const PictureBuffers& p = in.picture;
    const int64_t outW = std::min<int64_t>(p.width, imageColumns.length);
    const int64_t outH = std::min<int64_t>(p.height, sourceRows.length);
    if (sourceRows.length < *p.overscanHeight)
        *p.overscanHeight = static_cast<int32_t>(sourceRows.length);

    const int32_t cs = record.OutputColumnStride();
    const int32_t rs = record.OutputRowStride();
    QuadrantCopy copy;
    copy.columns = Pair(imageColumns, OutputLine(outW, cs, p.width, true));
    copy.rows = Pair(sourceRows, OutputLine(outH, rs, p.height, true));
    // Never more overscan columns than the source has, whatever was asked.
    const int64_t overscanW = std::min<int64_t>(p.overscanWidth, overscanColumns.length);
    copy.overscanColumns = Pair(overscanColumns, OutputLine(overscanW, cs, p.overscanWidth, false));
    copy.overscanRows =
        Pair(sourceRows, OutputLine(*p.overscanHeight, rs, plan.overscanViewHeight, false));
    return copy;
}

}  // namespace

int64_t RangeLength(int64_t first, int64_t last, int32_t stride) {
    if (stride == 0) throw std::invalid_argument("zero stride");
    return std::max<int64_t>(0, (last - first) / stride + 1);
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
