#include <gtest/gtest.h>

#include "reconstruction/BlockBuilder.h"
#include "reconstruction/CReconstructionController.h"

namespace reconstruction {
namespace {

using testing::BlockBuilder;

// What the camera takes from the plan: the enabled quadrants in order, the
// pre-scan, and whether the block can reconstruct at all. (The per-quadrant
// records it also keeps are read by nothing.)
TEST(ReconstructionController, EnabledQuadrantsPrescanAndWhetherTheBlockCanReconstruct) {
    BlockBuilder builder;
    // Any nonzero flag enables; the reserved bytes after the flags are none.
    builder.Enable(0).Enable(2, 0x80).Word(4, 0xFFFF).Prescan(1, 5, 6, 3);
    for (int q = 0; q < 4; ++q) builder.Quadrant(q, {uint16_t(q), 0, q + 1, 1, 0, 0, -1, -1});
    CReconstructionController plan;
    ASSERT_EQ(plan.Configure(builder.Data()), 1);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(plan.QuadrantCount(), 2);
    EXPECT_EQ(plan.PrescanSource(), 1);
    EXPECT_EQ(plan.FixedPrescanColumns(), 3);
    EXPECT_TRUE(plan.IsReconstructible());
    EXPECT_EQ(plan.Configure(nullptr), 0);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{0, 2})) << "null leaves the plan";

    BlockBuilder none;
    ASSERT_EQ(plan.Configure(none.Data()), 1);
    EXPECT_EQ(plan.QuadrantCount(), 0);
    EXPECT_FALSE(plan.IsReconstructible());
    BlockBuilder zeroStride;
    zeroStride.Enable(0).Quadrant(0, {0, 0, 4}).Word(16 + 26, 0x8000);  // output rows "-0"
    ASSERT_EQ(plan.Configure(zeroStride.Data()), 1);
    EXPECT_FALSE(plan.IsReconstructible());
}

}  // namespace
}  // namespace reconstruction
