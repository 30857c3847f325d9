#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "reconstruction/BlockBuilder.h"
#include "reconstruction/ByteOrder.h"
#include "reconstruction/CReconstructionController.h"
#include "reconstruction/EpalData.h"
#include "reconstruction/ExposureTiming.h"
#include "reconstruction/FrameGeometry.h"
#include "reconstruction/Reconstruction.h"

namespace reconstruction {
namespace {

using testing::BlockBuilder;

TEST(EpalBlock, FieldsUseTheirOwnByteOrderStridesSignAndMagnitudeAndNullIsRefused) {
    std::vector<uint8_t> block(400, 0);
    block[23] = 0x34, block[24] = 0x12;  // little-endian, unaligned
    block[35] = 0x00, block[36] = 0x04;
    block[56] = 0x03, block[57] = 0xE8;  // big-endian
    block[246] = 0xE8, block[247] = 0x03;
    const EpalData epal = EpalData::Convert(block.data());
    ASSERT_TRUE(epal);
    EXPECT_EQ(std::vector<int32_t>({epal.ActivePixelsPerLine(), epal.RawQuadrantHeight(),
                                    epal.ExposureTime(), epal.QuadrantWidth()}),
              std::vector<int32_t>({0x1234, 1024, 1000, 1000}));
    epal.SetLinesPerFrame(0xBEEF);
    epal.SetOverscanRows(0x0102);
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 25, block.begin() + 27),
              (std::vector<uint8_t>{0xEF, 0xBE}));
    EXPECT_EQ(std::vector<uint8_t>(block.begin() + 252, block.begin() + 254),
              (std::vector<uint8_t>{0x02, 0x01}));
    EXPECT_FALSE(EpalData::Convert(nullptr));
    EXPECT_FALSE(Reconstruction::Convert(nullptr));

    for (auto [word, value] : {std::pair{0x8002, -2}, {0x0002, 2}, {0x8000, 0}, {0xFFFF, -32767}})
        EXPECT_EQ(DecodeSignMagnitude(static_cast<uint16_t>(word)), value) << word;
    EXPECT_THROW(Reconstruction::Convert(block.data()).Quadrant(4), std::out_of_range);
}

// The camera's own load checks the raw sizes; the EPAL sizes, where the
// block's pre-scan can outgrow the rounded width, only show here, as do the
// pre-scan source and the transfer sizes' edges.
TEST(FrameGeometry, EpalSizesPrescanSourceAndTransferSizeEdges) {
    FrameGeometryInput in;
    in.quadrantWidth = in.quadrantHeight = in.blockQuadrantWidth = in.blockQuadrantHeight = 1000;
    in.overscanColumns = 20;
    in.overscanRows = 24;
    in.numberOfQuadrants = 4;
    in.prescan = {50, 2, 3};
    const FrameGeometry g = ComputeFrameGeometry(in);
    EXPECT_EQ(std::vector<int32_t>({g.rawQuadrantWidth, g.epalQuadrantWidth, g.rawQuadrantHeight,
                                    g.epalQuadrantHeight}),
              std::vector<int32_t>({1024, 1070, 1024, 1026}));
    EXPECT_EQ(RoundRawQuadrantWidth(1023, 0), 1023);
    EXPECT_EQ(RoundRawQuadrantWidth(1023, 2), 1024);
    in.numberOfQuadrants = 0;
    EXPECT_EQ(ComputeFrameGeometry(in).rawImageWidth, 0) << "no quadrants divides by nothing";

    BlockBuilder builder;
    builder.Prescan(1, 11, 12, 13);
    PrescanCounts counts;
    ASSERT_TRUE(PrescanCountsFromBlock(Reconstruction::Convert(builder.Data()), counts));
    EXPECT_EQ(std::vector<int32_t>({counts.columns, counts.rows, counts.fixedColumns}),
              std::vector<int32_t>({11, 12, 13}));
    builder.Prescan(2, 11, 12, 13);
    EXPECT_FALSE(PrescanCountsFromBlock(Reconstruction::Convert(builder.Data()), counts));

    EXPECT_EQ(ComputeTransferSize(1, 1, 1).windowImageSize, 512);
    EXPECT_EQ(ComputeTransferSize(0, 1024, 1024).numberOfBlocks, 1);
    EXPECT_EQ(ComputeTransferSize(0, 1024, 1024).windowImageSize, 0);
    EXPECT_EQ(ComputeTransferSize(4, 1024, 1024 + 1).numberOfBlocks, 129);
}

TEST(CameraType, ModelFieldEndsAtItsFortyFifthCharacter) {
    // Even without a zero byte: a suffix cut by the end is no match.
    uint8_t full[61];
    std::memset(full, 'A', sizeof full);
    std::memcpy(full + 16 + 43, "_5253", 2);
    EXPECT_EQ(CameraTypeFromProductInfo(full, sizeof full, "_5253"), 0);
    std::memcpy(full + 16 + 40, "_5253", 5);
    EXPECT_EQ(CameraTypeFromProductInfo(full, sizeof full, "_5253"), 1);
}

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
