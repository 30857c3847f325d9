#pragma once
#include <cstdint>

namespace reconstruction {

// Where one enabled quadrant's pixels come from in the raw frame. The
// reserved positions are kept so the record has the layout the plan defines.
struct SInputReconstructionBuffer {
    int32_t dataReference = 0;
    int32_t reserved1 = -1;
    int32_t reserved2 = -1;
    int32_t quadrantCount = -1;
    int32_t sourceFirstColumn = -1;
    int32_t reserved3 = -1;
    int32_t sourceFirstRow = -1;
    int32_t reserved4 = -1;
    int32_t further[4] = {-1, -1, -1, -1};
    int32_t sourceColumnStride = 0;
    int32_t sourceRowStride = 0;
};

}  // namespace reconstruction
