#include <gtest/gtest.h>

#include <random>
#include <utility>

#include "Vela2UsbCameraStatus.h"
#include "reconstruction/CopyPlan.h"
#include "reconstruction/FastCopy.h"
#include "reconstruction/FrameScenario.h"
#include "reconstruction/RowBandWorker.h"

namespace reconstruction {
namespace {

using testing::FrameScenario;
using testing::kUntouched;
using testing::QuadrantLayout;

QuadrantLayout Interleaved(uint16_t firstColumn, int32_t n, int32_t outColumns = 1,
                           int32_t outRows = 1) {
    QuadrantLayout l;
    l.firstColumn = firstColumn;
    l.columnStride = n;
    l.rowStride = 1;
    l.outputColumnStride = outColumns;
    l.outputRowStride = outRows;
    return l;
}

// Four column-interleaved quadrants of 8 x 3 pixels, no pre-scan or overscan.
FrameScenario FourQuadrants(int32_t outColumns = 1, int32_t outRows = 1) {
    FrameScenario s;
    s.geometry = {4, 8, 3, 0, 0};
    for (int q = 0; q < 4; ++q)
        s.block.Enable(q).Quadrant(q,
                                   Interleaved(static_cast<uint16_t>(q), 4, outColumns, outRows));
    s.active = {0, 1, 2, 3};
    s.width = 8;
    s.height = 3;
    s.Allocate();
    return s;
}

uint16_t RawAt(const FrameScenario& s, int row, int column) {
    return s.raw[row * s.geometry.numberOfQuadrants * s.geometry.rawQuadrantWidth + column];
}

class BothPaths : public ::testing::TestWithParam<bool> {};

TEST_P(BothPaths, ColumnInterleavedQuadrantsAreSeparatedAndMirrored) {
    for (const auto& [outColumns, outRows] : {std::pair{1, 1}, {1, -1}, {-1, 1}}) {
        FrameScenario s = FourQuadrants(outColumns, outRows);
        ASSERT_TRUE(s.Run(GetParam()).reconstructed);
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 8; ++j) {
                    const int r = outRows > 0 ? i : 2 - i, c = outColumns > 0 ? j : 7 - j;
                    ASSERT_EQ(s.images[k][r * 8 + c], RawAt(s, i, 4 * j + k))
                        << outColumns << " " << outRows << ": " << k << " " << i << " " << j;
                }
    }
}

TEST_P(BothPaths, ImageWiderThanTheSourceKeepsItsExtraColumns) {
    FrameScenario s = FourQuadrants();
    s.width = 11;
    s.Allocate();
    ASSERT_TRUE(s.Run(GetParam()).reconstructed);
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 8; ++j) ASSERT_EQ(s.images[2][i * 11 + j], RawAt(s, i, 4 * j + 2));
        for (int j = 8; j < 11; ++j) ASSERT_EQ(s.images[2][i * 11 + j], kUntouched);
    }
    FrameScenario narrow = FourQuadrants();
    narrow.width = 5;
    narrow.Allocate();
    ASSERT_TRUE(narrow.Run(GetParam()).reconstructed);
    for (int j = 0; j < 5; ++j) ASSERT_EQ(narrow.images[1][2 * 5 + j], RawAt(narrow, 2, 4 * j + 1));
}

TEST_P(BothPaths, OverscanFollowsTheImageColumns) {
    FrameScenario s;
    s.geometry = {2, 10, 4, 3, 1};  // 6 image columns, 3 overscan, 1 fixed pre-scan
    s.block.Enable(0).Enable(1);
    s.block.Quadrant(0, Interleaved(0, 2)).Quadrant(1, Interleaved(1, 2, -1, -1));
    s.active = {0, 1};
    s.width = 6, s.height = 4, s.overscanWidth = 3, s.overscanHeight = 4;
    s.Allocate();
    ASSERT_TRUE(s.Run(GetParam()).reconstructed);
    // xEnd = 2 * (10 - 1 - 3) + x0: the overscan starts where the image ends.
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 3; ++j) {
            ASSERT_EQ(s.overscans[0][i * 3 + j], RawAt(s, i, 12 + 2 * j));
            ASSERT_EQ(s.overscans[1][(3 - i) * 3 + (2 - j)], RawAt(s, i, 13 + 2 * j));
        }
}

