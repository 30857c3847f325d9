#include "reconstruction/FrameReconstruction.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "platform/Memory.h"
#include "reconstruction/CopyPlan.h"
#include "reconstruction/FastCopy.h"
#include "reconstruction/GeneralCopy.h"

namespace reconstruction {
namespace {

constexpr int32_t kUninitializedBuffer = 2;
constexpr int32_t kInvalidValue = -3;
constexpr int32_t kReconstructionException = 12;

ReconstructionResult Failure(int32_t status) { return {false, status}; }

// Bytes of rows x columns pixels; false when negative or beyond what any
// buffer of this process could hold.
bool PixelBytes(int64_t rows, int64_t columns, int64_t factor, size_t& bytes) {
    if (rows < 0 || columns < 0 || factor < 0) return false;
    int64_t product = 0;
    if (__builtin_mul_overflow(rows, columns, &product) ||
        __builtin_mul_overflow(product, factor * 2, &product))
        return false;
    if (static_cast<uint64_t>(product) > std::numeric_limits<size_t>::max()) return false;
    bytes = static_cast<size_t>(product);
    return true;
}

int32_t ReceivingBuffers(const RawFrameGeometry& g) {
    return std::max(0, std::min(g.numberOfQuadrants, 4));
}

// The checks in the order the capture relies on: 0 when the frame may be
// copied, otherwise the failure status.
int32_t CheckBuffers(const ReconstructionInput& in) {
    const PictureBuffers& p = in.picture;
    const int32_t n = in.geometry.numberOfQuadrants;
    if (n == 2 && (!p.images[0] || !p.images[1])) return kUninitializedBuffer;
    if (n == 4 && std::find(p.images, p.images + 4, nullptr) != p.images + 4)
        return kUninitializedBuffer;
    if (p.width < 1 || p.height < 1) return kInvalidValue;
    return 0;
}

int32_t CheckAccess(const ReconstructionInput& in) {
    const PictureBuffers& p = in.picture;
    const RawFrameGeometry& g = in.geometry;
    size_t imageBytes = 0;
    if (!PixelBytes(p.height, p.width, 1, imageBytes)) return kUninitializedBuffer;
    for (int32_t k = 0; k < ReceivingBuffers(g); ++k)
        if (!platform::IsWritable(p.images[k], imageBytes)) return kUninitializedBuffer;
    size_t rawBytes = 0;
    if (!PixelBytes(g.rawQuadrantHeight, g.rawQuadrantWidth, g.numberOfQuadrants, rawBytes) ||
        int64_t{g.rawQuadrantWidth} * g.numberOfQuadrants > std::numeric_limits<int32_t>::max() ||
        !platform::IsReadable(in.rawFrame, rawBytes))
        return kUninitializedBuffer;
    return 0;
}

// Unwritable overscan buffers only cost the overscan, not the frame.
bool OverscanWanted(const ReconstructionInput& in) {
    const PictureBuffers& p = in.picture;
    if (p.overscanWidth < 1 || *p.overscanHeight < 1) return false;
    size_t bytes = 0;
    if (!PixelBytes(*p.overscanHeight, p.overscanWidth, 1, bytes)) return false;
    for (int32_t k = 0; k < ReceivingBuffers(in.geometry); ++k)
        if (!platform::IsWritable(p.overscans[k], bytes)) return false;
    return true;
}

}  // namespace

ReconstructionResult ReconstructFrame(const ReconstructionInput& in) {
    try {
        if (in.rawFrame == nullptr) return Failure(kUninitializedBuffer);
        if (const int32_t status = CheckBuffers(in)) return Failure(status);
        if (!in.epalConverted) return Failure(0);
        if (const int32_t status = CheckAccess(in)) return Failure(status);
        if (!in.block || in.activeQuadrants == nullptr || in.picture.overscanHeight == nullptr)
            return Failure(kReconstructionException);

        const CopyPlan plan = PlanFrame(in, OverscanWanted(in));
        if (!in.allowFastPath || !TryExecuteFastCopy(plan, in.rawFrame, in.picture))
            ExecuteGeneralCopy(plan, in.rawFrame, in.picture);
        if (plan.failed) return Failure(kReconstructionException);
        return {true, 0};
    } catch (...) {
        return Failure(kReconstructionException);
    }
}

}  // namespace reconstruction
