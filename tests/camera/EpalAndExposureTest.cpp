#include <gtest/gtest.h>

#include "CameraTestSupport.h"
#include "EpalImage.h"
#include "platform/DebugTrace.h"

#ifndef _WIN32
#include <cstring>

#include "reconstruction/GuardedBuffer.h"
#endif

using namespace cameratest;

namespace {
class EpalTest : public CameraTest {
  protected:
    void SetUp() override {
        UseSettings();
        camera.FillBinningTables();
    }
    // Loads an image the way bring-up does.
    int32_t Load(const EpalGeometry& geometry) {
        camera.EpalData = MakeEpalImage(geometry);
        return LoadImage();
    }
    int32_t LoadImage() {
        firmware->SetBlock(0x01, {camera.EpalData.begin(), camera.EpalData.begin() + 64});
        return camera.ConfigureFromHexfile(camera.EpalData.data(), 400);
    }
};

}  // namespace

TEST_F(EpalTest, GeometryRoundsTheRawQuadrantWidthAndGoesBackToTheCamera) {
    // 1000 x 10, 20 overscan columns, 4 quadrants, 3 fixed pre-scan, exposure 1000.
    camera.SoftwareTrigger = 1;
    ASSERT_EQ(Load({1000, 10, 20, 0, 4, 3, 1000}), 1);
    EXPECT_EQ(std::vector<int32_t>({camera.NumberOfQuadrants, camera.RawQuadrantWidth,
                                    camera.RawImageWidth, camera.RawQuadrantHeight,
                                    camera.FixedPrescanColumns, Process().OverscanColumns}),
              std::vector<int32_t>({4, 1024, 4096, 10, 3, 20}));
    std::vector<uint8_t> fpga = firmware->Block(0x01);
    EXPECT_EQ(fpga[33] | (fpga[34] << 8), 1024);
    // The timeout follows the block's exposure.
    EXPECT_EQ(camera.ExposureTime, 1000);
    EXPECT_EQ(camera.Timeout, 1050u);

    // Pre-scan from the settings tables when the block does not give it.
    camera.EpalData = MakeEpalImage({100});
    camera.EpalData[256 + 8] = 0;  // PrescanSource: the tables
    camera.EpalData[18] = 8;       // column binning 8: fixed pre-scan 4
    ASSERT_EQ(camera.ConfigureFromHexfile(camera.EpalData.data(), 400), 1);
    EXPECT_EQ(camera.FixedPrescanColumns, 4);
    EXPECT_EQ(camera.RawQuadrantWidth, 104);

    // In simulation the geometry goes into the image only (that nothing is
    // sent: CaptureTest).
    camera.SimulationMode = 1;
    ASSERT_EQ(Load({10}), 1);
    EXPECT_EQ(camera.EpalData[33], 12);  // 10 rounded up to a multiple of 4
}

