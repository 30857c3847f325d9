#pragma once
// Turns one raw frame into the caller's quadrant images and overscan images.
// Memory only: the camera gathers the inputs, calls ReconstructFrame and puts
// the outcome into its status cell.

#include <cstdint>
#include <vector>

#include "reconstruction/Reconstruction.h"

namespace reconstruction {

struct PictureBuffers {
    uint16_t* images[4] = {};
    int32_t width = 0;
    int32_t height = 0;
    uint16_t* overscans[4] = {};
    int32_t overscanWidth = 0;
    // Process-wide and reduced by reconstruction when a quadrant has fewer
    // rows; the reduction lasts until the next picture request sets it.
    int32_t* overscanHeight = nullptr;
};

struct RawFrameGeometry {
    int32_t numberOfQuadrants = 0;
    int32_t rawQuadrantWidth = 0;
    int32_t rawQuadrantHeight = 0;
    int32_t overscanColumns = 0;
    int32_t fixedPrescanColumns = 0;  // refreshed by the camera before each frame
};

struct ReconstructionInput {
    const uint16_t* rawFrame = nullptr;
    Reconstruction block = Reconstruction::Convert(nullptr);
    PictureBuffers picture;
    RawFrameGeometry geometry;
    const std::vector<int32_t>* activeQuadrants = nullptr;
    bool epalConverted = true;  // whether the camera's EPAL array passes EpalData::Convert
    bool allowFastPath = true;  // false forces the general strided-view path
};

// reconstructed: the frame was copied. Otherwise failureStatus is the code the
// camera's status cell shows before it drops to 0 (2 bad buffer, -3 bad size,
// 12 error while copying), or 0 when the EPAL array did not convert. The
// camera sets its status to -1 before the call; afterwards it stores a
// nonzero failureStatus, then 0, and returns reconstructed as its flag.
struct ReconstructionResult {
    bool reconstructed = false;
    int32_t failureStatus = 0;
};

// Never throws. Copies nothing outside any buffer the request describes and
// allocates nothing.
ReconstructionResult ReconstructFrame(const ReconstructionInput& input);

}  // namespace reconstruction
