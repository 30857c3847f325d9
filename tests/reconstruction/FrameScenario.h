#pragma once
// A raw frame, a reconstruction block and a picture request with buffers,
// plus a reference reconstruction written index by index from the algorithm
// text, against which both copy paths are checked.

#include <algorithm>
#include <cstdint>
#include <vector>

#include "reconstruction/BlockBuilder.h"
#include "reconstruction/FrameReconstruction.h"

namespace reconstruction::testing {

constexpr uint16_t kUntouched = 0xDEAD;

struct FrameScenario {
    RawFrameGeometry geometry;
    BlockBuilder block;
    std::vector<int32_t> active;
    int32_t width = 0, height = 0, overscanWidth = 0, overscanHeight = 0;
    std::vector<uint16_t> raw;
    std::vector<uint16_t> images[4];
    std::vector<uint16_t> overscans[4];
    bool nullImages[4] = {};

    // Sizes every buffer as the request says and fills the raw frame with
    // pixels that tell their position.
    void Allocate() {
        const int64_t rawPixels = int64_t{geometry.rawQuadrantHeight} * geometry.rawQuadrantWidth *
                                  geometry.numberOfQuadrants;
        raw.resize(static_cast<size_t>(std::max<int64_t>(rawPixels, 1)));
        for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint16_t>(i * 7 + 1);
        for (int k = 0; k < 4; ++k) {
            images[k].assign(static_cast<size_t>(std::max(width * height, 1)), kUntouched);
            overscans[k].assign(static_cast<size_t>(std::max(overscanWidth * overscanHeight, 1)),
                                kUntouched);
        }
    }

    ReconstructionInput Input(bool fast, int32_t* overscanHeightCell) {
        ReconstructionInput in;
        in.rawFrame = raw.data(), in.block = Reconstruction::Convert(block.Data());
        in.geometry = geometry, in.activeQuadrants = &active, in.allowFastPath = fast;
        in.picture.width = width, in.picture.height = height;
        in.picture.overscanWidth = overscanWidth, in.picture.overscanHeight = overscanHeightCell;
        for (int k = 0; k < 4; ++k) {
            in.picture.images[k] = nullImages[k] ? nullptr : images[k].data();
            in.picture.overscans[k] = overscans[k].data();
        }
        return in;
    }

