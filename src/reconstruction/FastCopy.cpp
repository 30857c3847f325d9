#include "reconstruction/FastCopy.h"

#include <algorithm>
#include <cstdlib>

#include "reconstruction/DeinterleaveKernel.h"

namespace reconstruction {
namespace {

// Outputs this large would only push the raw frame out of the cache on
// their way to memory, so they bypass it.
constexpr int64_t kStreamingBytes = int64_t{12} << 20;

struct ByteSpan {
    uintptr_t begin;
    uintptr_t end;
};

bool Overlapping(const ByteSpan* spans, int count) {
    for (int a = 0; a < count; ++a)
        for (int b = a + 1; b < count; ++b)
            if (spans[a].begin < spans[b].end && spans[b].begin < spans[a].end) return true;
    return false;
}

ByteSpan Span(const void* address, int64_t pixels) {
    const uintptr_t begin = reinterpret_cast<uintptr_t>(address);
    return {begin, begin + static_cast<uintptr_t>(pixels) * 2};
}

// One pass writes every quadrant while it reads each raw row once; that
// relies on no write landing in memory another copy reads or writes.
bool BuffersApart(const CopyPlan& plan, const uint16_t* raw, const PictureBuffers& p) {
    ByteSpan spans[9];
    int count = 0;
    spans[count++] = Span(raw, int64_t{plan.rawRows} * plan.rawColumns);
    for (int32_t k = 0; k < plan.copyCount; ++k) {
        spans[count++] = Span(p.images[k], int64_t{p.width} * p.height);
        if (plan.overscanOn)
            spans[count++] =
                Span(p.overscans[k], int64_t{p.overscanWidth} * plan.overscanViewHeight);
    }
    return !Overlapping(spans, count);
}

bool IsUnitStep(int32_t stride) { return stride == 1 || stride == -1; }

bool FitsKernel(const CopyPlan& plan, const uint16_t* raw, const PictureBuffers& p) {
    const int32_t n = plan.copyCount;
    if (plan.failed || (n != 2 && n != 4)) return false;
    const AxisCopy& rows0 = plan.copies[0].rows;
    for (int32_t k = 0; k < n; ++k) {
        const QuadrantCopy& c = plan.copies[k];
        if (c.columns.srcStride != n || c.columns.srcFirst >= n || !IsUnitStep(c.columns.dstStride))
            return false;
        if (c.rows.srcStride != 1 || !IsUnitStep(c.rows.dstStride) ||
            c.rows.srcFirst != rows0.srcFirst || c.rows.count != rows0.count)
            return false;
    }
    return BuffersApart(plan, raw, p);
}

// The overscan strips are narrow; a plain loop keeps up with them. Copies
// the overscan row that comes from raw row rawRow, if there is one.
void CopyOverscanRow(const uint16_t* raw, const CopyPlan& plan, const PictureBuffers& p, int32_t k,
                     int32_t rawRow) {
    const AxisCopy& rows = plan.copies[k].overscanRows;
    const AxisCopy& cols = plan.copies[k].overscanColumns;
    const int32_t step = rawRow - rows.srcFirst;  // the row stride is 1 here
    if (step < 0 || step >= rows.count) return;
    const uint16_t* src = raw + static_cast<int64_t>(rawRow) * plan.rawColumns + cols.srcFirst;
    uint16_t* dst = p.overscans[k] +
                    static_cast<int64_t>(rows.dstFirst + step * rows.dstStride) * p.overscanWidth +
                    cols.dstFirst;
    for (int32_t j = 0; j < cols.count; ++j) dst[j * cols.dstStride] = src[j * cols.srcStride];
}

// Overscan rows beyond the image rows (an image lower than its overscan).
void CopyRemainingOverscan(const uint16_t* raw, const CopyPlan& plan, const PictureBuffers& p) {
    const AxisCopy& imageRows = plan.copies[0].rows;
    for (int32_t k = 0; k < plan.copyCount; ++k) {
        const AxisCopy& rows = plan.copies[k].overscanRows;
        for (int32_t step = 0; step < rows.count; ++step) {
            const int32_t rawRow = rows.srcFirst + step;
            if (rawRow < imageRows.srcFirst || rawRow >= imageRows.srcFirst + imageRows.count)
                CopyOverscanRow(raw, plan, p, k, rawRow);
        }
    }
}

// The direction to read each raw row in. Streamed stores do not care where
// they go, so the reads keep one direction through the whole frame. Cached
// stores want to climb, so mirrored outputs take the row from its end.
bool ReadRowsBackwards(const CopyPlan& plan, bool stream, bool upwards) {
    if (stream) return upwards;
    for (int32_t k = 0; k < plan.copyCount; ++k)
        if (plan.copies[k].columns.dstStride > 0) return false;
    return true;
}

}  // namespace

bool TryExecuteFastCopy(const CopyPlan& plan, const uint16_t* raw, const PictureBuffers& p) {
    if (!FitsKernel(plan, raw, p)) return false;
    const int32_t n = plan.copyCount;
    const AxisCopy& rows = plan.copies[0].rows;
    // Whole groups only: the kernel reads all n columns of each group.
    int32_t common = plan.rawColumns / n;
    for (int32_t k = 0; k < n; ++k) common = std::min(common, plan.copies[k].columns.count);
    const bool stream = int64_t{rows.count} * common * n * 2 >= kStreamingBytes;
    const KernelLevel level = BestKernelLevel();

    // A frame mirrored top to bottom is walked from its last raw row, so the
    // writes climb through every image.
    bool upwards = true;
    for (int32_t k = 0; k < n; ++k) upwards = upwards && plan.copies[k].rows.dstStride < 0;
    const bool backwards = ReadRowsBackwards(plan, stream, upwards);
    LaneTarget targets[4];
    for (int32_t step = 0; step < rows.count; ++step) {
        const int32_t i = upwards ? rows.count - 1 - step : step;
        const int32_t rawRowIndex = rows.srcFirst + i;
        const uint16_t* rawRow = raw + static_cast<int64_t>(rawRowIndex) * plan.rawColumns;
        for (int32_t k = 0; k < n; ++k) {
            const QuadrantCopy& c = plan.copies[k];
            uint16_t* outRow =
                p.images[k] +
                static_cast<int64_t>(c.rows.dstFirst + i * c.rows.dstStride) * p.width;
            targets[k] = {outRow + c.columns.dstFirst, c.columns.dstStride, c.columns.srcFirst};
        }
        DeinterleaveRow(level, rawRow, n, targets, common, stream, backwards);
        for (int32_t k = 0; k < n; ++k) {
            // A quadrant with more columns than the common part finishes alone.
            const AxisCopy& cols = plan.copies[k].columns;
            for (int32_t j = common; j < cols.count; ++j)
                targets[k].first[j * cols.dstStride] = rawRow[cols.srcFirst + j * n];
            // The overscan while its raw row is still in the cache.
            if (plan.overscanOn) CopyOverscanRow(raw, plan, p, k, rawRowIndex);
        }
    }
    if (plan.overscanOn) CopyRemainingOverscan(raw, plan, p);
    return true;
}

}  // namespace reconstruction
