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

// The overscan strips are narrow; a plain loop keeps up with them.
void CopyStrided(const uint16_t* raw, int32_t rawColumns, uint16_t* buffer, int32_t columns,
                 const AxisCopy& rows, const AxisCopy& cols) {
    for (int32_t i = 0; i < rows.count; ++i) {
        const uint16_t* src =
            raw + static_cast<int64_t>(rows.srcFirst + i * rows.srcStride) * rawColumns;
        uint16_t* dst = buffer + static_cast<int64_t>(rows.dstFirst + i * rows.dstStride) * columns;
        for (int32_t j = 0; j < cols.count; ++j)
            dst[cols.dstFirst + j * cols.dstStride] = src[cols.srcFirst + j * cols.srcStride];
    }
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

    // Output rows are visited in ascending memory order for the same reason
    // the kernel climbs through each row.
    bool upwards = true;
    for (int32_t k = 0; k < n; ++k) upwards = upwards && plan.copies[k].rows.dstStride < 0;
    LaneTarget targets[4];
    for (int32_t step = 0; step < rows.count; ++step) {
        const int32_t i = upwards ? rows.count - 1 - step : step;
        const uint16_t* rawRow = raw + static_cast<int64_t>(rows.srcFirst + i) * plan.rawColumns;
        for (int32_t k = 0; k < n; ++k) {
            const QuadrantCopy& c = plan.copies[k];
            uint16_t* outRow =
                p.images[k] +
                static_cast<int64_t>(c.rows.dstFirst + i * c.rows.dstStride) * p.width;
            targets[k] = {outRow + c.columns.dstFirst, c.columns.dstStride, c.columns.srcFirst};
        }
        DeinterleaveRow(level, rawRow, n, targets, common, stream);
        // A quadrant with more columns than the common part finishes alone.
        for (int32_t k = 0; k < n; ++k) {
            const AxisCopy& cols = plan.copies[k].columns;
            for (int32_t j = common; j < cols.count; ++j)
                targets[k].first[j * cols.dstStride] = rawRow[cols.srcFirst + j * n];
        }
    }
    if (plan.overscanOn)
        for (int32_t k = 0; k < n; ++k)
            CopyStrided(raw, plan.rawColumns, p.overscans[k], p.overscanWidth,
                        plan.copies[k].overscanRows, plan.copies[k].overscanColumns);
    return true;
}

}  // namespace reconstruction