TEST_F(EpalTest, SizesBeyond16BitsOrAGibibyteMemoryRunningOutAndBlocksWithoutAnImageAreRefused) {
    // Memory running out on the first load.
    camera.EpalData = MakeEpalImage(EpalGeometry{});
    int32_t loaded = -1;
    {
        ScopedFailingAllocation failing;
        loaded = camera.ConfigureFromHexfile(camera.EpalData.data(), 400);
    }
    EXPECT_EQ(WithStatus(loaded), (Outcome{0, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));

    EpalGeometry none;
    none.quadrants = 0;
    platform::ScopedTraceCapture trace;
    EXPECT_EQ(WithStatus(Load(none)), (Outcome{0, ERROR_RECONSTRUCTION_VALUE}));
    EXPECT_TRUE(trace.Contains("Failed CReconstructionController::Configure"));
    EXPECT_EQ(camera.NumberOfQuadrants, 0);

    camera.EpalData = MakeEpalImage(EpalGeometry{});
    camera.EpalData[256 + 16 + 4] = 0;  // quadrant 0: column stride 0
    camera.EpalData[256 + 16 + 5] = 0;
    EXPECT_EQ(WithStatus(LoadImage()), (Outcome{0, ERROR_RECONSTRUCTION_VALUE}));

    EXPECT_EQ(WithStatus(Load({0, 0})), (Outcome{0, CAMERA_INVALID_VALUE}));
    EXPECT_TRUE(trace.Contains("Invalid EPAL image dimensions"));

    // Each quadrant dimension must fit its 16-bit field; the raw frame of 4
    // quadrants may take 1 GiB and no more. A refused size reaches no camera.
    // Width, height and overscan columns.
    for (auto [geometry, loaded] : {std::pair{EpalGeometry{65535, 8, 1}, 0},
                                    {EpalGeometry{8, 65535, 0}, 1},
                                    {EpalGeometry{60000, 5000, 0}, 0},
                                    {EpalGeometry{32768, 4096, 0}, 1}}) {
        firmware->ClearLog();
        LastStatus().Set(0);
        EXPECT_EQ(WithStatus(Load(geometry)), (Outcome{loaded, loaded ? 0 : -3}))
            << geometry.quadrantWidth;
        EXPECT_EQ(firmware->WrittenCommands().empty(), loaded == 0) << geometry.quadrantWidth;
    }

    // Settings whose pre-scan would wrap a 32-bit sum into a small width.
    camera.EpalData = MakeEpalImage(EpalGeometry{});
    camera.EpalData[256 + 8] = 0;  // PrescanSource: the tables
    camera.PrescanColumnsByBinning[1] = INT32_MAX;
    EXPECT_EQ(WithStatus(LoadImage()), (Outcome{0, CAMERA_INVALID_VALUE}));
}

#ifndef _WIN32
// The block's view reaches past the 400 bytes of the image; an image that
// ends where the address space does must load all the same.
TEST_F(EpalTest, AnImageEndingAtAnUnmappedPageLoads) {
    const std::vector<uint8_t> image = MakeEpalImage({100});
    reconstruction::testing::GuardedBuffer pages(image.size() / 2);
    uint8_t* bytes = reinterpret_cast<uint8_t*>(pages.Data());
    std::memcpy(bytes, image.data(), image.size());
    camera.EpalData = image;
    firmware->SetBlock(0x01, std::vector<uint8_t>(image.begin(), image.begin() + 64));
    ASSERT_EQ(camera.ConfigureFromHexfile(bytes, static_cast<int32_t>(image.size())), 1);
    EXPECT_EQ(camera.QuadrantWidth, 100) << "read from the image's own bytes";
}
#endif

// A good request's reconstruction is every picture's (CaptureTest).
TEST_F(EpalTest, ReconstructFrameRefusesAnEmptyRequestWithoutAStatus) {
    ASSERT_EQ(Load(EpalGeometry{}), 1);  // 4 quadrants of 8 x 4
    std::vector<uint16_t> raw(4 * 8 * 4, 1);
    Process().Capture.PictureRequest = SPictureRequest{};
    EXPECT_EQ(WithStatus(camera.ReconstructFrame(raw.data(), camera.EpalData)), (Outcome{0, 0}));
}

TEST_F(EpalTest, ExposureAndTestPatternGoToTheFpgaBlockAndReadBack) {
    ASSERT_EQ(Load(EpalGeometry{}), 1);
    camera.SoftwareTrigger = 0;
    EXPECT_EQ(camera.SetExposureTime(1000, 200, 50), 0);
    std::vector<uint8_t> fpga = firmware->Block(0x01);
    const uint16_t words[] = {50, 250, 250, 250, 1000};  // big-endian, from byte 48 on
    for (size_t w = 0; w < 5; ++w)
        EXPECT_EQ(fpga[48 + 2 * w] << 8 | fpga[49 + 2 * w], words[w]) << w;
    EXPECT_EQ(camera.Timeout, 4000u);
    uint32_t exposure = 0, length = 0, start = 0;
    EXPECT_EQ(camera.GetExposureTime(&exposure, &length, &start), 0);
    EXPECT_EQ(std::vector<uint32_t>({exposure, length, start}),
              std::vector<uint32_t>({1000, 200, 50}));
    camera.SoftwareTrigger = 1;
    EXPECT_EQ(camera.SetExposureTime(70000, 0, 0), 0);
    EXPECT_EQ(camera.ExposureTime, 4464);
    EXPECT_EQ(camera.Timeout, 4514u);

    // The test pattern keeps its low byte and is answered from the image.
    EXPECT_EQ(camera.SetTestPatternMode(511), 0);
    EXPECT_EQ(firmware->Block(0x01)[30], 255);
    firmware->ClearLog();
    camera.SimulationMode = 1;
    uint32_t mode = 0;
    EXPECT_EQ(camera.GetTestPatternMode(&mode), 0);
    EXPECT_EQ(mode, 255u);
    EXPECT_TRUE(firmware->Log().empty());
}

TEST_F(EpalTest, CameraTypeComesFromTheModelFieldAndRequestsNeedAWorkingCamera) {
    ASSERT_EQ(Load(EpalGeometry{}), 1);
    std::vector<uint8_t> info(64, 0);
    std::memcpy(&info[0], "SN-0042", 7);
    std::memcpy(&info[16], "VELA2_CCD_5253_B", 16);
    firmware->SetBlock(0x06, info);
    uint32_t type = 9;
    EXPECT_EQ(camera.GetCameraType(&type), 0);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(camera.EpalData[201], 'V') << "the model field is kept in the image";
    std::memset(&info[16], 0, 16);
    firmware->SetBlock(0x06, info);
    EXPECT_EQ(camera.GetCameraType(&type), 0);
    EXPECT_EQ(type, 0u);

    FailNextTransfer();
    EXPECT_EQ(camera.SetExposureTime(1, 1, 1), ERROR_CONTROL_ENDPOINT_READ);
    camera.Initialized = 0;
    EXPECT_EQ(camera.SetExposureTime(1, 1, 1), ERROR_CAMERA_NOT_INITIALIZED);
    EXPECT_EQ(camera.GetExposureTime(&type, &type, &type), ERROR_CAMERA_NOT_INITIALIZED);
    EXPECT_EQ(camera.SetTestPatternMode(1), ERROR_CAMERA_NOT_INITIALIZED);
    EXPECT_EQ(camera.GetTestPatternMode(&type), ERROR_CAMERA_NOT_INITIALIZED);
    EXPECT_EQ(camera.GetCameraType(&type), ERROR_CAMERA_NOT_INITIALIZED);
}
