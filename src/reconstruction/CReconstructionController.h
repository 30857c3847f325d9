#pragma once
// The reconstruction plan: which quadrants the block enables and one input
// and one output description per enabled quadrant. The library keeps one
// plan for the process (Instance); tests make their own.

#include <cstdint>
#include <vector>

#include "reconstruction/SInputReconstructionBuffer.h"
#include "reconstruction/SOutputReconstructionBuffer.h"

namespace reconstruction {

class CReconstructionController {
  public:
    // The process's plan. Made on first use; whoever calls Release while the
    // library shuts down must have called this first, so that the plan
    // outlives it.
    static CReconstructionController& Instance();

    // Rebuilds the plan from a 272-byte reconstruction block. FALSE (0), with
    // the plan untouched, when block is null or cannot be read; TRUE (1)
    // otherwise, also when no quadrant is enabled. Also starts the process's
    // row band helper, which shares large frames with the capture thread.
    int Configure(const void* block);

    // True when frames can be reconstructed with this plan: at least one
    // quadrant, and no zero stride, which would make a range without length.
    // The loader refuses other blocks as it refuses a failed Configure.
    bool IsReconstructible() const;

    // Empties both record arrays and stops the row band helper; the camera
    // does this when it closes, with no frame in flight.
    void Release();

    const std::vector<int32_t>& ActiveQuadrants() const { return activeQuadrants_; }
    int32_t QuadrantCount() const { return quadrantCount_; }
    const std::vector<SInputReconstructionBuffer>& Inputs() const { return inputs_; }
    const std::vector<SOutputReconstructionBuffer>& Outputs() const { return outputs_; }
    int32_t PrescanSource() const { return prescanSource_; }
    int32_t PrescanColumns() const { return prescanColumns_; }
    int32_t PrescanRows() const { return prescanRows_; }
    int32_t FixedPrescanColumns() const { return fixedPrescanColumns_; }

  private:
    std::vector<int32_t> activeQuadrants_;
    int32_t quadrantCount_ = 0;
    std::vector<SInputReconstructionBuffer> inputs_;
    std::vector<SOutputReconstructionBuffer> outputs_;
    int32_t prescanSource_ = 0;
    int32_t prescanColumns_ = 0;
    int32_t prescanRows_ = 0;
    int32_t fixedPrescanColumns_ = 0;
};

}  // namespace reconstruction
