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

TEST_F(ConfiguredCamera, EveryModeInitializesWithItsGeometryAndBlocks) {
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
    EXPECT_EQ(simulated.firmware->ConcurrencyViolations(), 0u);
}

// The single-quadrant mode mirrors left to right and leaves the other
// buffers alone; every mode's picture against the scene the firmware drew:
// SimulatedSky.
TEST_F(ConfiguredCamera, TheSingleQuadrantModeMirrorsThePatternAndTouchesNoOtherBuffer) {
    ASSERT_EQ(Initialize(3), 0);
    const int width = 4096, height = 4096;
    auto images = Picture(width, height);
    for (int r : {0, 2049, height - 1})
        for (int c : {0, 17, width - 1})
            EXPECT_EQ(images[0][r * width + (width - 1 - c)], Raw(r, 3 + c));
    for (int q = 1; q < 4; ++q) EXPECT_EQ(images[q][0], 0xDEAD) << q;
}

}  // namespace
