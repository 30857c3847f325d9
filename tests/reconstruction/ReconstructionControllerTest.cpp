#include <gtest/gtest.h>

#include "reconstruction/BlockBuilder.h"
#include "reconstruction/CReconstructionController.h"

namespace reconstruction {
namespace {

using testing::BlockBuilder;
using testing::QuadrantLayout;

QuadrantLayout Layout(uint16_t firstColumn, int32_t columnStride, int32_t outputColumnStride) {
    QuadrantLayout layout;
    layout.firstColumn = firstColumn;
    layout.firstRow = static_cast<uint16_t>(firstColumn + 100);
    layout.columnStride = columnStride;
    layout.rowStride = 1;
    layout.outputColumnOrigin = static_cast<uint16_t>(firstColumn + 200);
    layout.outputRowOrigin = 7;
    layout.outputColumnStride = outputColumnStride;
    layout.outputRowStride = -1;
    return layout;
}

TEST(ReconstructionController, RecordsFollowTheEnabledQuadrantsInOrder) {
    BlockBuilder builder;
    builder.Enable(0).Enable(2).Prescan(1, 5, 6, 3);
    for (int q = 0; q < 4; ++q) builder.Quadrant(q, Layout(static_cast<uint16_t>(q), q + 1, -1));
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
    EXPECT_EQ(plan.Inputs()[1].reserved1, 0);
    EXPECT_EQ(plan.Inputs()[1].further[0], -1);
    EXPECT_EQ(plan.Inputs()[1].dataReference, 0);
    EXPECT_EQ(plan.Outputs()[1].outputColumnOrigin, 202);
    EXPECT_EQ(plan.Outputs()[1].outputColumnStride, -1);
    EXPECT_EQ(plan.Outputs()[1].outputRowStride, -1);
    EXPECT_EQ(plan.PrescanSource(), 1);
    EXPECT_EQ(plan.FixedPrescanColumns(), 3);
    EXPECT_TRUE(plan.IsReconstructible());

    plan.Release();
    EXPECT_TRUE(plan.Inputs().empty());
    EXPECT_TRUE(plan.Outputs().empty());
}

TEST(ReconstructionController, AnyNonzeroFlagEnables) {
    BlockBuilder builder;
    builder.Enable(1, 0xFF).Enable(3, 0x80).Word(4, 0xFFFF);  // reserved bytes are not flags
    for (int q = 0; q < 4; ++q) builder.Quadrant(q, Layout(0, 1, 1));
    CReconstructionController plan;
    ASSERT_EQ(plan.Configure(builder.Data()), 1);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{1, 3}));
}

TEST(ReconstructionController, BlocksThatCannotReconstructAreFlagged) {
    CReconstructionController plan;
    BlockBuilder none;
    ASSERT_EQ(plan.Configure(none.Data()), 1);
    EXPECT_EQ(plan.QuadrantCount(), 0);
    EXPECT_TRUE(plan.Inputs().empty());
    EXPECT_FALSE(plan.IsReconstructible());

    BlockBuilder zeroStride;
    zeroStride.Enable(0).Quadrant(0, Layout(0, 4, 1)).Word(16 + 26, 0x8000);  // "-0"
    ASSERT_EQ(plan.Configure(zeroStride.Data()), 1);
    EXPECT_FALSE(plan.IsReconstructible());
}

TEST(ReconstructionController, NullLeavesThePlanAlone) {
    BlockBuilder builder;
    builder.Enable(2).Quadrant(2, Layout(1, 4, 1));
    CReconstructionController plan;
    ASSERT_EQ(plan.Configure(builder.Data()), 1);
    EXPECT_EQ(plan.Configure(nullptr), 0);
    EXPECT_EQ(plan.ActiveQuadrants(), (std::vector<int32_t>{2}));
    EXPECT_EQ(plan.Inputs().size(), 1u);
}

}  // namespace
}  // namespace reconstruction
