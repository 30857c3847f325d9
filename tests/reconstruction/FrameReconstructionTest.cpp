#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <tuple>
#include <utility>

#include "Vela2UsbCameraStatus.h"
#include "reconstruction/CopyPlan.h"
#include "reconstruction/DeinterleaveKernel.h"
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
    return {firstColumn, 0, n, 1, 0, 0, outColumns, outRows};
}

// Four column-interleaved quadrants of 8 x 3 pixels, no pre-scan or overscan.
FrameScenario FourQuadrants(int32_t outColumns = 1, int32_t outRows = 1) {
    FrameScenario s;
    s.geometry = {4, 8, 3, 0, 0};
    for (int q = 0; q < 4; ++q)
        s.block.Enable(q).Quadrant(q,
                                   Interleaved(static_cast<uint16_t>(q), 4, outColumns, outRows));
    s.active = {0, 1, 2, 3};
    s.width = 8, s.height = 3;
    s.Allocate();
    return s;
}

uint16_t RawAt(const FrameScenario& s, int row, int column) {
    return s.raw[row * s.geometry.numberOfQuadrants * s.geometry.rawQuadrantWidth + column];
}

class BothPaths : public ::testing::TestWithParam<bool> {};

// Layouts checked by hand, not only against the reference below: a misreading
// shared by the reference and the code would show here.
TEST_P(BothPaths, QuadrantsAreSeparatedMirroredAndTheImageKeepsItsExtraColumns) {
    for (const auto& [outColumns, outRows] : {std::pair{1, 1}, {1, -1}, {-1, 1}}) {
        FrameScenario s = FourQuadrants(outColumns, outRows);
        s.width = outColumns > 0 ? 11 : 8;  // wider than the source: the rest stays
        s.Allocate();
        ASSERT_TRUE(s.Run(GetParam()).reconstructed);
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < s.width; ++j) {
                    const int r = outRows > 0 ? i : 2 - i, c = outColumns > 0 ? j : 7 - j;
                    ASSERT_EQ(s.images[k][r * s.width + c],
                              j < 8 ? RawAt(s, i, 4 * j + k) : kUntouched)
                        << outColumns << " " << outRows << ": " << k << " " << i << " " << j;
                }
    }
    // One active quadrant: image 0 takes it, the other buffers may be null.
    FrameScenario one = FourQuadrants();
    one.block = {};
    one.block.Enable(1).Quadrant(1, Interleaved(1, 1));
    one.geometry.numberOfQuadrants = 1;
    one.geometry.rawQuadrantWidth = 32;
    one.active = {1};
    for (int k = 1; k < 4; ++k) one.nullImages[k] = true;
    one.Allocate();
    ASSERT_TRUE(one.Run(GetParam()).reconstructed);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 8; ++j) ASSERT_EQ(one.images[0][i * 8 + j], RawAt(one, i, 1 + j));
    // A frame without raw columns copies nothing.
    FrameScenario empty = FourQuadrants();
    empty.geometry.rawQuadrantWidth = 0;
    empty.Allocate();
    empty.Run(GetParam());
    for (const auto& image : empty.images) EXPECT_EQ(image, std::vector<uint16_t>(24, kUntouched));
}

