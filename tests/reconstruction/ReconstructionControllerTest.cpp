#include <gtest/gtest.h>

#include "reconstruction/BlockBuilder.h"
#include "reconstruction/CReconstructionController.h"

namespace reconstruction {
namespace {

using testing::BlockBuilder;
using testing::QuadrantLayout;

QuadrantLayout Layout(uint16_t first, int32_t columnStride) {
    const uint16_t row = first + 100, outputColumn = first + 200;
    return {first, row, columnStride, 1, outputColumn, 7, -1, -1};
}

TEST(ReconstructionController, RecordsFollowTheEnabledQuadrantsInOrderAndNullLeavesThemAlone) {
    BlockBuilder builder;
    // Any nonzero flag enables; the reserved bytes after the flags are none.
    builder.Enable(0).Enable(2, 0x80).Word(4, 0xFFFF).Prescan(1, 5, 6, 3);
    for (int q = 0; q < 4; ++q) builder.Quadrant(q, Layout(static_cast<uint16_t>(q), q + 1));
    CReconstructionController plan;
    ASSERT_EQ(plan.Configure(builder.Data()), 1);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{0, 2}));
    ASSERT_EQ(plan.QuadrantCount(), 2);
    ASSERT_EQ(plan.Inputs().size(), 2u);
    EXPECT_EQ(plan.Inputs()[0].sourceFirstColumn, 0);
    EXPECT_EQ(plan.Inputs()[1].sourceFirstColumn, 2);
    EXPECT_EQ(plan.Inputs()[1].sourceFirstRow, 102);
    EXPECT_EQ(plan.Inputs()[1].sourceColumnStride, 3);
    EXPECT_EQ(plan.Inputs()[1].quadrantCount, 2);
    EXPECT_EQ(plan.Outputs()[1].outputColumnOrigin, 202);
    EXPECT_EQ(plan.Outputs()[1].outputColumnStride, -1);
    EXPECT_EQ(plan.Outputs()[1].outputRowStride, -1);
    EXPECT_EQ(plan.PrescanSource(), 1);
    EXPECT_EQ(plan.FixedPrescanColumns(), 3);
    EXPECT_TRUE(plan.IsReconstructible());

    EXPECT_EQ(plan.Configure(nullptr), 0);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{0, 2}));
    EXPECT_EQ(plan.Inputs().size(), 2u);
    plan.Release();
    EXPECT_TRUE(plan.Inputs().empty());
    EXPECT_TRUE(plan.Outputs().empty());
}

TEST(ReconstructionController, BlocksThatCannotReconstructAreFlagged) {
    CReconstructionController plan;
    BlockBuilder none;
    ASSERT_EQ(plan.Configure(none.Data()), 1);
    EXPECT_EQ(plan.QuadrantCount(), 0);
    EXPECT_TRUE(plan.Inputs().empty());
    EXPECT_FALSE(plan.IsReconstructible());

    BlockBuilder zeroStride;
    zeroStride.Enable(0).Quadrant(0, Layout(0, 4)).Word(16 + 26, 0x8000);  // "-0"
    ASSERT_EQ(plan.Configure(zeroStride.Data()), 1);
    EXPECT_FALSE(plan.IsReconstructible());
}

}  // namespace
}  // namespace reconstruction