TEST_P(BothPaths, OverscanSizeZeroTurnsOverscanOff) {
    for (int variant = 0; variant < 2; ++variant) {
        FrameScenario s = FourQuadrants();
        s.geometry.overscanColumns = 2;
        s.overscanWidth = variant == 0 ? 0 : 2;
        s.overscanHeight = variant == 0 ? 3 : 0;
        s.Allocate();
        ASSERT_TRUE(s.Run(GetParam()).reconstructed);
        for (int k = 0; k < 4; ++k)
            for (uint16_t pixel : s.overscans[k]) ASSERT_EQ(pixel, kUntouched);
    }
}

TEST_P(BothPaths, OverscanHeightShrinksToTheQuadrantRows) {
    FrameScenario s = FourQuadrants();
    s.geometry.overscanColumns = 1;
    s.overscanWidth = 1, s.overscanHeight = 10;
    s.Allocate();
    int32_t reduced = 0;
    ASSERT_TRUE(s.Run(GetParam(), &reduced).reconstructed);
    EXPECT_EQ(reduced, 3);
    EXPECT_EQ(s.overscans[0][3], kUntouched);  // rows beyond the source stay as they were
}

TEST_P(BothPaths, ImageKTakesTheKthActiveQuadrant) {
    FrameScenario s = FourQuadrants();
    s.block = {};
    s.block.Enable(1).Quadrant(1, Interleaved(1, 1));
    s.geometry.numberOfQuadrants = 1;
    s.geometry.rawQuadrantWidth = 32;
    s.active = {1};
    for (int k = 1; k < 4; ++k) s.nullImages[k] = true;  // never checked with one quadrant
    s.Allocate();
    ASSERT_TRUE(s.Run(GetParam()).reconstructed);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 8; ++j) ASSERT_EQ(s.images[0][i * 8 + j], RawAt(s, i, 1 + j));
    for (int k = 1; k < 4; ++k)
        for (uint16_t pixel : s.images[k]) ASSERT_EQ(pixel, kUntouched);
}

TEST_P(BothPaths, FrameWithoutRawColumnsCopiesNothing) {
    FrameScenario s = FourQuadrants();
    s.geometry.rawQuadrantWidth = 0;
    s.Allocate();
    s.Run(GetParam());
    for (int k = 0; k < 4; ++k)
        for (uint16_t pixel : s.images[k]) ASSERT_EQ(pixel, kUntouched);
}

INSTANTIATE_TEST_SUITE_P(Reconstruction, BothPaths, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Fast" : "General";
                         });

TEST(ReconstructFrame, InputChecksInTheirOrder) {
    FrameScenario s = FourQuadrants();
    int32_t cell = 0;
    ReconstructionInput in = s.Input(true, &cell);
    in.rawFrame = nullptr;
    in.picture.height = 0;
    EXPECT_EQ(ReconstructFrame(in).failureStatus,
              ERROR_UNINITIALIZED_BUFFER);  // the raw frame comes first

    in = s.Input(true, &cell);
    in.picture.images[3] = nullptr;
    in.picture.height = 0;
    EXPECT_EQ(ReconstructFrame(in).failureStatus, ERROR_UNINITIALIZED_BUFFER);

    in = s.Input(true, &cell);
    in.picture.height = 0;
    in.epalConverted = false;
    EXPECT_EQ(ReconstructFrame(in).failureStatus, CAMERA_INVALID_VALUE);
    for (int k = 0; k < 4; ++k)
        for (uint16_t pixel : s.images[k]) ASSERT_EQ(pixel, kUntouched);

    in = s.Input(true, &cell);
    in.epalConverted = false;
    const ReconstructionResult epal = ReconstructFrame(in);
    EXPECT_FALSE(epal.reconstructed);
    EXPECT_EQ(epal.failureStatus, 0);

    // Three quadrants: no address check, but the writability test catches it.
    in = s.Input(true, &cell);
    in.geometry.numberOfQuadrants = 3;
    in.picture.images[2] = nullptr;
    EXPECT_EQ(ReconstructFrame(in).failureStatus, ERROR_UNINITIALIZED_BUFFER);
}