TEST_P(BothPaths, OverscanFollowsTheImageColumnsIsOffAtSizeZeroAndShrinksToTheRows) {
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

    for (const auto& [width, height] : {std::pair{0, 3}, {2, 0}, {1, 10}}) {
        FrameScenario f = FourQuadrants();
        f.geometry.overscanColumns = 2;
        f.overscanWidth = width, f.overscanHeight = height;
        f.Allocate();
        int32_t reduced = 0;
        ASSERT_TRUE(f.Run(GetParam(), &reduced).reconstructed);
        if (width == 1) {
            EXPECT_EQ(reduced, 3);
            EXPECT_EQ(f.overscans[0][3], kUntouched);  // rows beyond the source stay as they were
        } else {
            for (const auto& overscan : f.overscans)
                EXPECT_EQ(overscan, std::vector<uint16_t>(overscan.size(), kUntouched));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Reconstruction, BothPaths, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return info.param ? "Fast" : "General";
                         });

// Each spoilt input gives its status, in the order the checks come, and
// leaves every image as it was.
TEST(ReconstructFrame, InputChecksInTheirOrderAndErrorsWhileCopyingKeepWhatWasCopied) {
    FrameScenario s = FourQuadrants();
    int32_t cell = 0;
    using Input = ReconstructionInput;
    const struct {
        void (*spoil)(Input&);
        int32_t status;
    } cases[] = {
        // The raw frame comes before the size check.
        {[](Input& in) { in.rawFrame = nullptr, in.picture.height = 0; },
         ERROR_UNINITIALIZED_BUFFER},
        {[](Input& in) { in.picture.images[3] = nullptr, in.picture.height = 0; },
         ERROR_UNINITIALIZED_BUFFER},
        {[](Input& in) { in.picture.height = 0, in.epalConverted = false; }, CAMERA_INVALID_VALUE},
        {[](Input& in) { in.epalConverted = false; }, 0},
        // Three quadrants: no address check, but the writability test catches it.
        {[](Input& in) { in.geometry.numberOfQuadrants = 3, in.picture.images[2] = nullptr; },
         ERROR_UNINITIALIZED_BUFFER},
    };
    for (const auto& c : cases) {
        Input in = s.Input(true, &cell);
        c.spoil(in);
        const ReconstructionResult result = ReconstructFrame(in);
        EXPECT_FALSE(result.reconstructed);
        EXPECT_EQ(result.failureStatus, c.status) << &c - cases;
    }
    for (const auto& image : s.images) EXPECT_EQ(image, std::vector<uint16_t>(24, kUntouched));

    // A list of fewer active quadrants than the frame has, and a column
    // stride of "-0": the quadrants before the fault keep their pixels.
    FrameScenario shortList = FourQuadrants(), zero = FourQuadrants();
    shortList.active = {0, 1};
    zero.block.Word(16 + 32 * 2 + 4, 0x8000);
    for (FrameScenario* f : {&shortList, &zero}) {
        const ReconstructionResult result = f->Run(true);
        EXPECT_FALSE(result.reconstructed);
        EXPECT_EQ(result.failureStatus, ERROR_RECONSTRUCTION_EXCEPTION);
        EXPECT_EQ(f->images[1][0], RawAt(*f, 0, 1));
        EXPECT_EQ(f->images[2][0], kUntouched);
    }
}

// Both paths' pictures, pixel for pixel.
void ExpectSamePictures(const FrameScenario& got, const FrameScenario& want, int c) {
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(got.images[k], want.images[k]) << "case " << c << " image " << k;
        ASSERT_EQ(got.overscans[k], want.overscans[k]) << "case " << c << " overscan " << k;
    }
}

// The fast path on its own, with the overscan as the request asks for it;
// false when it does not take the plan.
bool RunFast(FrameScenario& s) {
    int32_t cell = s.overscanHeight;
    const ReconstructionInput in = s.Input(true, &cell);
    const CopyPlan plan = PlanFrame(in, s.overscanWidth >= 1 && s.overscanHeight >= 1);
    return TryExecuteFastCopy(plan, in.rawFrame, in.picture);
}

// Frames large enough for the fast path's prefetched walks (1 to 12 MiB of
// outputs) and beyond them, which the small random frames below never reach:
// every mirror, odd row widths, with overscan, in bands shared with the
// helper thread as the camera has them.
TEST(ReconstructFrame, LargeFramesMatchTheGeneralPath) {
    ProcessRowBandWorker().Start();
    for (int32_t rawRows : {300, 1600})
        for (int32_t mirrors = 0; mirrors < 4; ++mirrors) {
            FrameScenario general = FourQuadrants(mirrors & 1 ? -1 : 1, mirrors & 2 ? -1 : 1);
            general.geometry = {4, 1037, rawRows, 29, 0};
            general.width = 1037 - 29, general.height = rawRows;
            general.overscanWidth = 29, general.overscanHeight = rawRows;
            general.Allocate();
            FrameScenario fast = general;
            ASSERT_TRUE(general.Run(false).reconstructed);
            ASSERT_TRUE(RunFast(fast));
            ExpectSamePictures(fast, general, rawRows * 4 + mirrors);
        }
}

