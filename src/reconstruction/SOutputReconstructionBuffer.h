#pragma once
#include <cstdint>

namespace reconstruction {

// Where one enabled quadrant's pixels go in its output image.
struct SOutputReconstructionBuffer {
    int32_t outputColumnOrigin = 0;
    int32_t outputRowOrigin = 0;
    int32_t reserved[2] = {0, 0};
    int32_t outputColumnStride = 0;
    int32_t outputRowStride = 0;
};

}  // namespace reconstruction
