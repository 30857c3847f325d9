#pragma once
#include "reconstruction/CopyPlan.h"

namespace reconstruction {

// Executes a plan with strided array views over the raw frame and the
// caller's buffers, one assignment per image and per overscan image. Serves
// every layout the reconstruction block can describe.
void ExecuteGeneralCopy(const CopyPlan& plan, const uint16_t* rawFrame,
                        const PictureBuffers& picture);

}  // namespace reconstruction