// Random blocks, geometries and requests: the general path must match the
// reference pixel for pixel, and the fast path the general one, whenever it
// takes the plan.
TEST(ReconstructFrame, RandomLayoutsMatchTheReference) {
    std::mt19937 rng(20260);
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    auto unit = [&] { return pick(0, 1) ? 1 : -1; };
    int fastTaken = 0;
    const int kCases = 3000;
    for (int c = 0; c < kCases; ++c) {
        FrameScenario s;
        const bool common = pick(0, 3) != 0;
        const int n = common ? (pick(0, 1) ? 4 : 2) : pick(1, 4);
        // Now and then an overscan wide enough for the vector kernel.
        const bool wideOverscan = pick(0, 3) == 0;
        s.geometry = {n, pick(1, 70), pick(1, 12), wideOverscan ? pick(16, 40) : pick(0, 6),
                      pick(0, 4)};
        std::vector<int> quadrants = {0, 1, 2, 3}, lanes = {0, 1, 2, 3};
        std::shuffle(quadrants.begin(), quadrants.end(), rng);
        quadrants.resize(n);
        std::sort(quadrants.begin(), quadrants.end());
        s.active.assign(quadrants.begin(), quadrants.end());
        const int sharedRow = pick(0, 2);
        std::shuffle(lanes.begin(), lanes.begin() + n, rng);
        for (int i = 0; i < n; ++i) {
            QuadrantLayout l;
            if (common) {
                l = Interleaved(static_cast<uint16_t>(pick(0, 5) ? lanes[i] : pick(0, n - 1)), n,
                                unit(), unit());
                l.firstRow = static_cast<uint16_t>(sharedRow);
            } else {
                l.firstColumn = uint16_t(pick(0, 8)), l.firstRow = uint16_t(pick(0, 4));
                l.columnStride = pick(-3, 5), l.rowStride = pick(-2, 3);
                l.outputColumnStride = pick(-2, 2), l.outputRowStride = pick(-2, 2);
                if (pick(0, 9) != 0) {  // zero strides only now and then
                    if (l.columnStride == 0) l.columnStride = n;
                    if (l.rowStride == 0) l.rowStride = 1;
                    if (l.outputColumnStride == 0) l.outputColumnStride = 1;
                    if (l.outputRowStride == 0) l.outputRowStride = -1;
                }
            }
            s.block.Enable(quadrants[i], static_cast<uint8_t>(pick(1, 255)))
                .Quadrant(quadrants[i], l);
        }
        s.width = pick(1, 80), s.height = pick(1, 14);
        s.overscanWidth = wideOverscan ? pick(14, 44) : pick(0, 8), s.overscanHeight = pick(0, 14);
        s.Allocate();

        FrameScenario expected = s, general = s, fast = s;
        int32_t expectedHeight = 0, generalHeight = 0;
        const ReconstructionResult want = Reference(expected, &expectedHeight);
        const ReconstructionResult got = general.Run(false, &generalHeight);
        ASSERT_EQ(std::tie(got.reconstructed, got.failureStatus, generalHeight),
                  std::tie(want.reconstructed, want.failureStatus, expectedHeight))
            << "case " << c;
        ExpectSamePictures(general, expected, c);
        if (!RunFast(fast)) continue;
        ++fastTaken;
        ExpectSamePictures(fast, general, c);
    }
    EXPECT_GT(fastTaken, kCases / 3);
}

// Every length around the vector widths, every start alignment of the
// outputs (alike, and different per output), every mix of forwards and
// mirrored outputs, lanes taken once or shared: each output position gets
// its lane's pixel and nothing around the outputs is written.
TEST(DeinterleaveKernel, EveryLevelMatchesThePlainLoop) {
    constexpr int kGuard = 40;
    std::vector<KernelLevel> levels = {KernelLevel::Scalar};
    if (BestKernelLevel() != KernelLevel::Scalar) levels.push_back(KernelLevel::Sse2);
    if (BestKernelLevel() == KernelLevel::Avx2) levels.push_back(KernelLevel::Avx2);
    for (KernelLevel level : levels)
        for (int n : {2, 4})
            // Up to 70, and 1043: many blocks and a partial one.
            for (int count = 0; count <= 1043; count = count == 70 ? 1043 : count + 1)
                for (int offset = 0; offset < 19; offset += 3)
                    // Bit t of mirrors: target t is mirrored; every mix.
                    for (int mirrors = 0; mirrors < 1 << n; ++mirrors) {
                        // The row starts at every alignment too.
                        std::vector<uint16_t> storage(count * n + 1 + offset % 8);
                        std::iota(storage.begin(), storage.end(), uint16_t{1});
                        const uint16_t* row = storage.data() + offset % 8;
                        std::vector<uint16_t> out[4], want[4];
                        LaneTarget targets[4];
                        for (int t = 0; t < n; ++t) {
                            out[t].assign(count + 2 * kGuard + 24, 0);
                            want[t] = out[t];
                            const bool mirrored = (mirrors >> t) & 1;
                            // Offsets from 16 on give each output its own alignment.
                            uint16_t* base =
                                out[t].data() + kGuard + (offset < 16 ? offset : offset + t);
                            // Each lane once, in changing orders; or lanes
                            // shared by two targets and one left out.
                            const int lane = offset % 2 ? (t * 3 + offset) % n : t / 2;
                            targets[t] = {mirrored ? base + count - 1 : base, mirrored ? -1 : 1,
                                          lane};
                            for (int j = 0; j < count; ++j)
                                want[t][targets[t].first - out[t].data() +
                                        j * targets[t].direction] = row[j * n + lane];
                        }
                        DeinterleaveRow(level, row, n, targets, count);
                        for (int t = 0; t < n; ++t)
                            ASSERT_EQ(out[t], want[t])
                                << "level " << static_cast<int>(level) << " n " << n << " count "
                                << count << " target " << t;
                    }
}

}  // namespace
}  // namespace reconstruction
