#include "reconstruction/FrameReconstruction.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "Vela2UsbCameraStatus.h"
#include "platform/Memory.h"
#include "reconstruction/CopyPlan.h"
#include "reconstruction/FastCopy.h"
#include "reconstruction/GeneralCopy.h"

namespace reconstruction {
namespace {

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
    if (n == 2 && (!p.images[0] || !p.images[1])) return ERROR_UNINITIALIZED_BUFFER;
    if (n == 4 && std::find(p.images, p.images + 4, nullptr) != p.images + 4)
        return ERROR_UNINITIALIZED_BUFFER;
    if (p.width < 1 || p.height < 1) return CAMERA_INVALID_VALUE;
    return 0;
}

struct AccessPlan {
    platform::AccessRange ranges[9];
    size_t frameRanges = 0;  // images and raw frame: the frame needs them
    size_t count = 0;        // then the overscan buffers, which are optional
    bool sizesValid = false;
    bool overscanWanted = false;
};

// Every buffer the frame will touch, so that one look at the address space
// decides them all in the usual case where all is well.
AccessPlan PlanAccess(const ReconstructionInput& in) {
    AccessPlan plan;
    const PictureBuffers& p = in.picture;
    const RawFrameGeometry& g = in.geometry;
    size_t imageBytes = 0, rawBytes = 0, overscanBytes = 0;
    plan.sizesValid =
        PixelBytes(p.height, p.width, 1, imageBytes) &&
        PixelBytes(g.rawQuadrantHeight, g.rawQuadrantWidth, g.numberOfQuadrants, rawBytes) &&
        int64_t{g.rawQuadrantWidth} * g.numberOfQuadrants <= std::numeric_limits<int32_t>::max();
    if (!plan.sizesValid) return plan;
    for (int32_t k = 0; k < ReceivingBuffers(g); ++k)
        plan.ranges[plan.count++] = {p.images[k], imageBytes, true};
    plan.ranges[plan.count++] = {in.rawFrame, rawBytes, false};
    plan.frameRanges = plan.count;
    plan.overscanWanted = p.overscanWidth >= 1 && *p.overscanHeight >= 1 &&
                          PixelBytes(*p.overscanHeight, p.overscanWidth, 1, overscanBytes);
    if (plan.overscanWanted)
        for (int32_t k = 0; k < ReceivingBuffers(g); ++k)
            plan.ranges[plan.count++] = {p.overscans[k], overscanBytes, true};
    return plan;
}

// 0 when the frame may be copied, otherwise its failure status. Overscan
// buffers that cannot take their pixels only cost the overscan.
int32_t CheckAccess(AccessPlan& plan) {
    if (!plan.sizesValid) return ERROR_UNINITIALIZED_BUFFER;
    if (platform::AllAccessible(plan.ranges, plan.count)) return 0;
    if (!platform::AllAccessible(plan.ranges, plan.frameRanges)) return ERROR_UNINITIALIZED_BUFFER;
    plan.overscanWanted = false;
    return 0;
}

}  // namespace

ReconstructionResult ReconstructFrame(const ReconstructionInput& in) {
    try {
        if (in.rawFrame == nullptr) return Failure(ERROR_UNINITIALIZED_BUFFER);
        if (const int32_t status = CheckBuffers(in)) return Failure(status);
        if (!in.epalConverted) return Failure(0);
        if (in.picture.overscanHeight == nullptr) return Failure(ERROR_RECONSTRUCTION_EXCEPTION);
        AccessPlan access = PlanAccess(in);
        if (const int32_t status = CheckAccess(access)) return Failure(status);
        if (!in.block || in.activeQuadrants == nullptr)
            return Failure(ERROR_RECONSTRUCTION_EXCEPTION);

        const CopyPlan plan = PlanFrame(in, access.overscanWanted);
        if (!in.allowFastPath || !TryExecuteFastCopy(plan, in.rawFrame, in.picture))
            ExecuteGeneralCopy(plan, in.rawFrame, in.picture);
        if (plan.failed) return Failure(ERROR_RECONSTRUCTION_EXCEPTION);
        return {true, 0};
    } catch (...) {
        return Failure(ERROR_RECONSTRUCTION_EXCEPTION);
    }
}

}  // namespace reconstruction