TEST(ReconstructFrame, ErrorsWhileCopyingKeepWhatWasCopied) {
    FrameScenario shortList = FourQuadrants();
    shortList.active = {0, 1};
    const ReconstructionResult result = shortList.Run(true);
    EXPECT_FALSE(result.reconstructed);
    EXPECT_EQ(result.failureStatus, ERROR_RECONSTRUCTION_EXCEPTION);
    EXPECT_EQ(shortList.images[1][0], RawAt(shortList, 0, 1));
    EXPECT_EQ(shortList.images[2][0], kUntouched);

    FrameScenario zero = FourQuadrants();
    zero.block.Word(16 + 32 * 2 + 4, 0x8000);
    EXPECT_EQ(zero.Run(true).failureStatus, ERROR_RECONSTRUCTION_EXCEPTION);
    EXPECT_EQ(zero.images[1][0], RawAt(zero, 0, 1));
    EXPECT_EQ(zero.images[2][0], kUntouched);
}

// Frames large enough for the fast path's prefetched walks (1 to 12 MiB of
// outputs) and beyond them, which the small random frames below never reach:
// every mirror, odd row widths, with overscan, in bands shared with the
// helper thread as the camera has them.
TEST(ReconstructFrame, LargeFramesMatchTheGeneralPath) {
    ProcessRowBandWorker().Start();
    for (int32_t rawRows : {300, 1600})
        for (int32_t mirrors = 0; mirrors < 4; ++mirrors) {
            SCOPED_TRACE(::testing::Message() << rawRows << " rows, mirrors " << mirrors);
            FrameScenario general;
            general.geometry = {4, 1037, rawRows, 29, 0};
            for (int q = 0; q < 4; ++q)
                general.block.Enable(q).Quadrant(
                    q, Interleaved(static_cast<uint16_t>(q), 4, mirrors & 1 ? -1 : 1,
                                   mirrors & 2 ? -1 : 1));
            general.active = {0, 1, 2, 3};
            general.width = 1037 - 29, general.height = rawRows;
            general.overscanWidth = 29, general.overscanHeight = rawRows;
            general.Allocate();
            FrameScenario fast = general;
            ASSERT_TRUE(general.Run(false).reconstructed);
            int32_t cell = fast.overscanHeight;
            const ReconstructionInput in = fast.Input(true, &cell);
            ASSERT_TRUE(TryExecuteFastCopy(PlanFrame(in, true), in.rawFrame, in.picture));
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(fast.images[k], general.images[k]) << "image " << k;
                ASSERT_EQ(fast.overscans[k], general.overscans[k]) << "overscan " << k;
            }
        }
}