    // Runs ReconstructFrame on this scenario; the process-wide overscan
    // height starts from the request's.
    ReconstructionResult Run(bool fast, int32_t* reducedOverscanHeight = nullptr) {
        int32_t cell = overscanHeight;
        const ReconstructionResult result = ReconstructFrame(Input(fast, &cell));
        if (reducedOverscanHeight) *reducedOverscanHeight = cell;
        return result;
    }
};

// The reference: every step of the algorithm spelled out, one pixel at a
// time, on a copy of the scenario's buffers. Elements a view does not have
// are skipped (a range never reaches outside its array).
inline ReconstructionResult Reference(FrameScenario& s, int32_t* reducedOverscanHeight) {
    const RawFrameGeometry& g = s.geometry;
    const int64_t n = g.numberOfQuadrants;
    const int64_t rawRows = g.rawQuadrantHeight, rawCols = n * g.rawQuadrantWidth;
    int64_t overscanHeight = s.overscanHeight;
    const bool overscanOn = s.overscanWidth >= 1 && s.overscanHeight >= 1;
    auto length = [](int64_t first, int64_t last, int64_t stride) {
        return std::max<int64_t>(0, (last - first) / stride + 1);
    };
    auto copy = [&](std::vector<uint16_t>& out, int64_t outRows, int64_t outCols, int64_t r0,
                    int64_t r1, int64_t rs, int64_t c0, int64_t c1, int64_t cs, int64_t y0,
                    int64_t sy, int64_t srcRows, int64_t x0, int64_t sx, int64_t srcCols) {
        const int64_t rows = std::min(length(r0, r1, rs), srcRows);
        const int64_t cols = std::min(length(c0, c1, cs), srcCols);
        for (int64_t i = 0; i < rows; ++i)
            for (int64_t j = 0; j < cols; ++j) {
                const int64_t dr = r0 + i * rs, dc = c0 + j * cs;
                const int64_t sr = y0 + i * sy, sc = x0 + j * sx;
                if (dr < 0 || dr >= outRows || dc < 0 || dc >= outCols) continue;
                if (sr < 0 || sr >= rawRows || sc < 0 || sc >= rawCols) continue;
                out[static_cast<size_t>(dr * outCols + dc)] =
                    s.raw[static_cast<size_t>(sr * rawCols + sc)];
            }
    };
    ReconstructionResult result{true, 0};
    for (int64_t k = 0; k < n; ++k) {
        if (k >= static_cast<int64_t>(s.active.size())) {
            result = {false, 12};
            break;
        }
        const QuadrantRecord r = Reconstruction::Convert(s.block.Data()).Quadrant(s.active[k]);
        int64_t x0 = r.SourceFirstColumn();
        int64_t xEnd =
            n * (int64_t{g.rawQuadrantWidth} - g.fixedPrescanColumns - g.overscanColumns) + x0;
        const int64_t sx = r.SourceColumnStride();
        int64_t y0 = r.SourceFirstRow();
        int64_t yEnd = rawRows + y0 - 1;
        const int64_t sy = r.SourceRowStride();
        x0 = std::max<int64_t>(x0, 0), xEnd = std::max<int64_t>(xEnd, 0);
        y0 = std::max<int64_t>(y0, 0), yEnd = std::max<int64_t>(yEnd, 0);
        yEnd = std::min(yEnd, rawRows - 1);
        x0 = std::min(x0, rawCols - 1), xEnd = std::min(xEnd, rawCols - 1);
        int64_t osEnd = (int64_t{g.overscanColumns} - 1) * n + xEnd;
        osEnd = std::min(std::max(osEnd, xEnd), rawCols - 1);
        const int64_t cs = r.OutputColumnStride(), rs = r.OutputRowStride();
        // A zero stride fails where it is first used: the source strides
        // before the overscan height is reduced, the output strides after.
        if (sx == 0 || sy == 0) {
            result = {false, 12};
            break;
        }
        const int64_t srcCols = length(x0, xEnd, sx), srcRows = length(y0, yEnd, sy);
        const int64_t osSrcCols = length(xEnd, osEnd, sx);
        const int64_t outW = std::min<int64_t>(s.width, srcCols);
        const int64_t outH = std::min<int64_t>(s.height, srcRows);
        if (srcRows < overscanHeight) overscanHeight = srcRows;
        if (cs == 0 || rs == 0) {
            result = {false, 12};
            break;
        }
        const int64_t osW = std::min<int64_t>(s.overscanWidth, osSrcCols);
        int64_t c0 = cs > 0 ? 0 : outW - 1, c1 = cs > 0 ? outW - 1 : 0;
        int64_t r0 = rs > 0 ? 0 : outH - 1, r1 = rs > 0 ? outH - 1 : 0;
        c0 = std::max<int64_t>(c0, 0), c1 = std::max<int64_t>(c1, 0);
        r0 = std::max<int64_t>(r0, 0), r1 = std::max<int64_t>(r1, 0);
        const int64_t oc0 = cs > 0 ? 0 : osW - 1, oc1 = cs > 0 ? osW - 1 : 0;
        const int64_t or0 = rs > 0 ? 0 : overscanHeight - 1, or1 = rs > 0 ? overscanHeight - 1 : 0;
        if (k >= 4) continue;
        copy(s.images[k], s.height, s.width, r0, r1, rs, c0, c1, cs, y0, sy, srcRows, x0, sx,
             srcCols);
        if (overscanOn)
            copy(s.overscans[k], s.overscanHeight, s.overscanWidth, or0, or1, rs, oc0, oc1, cs, y0,
                 sy, srcRows, xEnd, sx, osSrcCols);
    }
    *reducedOverscanHeight = static_cast<int32_t>(overscanHeight);
    return result;
}

}  // namespace reconstruction::testing
