#include "reconstruction/CReconstructionController.h"

#include "platform/Memory.h"
#include "reconstruction/Reconstruction.h"
#include "reconstruction/RowBandWorker.h"

namespace reconstruction {

CReconstructionController& CReconstructionController::Instance() {
    // Statics go in the reverse order they were made: the helper that
    // Release stops must outlive the plan.
    static RowBandWorker& helper = ProcessRowBandWorker();
    (void)helper;
    static CReconstructionController plan;
    return plan;
}

int CReconstructionController::Configure(const void* block) {
    if (block == nullptr || !platform::IsReadable(block, Reconstruction::kSize)) return 0;
    const Reconstruction view = Reconstruction::Convert(block);

    activeQuadrants_.clear();
    quadrantCount_ = 0;
    for (int q = 0; q < Reconstruction::kQuadrants; ++q) {
        if (!view.QuadrantEnabled(q)) continue;
        activeQuadrants_.push_back(q);
        ++quadrantCount_;
    }
    inputs_.resize(quadrantCount_);
    outputs_.resize(quadrantCount_);
    prescanSource_ = view.PrescanSource();
    prescanColumns_ = view.PrescanColumns();
    prescanRows_ = view.PrescanRows();
    fixedPrescanColumns_ = view.FixedPrescanColumns();

    for (int32_t k = 0; k < quadrantCount_; ++k) {
        const QuadrantRecord record = view.Quadrant(activeQuadrants_.at(k));
        SInputReconstructionBuffer& in = inputs_.at(k);
        in.reserved1 = 0;
        in.reserved2 = 0;
        in.quadrantCount = quadrantCount_;
        in.sourceFirstColumn = record.SourceFirstColumn();
        in.reserved3 = 0;
        in.sourceFirstRow = record.SourceFirstRow();
        in.reserved4 = 0;
        in.sourceColumnStride = record.SourceColumnStride();
        in.sourceRowStride = record.SourceRowStride();
        SOutputReconstructionBuffer& out = outputs_.at(k);
        out.outputColumnOrigin = record.OutputColumnOrigin();
        out.outputRowOrigin = record.OutputRowOrigin();
        out.outputColumnStride = record.OutputColumnStride();
        out.outputRowStride = record.OutputRowStride();
    }
    // Frames come once a plan exists; a machine that refuses the thread
    // copies them on one.
    ProcessRowBandWorker().Start();
    return 1;
}

bool CReconstructionController::IsReconstructible() const {
    if (quadrantCount_ < 1) return false;
    for (const SInputReconstructionBuffer& in : inputs_)
        if (in.sourceColumnStride == 0 || in.sourceRowStride == 0) return false;
    for (const SOutputReconstructionBuffer& out : outputs_)
        if (out.outputColumnStride == 0 || out.outputRowStride == 0) return false;
    return true;
}

void CReconstructionController::Release() {
    inputs_.clear();
    outputs_.clear();
    ProcessRowBandWorker().Stop();
}

}  // namespace reconstruction
