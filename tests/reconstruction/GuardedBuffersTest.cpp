#include <gtest/gtest.h>

#include "Vela2UsbCameraStatus.h"
#include "reconstruction/FrameScenario.h"
#include "reconstruction/GuardedBuffer.h"

namespace reconstruction {
namespace {

using testing::FrameScenario;
using testing::GuardedBuffer;

FrameScenario TwoQuadrants() {
    FrameScenario s;
    s.geometry = {2, 16, 4, 2, 0};
    s.block.Enable(0).Enable(1).Quadrant(0, {0, 0, 2}).Quadrant(1, {1, 0, 2});
    s.active = {0, 1};
    s.width = 15, s.height = 4, s.overscanWidth = 2, s.overscanHeight = 4;
    s.Allocate();
    return s;
}

// Buffers the library cannot use are refused, or only turn the overscan off,
// before any pixel of them is touched.
TEST(GuardedBuffers, UnusableBuffersAreRefusedWithoutAFault) {
    FrameScenario s = TwoQuadrants();
    int32_t cell = s.overscanHeight;
    GuardedBuffer readOnly(15 * 4, PROT_READ);
    for (bool fast : {false, true}) {
        ReconstructionInput in = s.Input(fast, &cell);
        in.picture.images[1] = readOnly.Data();
        EXPECT_EQ(ReconstructFrame(in).failureStatus, ERROR_UNINITIALIZED_BUFFER);
    }

    // A raw frame shorter than its geometry, or unreadable.
    GuardedBuffer shortRaw(16 * 2 * 4 - 1), unreadable(16 * 2 * 4, PROT_NONE);
    ReconstructionInput in = s.Input(true, &cell);
    in.rawFrame = shortRaw.Data();
    EXPECT_EQ(ReconstructFrame(in).failureStatus, ERROR_UNINITIALIZED_BUFFER);
    in.rawFrame = unreadable.Data();
    EXPECT_EQ(ReconstructFrame(in).failureStatus, ERROR_UNINITIALIZED_BUFFER);
    in.picture.height = 0;  // the size check comes before any pixel is read
    EXPECT_EQ(ReconstructFrame(in).failureStatus, CAMERA_INVALID_VALUE);

    // A read-only overscan only turns the overscan off.
    in = s.Input(true, &cell);
    in.picture.overscans[0] = readOnly.Data();
    EXPECT_TRUE(ReconstructFrame(in).reconstructed);
    EXPECT_EQ(s.images[1][0], s.raw[1]);
    for (uint16_t pixel : s.overscans[1]) EXPECT_EQ(pixel, testing::kUntouched);
}

// Buffers sized exactly as the request says, with inaccessible pages on
// both sides: every layout of the random test, and neither path may touch
// a byte outside them.
TEST(GuardedBuffers, ExactlySizedBuffersAreNeverOverrun) {
    for (int32_t width : {1, 7, 8, 9, 31})
        for (int32_t cs : {1, -1, 2, -2})
            for (bool fast : {false, true}) {
                FrameScenario s = TwoQuadrants();
                s.block.Quadrant(0, {0, 0, 2, 1, 0, 0, cs, -cs});
                GuardedBuffer raw(16 * 2 * 4), image0(width * 4), image1(width * 4);
                GuardedBuffer os0(3 * 4), os1(3 * 4);
                int32_t cell = 4;
                ReconstructionInput in = s.Input(fast, &cell);
                in.rawFrame = raw.Data();
                in.picture.width = width;
                in.picture.overscanWidth = 3;
                in.picture.images[0] = image0.Data(), in.picture.images[1] = image1.Data();
                in.picture.overscans[0] = os0.Data(), in.picture.overscans[1] = os1.Data();
                EXPECT_TRUE(ReconstructFrame(in).reconstructed);
            }
}

}  // namespace
}  // namespace reconstruction