// Random blocks, geometries and requests: the general path must match the
// reference pixel for pixel, and the fast path the general one, whenever it
// takes the plan.
TEST(ReconstructFrame, RandomLayoutsMatchTheReference) {
    std::mt19937 rng(20260);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    int fastTaken = 0;
    const int kCases = 3000;
    for (int c = 0; c < kCases; ++c) {
        FrameScenario s;
        const bool common = pick(0, 3) != 0;
        const int n = common ? (pick(0, 1) ? 4 : 2) : pick(1, 4);
        s.geometry.numberOfQuadrants = n;
        s.geometry.rawQuadrantWidth = pick(1, 70);
        s.geometry.rawQuadrantHeight = pick(1, 12);
        // Now and then an overscan wide enough for the vector kernel.
        const bool wideOverscan = pick(0, 3) == 0;
        s.geometry.overscanColumns = wideOverscan ? pick(16, 40) : pick(0, 6);
        s.geometry.fixedPrescanColumns = pick(0, 4);
        std::vector<int> quadrants = {0, 1, 2, 3};
        std::shuffle(quadrants.begin(), quadrants.end(), rng);
        quadrants.resize(n);
        std::sort(quadrants.begin(), quadrants.end());
        s.active.assign(quadrants.begin(), quadrants.end());
        const int sharedRow = pick(0, 2);
        std::vector<int> lanes = {0, 1, 2, 3};
        std::shuffle(lanes.begin(), lanes.begin() + n, rng);
        for (int i = 0; i < n; ++i) {
            const int q = quadrants[i];
            QuadrantLayout l;
            auto unit = [&] { return pick(0, 1) ? 1 : -1; };
            if (common) {
                l = Interleaved(static_cast<uint16_t>(pick(0, 5) ? lanes[i] : pick(0, n - 1)), n,
                                unit(), unit());
                l.firstRow = static_cast<uint16_t>(sharedRow);
            } else {
                l.firstColumn = static_cast<uint16_t>(pick(0, 8));
                l.firstRow = static_cast<uint16_t>(pick(0, 4));
                l.columnStride = pick(-3, 5);
                l.rowStride = pick(-2, 3);
                l.outputColumnStride = pick(-2, 2);
                l.outputRowStride = pick(-2, 2);
                if (pick(0, 9) != 0) {  // zero strides only now and then
                    if (l.columnStride == 0) l.columnStride = n;
                    if (l.rowStride == 0) l.rowStride = 1;
                    if (l.outputColumnStride == 0) l.outputColumnStride = 1;
                    if (l.outputRowStride == 0) l.outputRowStride = -1;
                }
            }
            s.block.Enable(q, static_cast<uint8_t>(pick(1, 255))).Quadrant(q, l);
        }
        s.width = pick(1, 80);
        s.height = pick(1, 14);
        s.overscanWidth = wideOverscan ? pick(14, 44) : pick(0, 8);
        s.overscanHeight = pick(0, 14);
        s.Allocate();

        FrameScenario expected = s;
        int32_t expectedHeight = 0, generalHeight = 0;
        const ReconstructionResult want = Reference(expected, &expectedHeight);
        FrameScenario general = s;
        const ReconstructionResult got = general.Run(false, &generalHeight);
        ASSERT_EQ(got.reconstructed, want.reconstructed) << "case " << c;
        ASSERT_EQ(got.failureStatus, want.failureStatus) << "case " << c;
        ASSERT_EQ(generalHeight, expectedHeight) << "case " << c;
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(general.images[k], expected.images[k]) << "case " << c << " image " << k;
            ASSERT_EQ(general.overscans[k], expected.overscans[k]) << "case " << c << " os " << k;
        }

        FrameScenario fast = s;
        int32_t cell = s.overscanHeight;
        ReconstructionInput in = fast.Input(true, &cell);
        const CopyPlan plan = PlanFrame(in, s.overscanWidth >= 1 && s.overscanHeight >= 1);
        if (!TryExecuteFastCopy(plan, in.rawFrame, in.picture)) continue;
        ++fastTaken;
        for (int k = 0; k < 4; ++k) {
            ASSERT_EQ(fast.images[k], general.images[k]) << "case " << c << " image " << k;
            ASSERT_EQ(fast.overscans[k], general.overscans[k]) << "case " << c << " os " << k;
        }
    }
    EXPECT_GT(fastTaken, kCases / 3);
}

}  // namespace
}  // namespace reconstruction
