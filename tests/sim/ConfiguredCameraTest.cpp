// The bundled configuration on the simulated camera, end to end: the library
// initializes each mode from the mode file and the settings INI, sends the
// blocks to the firmware, and takes pictures whose pixels come from the
// firmware's known pattern through each mode's reconstruction.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Vela2UsbCameraStatus.h"
#include "camera/ProcessObjects.h"
#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
#include "sim/FramePattern.h"
#include "sim/SimulatedCamera.h"

namespace {

const std::string kConfig = VELA2_TEST_CONFIG_DIR;

struct ModeGeometry {
    int quadrants;
    int width;
    int height;
};

// What config/make_epal.py lays out.
const ModeGeometry kModes[] = {{4, 2048, 2048}, {4, 1024, 1024}, {2, 2048, 4096}, {1, 4096, 4096}};

class ConfiguredCamera : public ::testing::Test {
  protected:
    ConfiguredCamera() {
        RenewProcessObjects();
        // The library looks for its settings INI beside its own file.
        Process().ModulePath = kConfig + "/Vela2UsbCameraDll.so";
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Publish(session.driver(), options);
    }

    ~ConfiguredCamera() override { TheCamera().Close(1); }

    int32_t Initialize(int mode) {
        return TheCamera().InitializeForMode(mode, (kConfig + "/modes.ini").c_str(), 0);
    }

    // A picture of the current mode into fresh buffers, with a stamp in
    // every pixel so untouched ones show.
    std::vector<std::vector<uint16_t>> Picture(int width, int height) {
        std::vector<std::vector<uint16_t>> images(
            4, std::vector<uint16_t>(static_cast<size_t>(width) * height, 0xDEAD));
        uint16_t* buffers[4];
        uint16_t* overscans[4] = {};
        for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
        EXPECT_EQ(TheCamera().StartPicture(buffers, width, height, overscans, 0, 0), 0);
        EXPECT_EQ(TheCamera().WaitForCapture(10000), RECONSTRUCTION_COMPLETED);
        EXPECT_EQ(LastStatus().Get(), 0);
        return images;
    }

    // The firmware's pattern pixel at a row and column of the raw frame.
    static uint16_t Raw(int row, int column) {
        return sim::FramePixel(
            static_cast<uint32_t>(row * TheCamera().GetRawImageWidth() + column));
    }

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
};

TEST_F(ConfiguredCamera, EveryModeInitializesWithItsGeometryBlocksAndTemperatures) {
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Initialize(mode), 0) << LastStatus().Get();
        CTesselCamera& camera = TheCamera();
        EXPECT_EQ(camera.GetNumberOfQuadrants(), kModes[mode].quadrants);
        EXPECT_EQ(camera.GetActiveWidth(), kModes[mode].width);
        EXPECT_EQ(camera.GetActiveHeight(), kModes[mode].height);
        EXPECT_EQ(camera.GetRawImageWidth() % kModes[mode].quadrants, 0);

        // The firmware holds what the mode's block image carries.
        std::vector<uint8_t> calibration = simulated.firmware->Block(vendor::kCalibration);
        EXPECT_EQ(platform::LoadBe16(&calibration[vendor::kSetpointKelvinAt]), 25315);
        std::vector<uint8_t> fpga = simulated.firmware->Block(vendor::kFpga);
        EXPECT_EQ(platform::LoadBe16(&fpga[vendor::kExposureMsAt]), 50) << "a short exposure";
    }
    double sensor = 0, sink = 0;
    ASSERT_EQ(TheCamera().GetCcdTemperature(&sensor), 0);
    ASSERT_EQ(TheCamera().GetHeatSinkTemperature(&sink), 0);
    EXPECT_NEAR(sensor, -20.0, 0.03) << "the calibration's setpoint, reached at once";
    EXPECT_NEAR(sink, 25.0, 2.0);
    uint32_t type = 7;
    ASSERT_EQ(TheCamera().GetCameraType(&type), 0);
    EXPECT_EQ(type, 1u);
    EXPECT_EQ(simulated.firmware->ConcurrencyViolations(), 0u);
}

// Four binned quadrants deinterleave and mirror the pattern, twice in a row;
// the single-quadrant mode mirrors left to right and leaves the other
// buffers alone.
TEST_F(ConfiguredCamera, PicturesDeinterleaveAndMirrorThePatternAsTheModeSays) {
    ASSERT_EQ(Initialize(1), 0);
    const int interleave = 4, first = 3 * interleave;
    int width = 1024, height = 1024;
    for (int shot = 0; shot < 2; ++shot) {
        auto images = Picture(width, height);
        for (int r : {0, 1, 517, height - 1}) {
            for (int c : {0, 1, 300, width - 1}) {
                const int mirroredR = height - 1 - r, mirroredC = width - 1 - c;
                EXPECT_EQ(images[0][r * width + c], Raw(r, first + interleave * c));
                EXPECT_EQ(images[1][r * width + mirroredC], Raw(r, first + 1 + interleave * c));
                EXPECT_EQ(images[2][mirroredR * width + c], Raw(r, first + 2 + interleave * c));
                EXPECT_EQ(images[3][mirroredR * width + mirroredC],
                          Raw(r, first + 3 + interleave * c));
            }
        }
    }
    EXPECT_EQ(simulated.firmware->FramesRead(), 2u);
    EXPECT_EQ(simulated.firmware->CurrentState(), vendor::kIdle);

    ASSERT_EQ(Initialize(3), 0);
    width = height = 4096;
    auto images = Picture(width, height);
    for (int r : {0, 2049, height - 1})
        for (int c : {0, 17, width - 1})
            EXPECT_EQ(images[0][r * width + (width - 1 - c)], Raw(r, 3 + c));
    EXPECT_EQ(images[1][0], 0xDEAD) << "other quadrants untouched";
}

}  // namespace
