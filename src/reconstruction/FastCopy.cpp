#include "reconstruction/FastCopy.h"

#include <algorithm>

#include "reconstruction/DeinterleaveKernel.h"
#include "reconstruction/RowBandWorker.h"

namespace reconstruction {
namespace {

// Raw bytes in one band of rows handed to a thread at a time: large enough
// that each thread reads and writes long runs the processor's prefetching
// follows, small enough that a helper that starts late still finds bands.
constexpr int64_t kBandBytes = int64_t{256} << 10;

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
    // A frame without pixels has no rows to band; the general path copies
    // nothing from it.
    if (plan.rawRows < 1 || plan.rawColumns < 1) return false;
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

// Positions [from, to) of one kernel target, a pixel at a time: a quadrant
// with more columns than the part all quadrants share finishes alone.
void FinishLane(const uint16_t* group, int32_t n, const LaneTarget& target, int32_t from,
                int32_t to) {
    for (int32_t j = from; j < to; ++j)
        target.first[j * target.direction] = group[target.lane + j * n];
}

// Copies the overscan row that comes from raw row rawRow, if there is one,
// a pixel at a time.
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

// The overscan columns of the quadrants usually lie interleaved just like
// their image columns, so the kernel copies them too: then every quadrant's
// overscan starts within one group of n raw columns at groupStart, and all
// take the same raw rows. Pixels beyond the common whole groups are left to
// CopyOverscanRow.
struct OverscanGroups {
    bool usable = false;
    int32_t groupStart = 0;  // raw column of the group holding every first column
    int32_t common = 0;      // overscan columns every quadrant has, in whole groups
};

OverscanGroups FindOverscanGroups(const CopyPlan& plan) {
    OverscanGroups groups;
    const int32_t n = plan.copyCount;
    if (!plan.overscanOn) return groups;
    const AxisCopy& rows0 = plan.copies[0].overscanRows;
    int32_t lowest = plan.copies[0].overscanColumns.srcFirst;
    for (int32_t k = 0; k < n; ++k) {
        const QuadrantCopy& c = plan.copies[k];
        if (c.overscanColumns.srcStride != n || !IsUnitStep(c.overscanColumns.dstStride) ||
            c.overscanRows.srcStride != 1 || !IsUnitStep(c.overscanRows.dstStride) ||
            c.overscanRows.srcFirst != rows0.srcFirst || c.overscanRows.count != rows0.count)
            return groups;
        lowest = std::min(lowest, c.overscanColumns.srcFirst);
    }
    groups.common = (plan.rawColumns - lowest) / n;
    for (int32_t k = 0; k < n; ++k) {
        const AxisCopy& cols = plan.copies[k].overscanColumns;
        if (cols.srcFirst - lowest >= n) return groups;
        groups.common = std::min(groups.common, cols.count);
    }
    groups.groupStart = lowest;
    groups.usable = true;
    return groups;
}

// The overscan of raw row rawRow for every quadrant that has one.
void CopyOverscanRows(const uint16_t* raw, const CopyPlan& plan, const PictureBuffers& p,
                      const OverscanGroups& groups, KernelLevel level, int32_t rawRow) {
    const int32_t n = plan.copyCount;
    if (groups.usable) {
        const AxisCopy& rows = plan.copies[0].overscanRows;
        const int32_t step = rawRow - rows.srcFirst;
        if (step < 0 || step >= rows.count) return;  // alike for every quadrant
        LaneTarget targets[4];
        for (int32_t k = 0; k < n; ++k) {
            const QuadrantCopy& c = plan.copies[k];
            uint16_t* outRow =
                p.overscans[k] +
                static_cast<int64_t>(c.overscanRows.dstFirst + step * c.overscanRows.dstStride) *
                    p.overscanWidth;
            targets[k] = {outRow + c.overscanColumns.dstFirst, c.overscanColumns.dstStride,
                          c.overscanColumns.srcFirst - groups.groupStart};
        }
        const uint16_t* group =
            raw + static_cast<int64_t>(rawRow) * plan.rawColumns + groups.groupStart;
        DeinterleaveRow(level, group, n, targets, groups.common);
        for (int32_t k = 0; k < n; ++k)
            FinishLane(group, n, targets[k], groups.common, plan.copies[k].overscanColumns.count);
        return;
    }
    for (int32_t k = 0; k < n; ++k) CopyOverscanRow(raw, plan, p, k, rawRow);
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

// Whether to walk the frame from its last raw row, so that each output's
// stores are one rising stream through memory: outputs with mirrored rows
// but not columns. Rows themselves are always read forwards, which memory
// delivers faster. Mirrored columns are walked downwards all the same, with
// their next rows prefetched (see NextRowsAhead): walking them upwards would
// leave both reads and stores falling (fast/8MiB/mirror_columns). Outputs
// that disagree follow the first.
bool WalkUpwards(const CopyPlan& plan) {
    const QuadrantCopy& first = plan.copies[0];
    return first.rows.dstStride < 0 && first.columns.dstStride > 0;
}

// Asks for [begin, begin + bytes) a cache line at a time; kForWriting and
// kLocality as __builtin_prefetch takes them.
template <int kForWriting, int kLocality>
void PrefetchBytes(const void* begin, int64_t bytes) {
    const char* p = static_cast<const char*>(begin);
    for (int64_t offset = 0; offset < bytes; offset += 64)
        __builtin_prefetch(p + offset, kForWriting, kLocality);
}

// A frame walked upwards is read a row at a time from the bottom, which the
// processor's prefetching does not foresee: it fetches the row below, not the
// one above. The next row is asked for explicitly, into the second-level
// cache, while this one is copied.
void PrefetchRawRow(const uint16_t* row, int64_t pixels) { PrefetchBytes<0, 2>(row, pixels * 2); }

// Outputs from 1 MiB to 12 MiB get their next rows prefetched for writing.
// Smaller ones are found in the second-level cache anyway, where the
// prefetch only costs instructions; larger ones gain nothing from it
// (fast/32MiB/mirror_columns), the memory being the bound.
constexpr int64_t kPrefetchOutputBytes = int64_t{1} << 20;
constexpr int64_t kPrefetchOutputMaxBytes = int64_t{12} << 20;

// Which outputs get their next row prefetched for writing: those whose
// stores fall through each row while the walk takes their rows rising, or
// the other way round. The processor's prefetching follows the stores
// within a row but does not jump to where the next row begins
// (fast/8MiB/mirror_columns).
void NextRowsAhead(const CopyPlan& plan, bool upwards, bool* ahead) {
    for (int32_t k = 0; k < plan.copyCount; ++k) {
        const QuadrantCopy& c = plan.copies[k];
        const bool rowsRise = (c.rows.dstStride > 0) != upwards;
        ahead[k] = rowsRise != (c.columns.dstStride > 0);
    }
}

// Pixels of every output the kernel writes in whole groups: it reads all n
// columns of each group.
int32_t CommonColumns(const CopyPlan& plan) {
    int32_t common = plan.rawColumns / plan.copyCount;
    for (int32_t k = 0; k < plan.copyCount; ++k)
        common = std::min(common, plan.copies[k].columns.count);
    return common;
}

int64_t KernelOutputBytes(const CopyPlan& plan) {
    return int64_t{plan.copies[0].rows.count} * CommonColumns(plan) * plan.copyCount * 2;
}

// One frame's copy in bands of consecutive walk steps, which the calling
// thread and the row band helper may take in any order: every step writes
// its own output rows and overscan rows.
class BandedCopy {
  public:
    BandedCopy(const CopyPlan& plan, const uint16_t* raw, const PictureBuffers& p)
        : plan_(plan), raw_(raw), p_(p), level_(BestKernelLevel()) {
        common_ = CommonColumns(plan);
        const int64_t outputBytes = KernelOutputBytes(plan);
        upwards_ = WalkUpwards(plan);
        if (outputBytes >= kPrefetchOutputBytes && outputBytes < kPrefetchOutputMaxBytes)
            NextRowsAhead(plan, upwards_, ahead_);
        overscanGroups_ = FindOverscanGroups(plan);
        const int64_t rawRowBytes = int64_t{plan.rawColumns} * 2;
        stepsPerBand_ = static_cast<int32_t>(
            std::max<int64_t>(1, std::min<int64_t>(kBandBytes / rawRowBytes, Steps())));
    }

    int32_t Bands() const { return (Steps() + stepsPerBand_ - 1) / stepsPerBand_; }

    void operator()(int32_t band) const {
        const int32_t from = band * stepsPerBand_;
        CopySteps(from, std::min(Steps(), from + stepsPerBand_));
    }

  private:
    int32_t Steps() const { return plan_.copies[0].rows.count; }
    void CopySteps(int32_t from, int32_t to) const;

    const CopyPlan& plan_;
    const uint16_t* raw_;
    const PictureBuffers& p_;
    KernelLevel level_;
    int32_t common_ = 0;
    bool upwards_ = false;
    bool ahead_[4] = {};
    OverscanGroups overscanGroups_;
    int32_t stepsPerBand_ = 1;
};

void BandedCopy::CopySteps(int32_t from, int32_t to) const {
    const int32_t n = plan_.copyCount;
    const AxisCopy& rows = plan_.copies[0].rows;
    const int32_t walkStep = upwards_ ? -1 : 1;
    LaneTarget targets[4];
    for (int32_t step = from; step < to; ++step) {
        const int32_t i = upwards_ ? rows.count - 1 - step : step;
        const int32_t rawRowIndex = rows.srcFirst + i;
        const uint16_t* rawRow = raw_ + static_cast<int64_t>(rawRowIndex) * plan_.rawColumns;
        const bool more = step + 1 < to;
        for (int32_t k = 0; k < n; ++k) {
            const QuadrantCopy& c = plan_.copies[k];
            uint16_t* outRow =
                p_.images[k] +
                static_cast<int64_t>(c.rows.dstFirst + i * c.rows.dstStride) * p_.width;
            targets[k] = {outRow + c.columns.dstFirst, c.columns.dstStride, c.columns.srcFirst};
            if (ahead_[k] && more)
                PrefetchBytes<1, 3>(outRow + int64_t{walkStep} * c.rows.dstStride * p_.width,
                                    int64_t{p_.width} * 2);
        }
        if (upwards_ && more) PrefetchRawRow(rawRow - plan_.rawColumns, int64_t{common_} * n);
        DeinterleaveRow(level_, rawRow, n, targets, common_);
        for (int32_t k = 0; k < n; ++k)
            FinishLane(rawRow, n, targets[k], common_, plan_.copies[k].columns.count);
        // The overscan while its raw row is still in the cache.
        if (plan_.overscanOn)
            CopyOverscanRows(raw_, plan_, p_, overscanGroups_, level_, rawRowIndex);
    }
}

}  // namespace

bool TryExecuteFastCopy(const CopyPlan& plan, const uint16_t* raw, const PictureBuffers& p) {
    if (!FitsKernel(plan, raw, p)) return false;
    BandedCopy copy(plan, raw, p);
    ProcessRowBandWorker().RunPieces(copy.Bands(), copy);
    if (plan.overscanOn) CopyRemainingOverscan(raw, plan, p);
    return true;
}

}  // namespace reconstruction
