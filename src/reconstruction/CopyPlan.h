#pragma once
// The index arithmetic of frame reconstruction, apart from the copying: for
// each quadrant, which raw rows and columns go to which image and overscan
// rows and columns. Both copy paths execute the same plan, which is what
// keeps them identical.

#include <cstdint>

#include "reconstruction/FrameReconstruction.h"

namespace reconstruction {

// count elements: source index srcFirst + n * srcStride goes to destination
// index dstFirst + n * dstStride, n = 0 .. count - 1, all inside both arrays.
struct AxisCopy {
    int32_t srcFirst = 0;
    int32_t srcStride = 1;
    int32_t dstFirst = 0;
    int32_t dstStride = 1;
    int32_t count = 0;
};

struct QuadrantCopy {
    AxisCopy rows;
    AxisCopy columns;
    AxisCopy overscanRows;
    AxisCopy overscanColumns;
};

struct CopyPlan {
    int32_t rawRows = 0;
    int32_t rawColumns = 0;
    int32_t overscanViewHeight = 0;  // the overscan buffers' height when the request came
    bool overscanOn = false;
    QuadrantCopy copies[4];
    int32_t copyCount = 0;  // copies[0 .. copyCount - 1] are to be made, in order
    bool failed = false;    // planning stopped at quadrant copyCount with an error
};

// Number of indices of the range (first, last, stride): (last - first) /
// stride + 1, or 0 for a range running the wrong way. Throws
// std::invalid_argument for a zero stride.
int64_t RangeLength(int64_t first, int64_t last, int32_t stride);

// Plans every quadrant of the input and reduces the process-wide overscan
// height as it goes; input has passed the buffer checks.
CopyPlan PlanFrame(const ReconstructionInput& input, bool overscanOn);

}  // namespace reconstruction
