// The bundled configuration on the simulated camera, end to end: the library
// initializes each mode from the mode file and the settings INI, sends the
// blocks to the firmware, and takes pictures whose pixels come from the
// firmware's known pattern through each mode's reconstruction.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "Vela2UsbCameraStatus.h"
#include "camera/ProcessObjects.h"
#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
#include "sim/FramePattern.h"
#include "sim/SimulatedCamera.h"

namespace {

const std::string kConfig = VELA2_TEST_CONFIG_DIR;

// What config/make_epal.py lays out: quadrants, width, height.
const std::tuple<int, int, int> kModes[] = {
    {4, 2048, 2048}, {4, 1024, 1024}, {2, 2048, 4096}, {1, 4096, 4096}};

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

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
};

// Each mode's picture against the scene the firmware drew: SimulatedSky.
// The single-quadrant mode mirrors left to right and leaves the other buffers
// alone.
TEST_F(ConfiguredCamera,
       EveryModeInitializesWithItsGeometryAndBlocksAndTheLastMirrorsIntoOneBuffer) {
    for (int mode = 0; mode < 4; ++mode) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(Initialize(mode), 0) << LastStatus().Get();
        CTesselCamera& camera = TheCamera();
        const auto [quadrants, width, height] = kModes[mode];
        EXPECT_EQ(camera.GetNumberOfQuadrants(), quadrants);
        EXPECT_EQ(camera.GetActiveWidth(), width);
        EXPECT_EQ(camera.GetActiveHeight(), height);
        EXPECT_EQ(camera.GetRawImageWidth() % quadrants, 0);

        // The firmware holds what the mode's block image carries.
        std::vector<uint8_t> calibration = simulated.firmware->Block(vendor::kCalibration);
        EXPECT_EQ(platform::LoadBe16(&calibration[vendor::kSetpointKelvinAt]), 25315);
        std::vector<uint8_t> fpga = simulated.firmware->Block(vendor::kFpga);
        EXPECT_EQ(platform::LoadBe16(&fpga[vendor::kExposureMsAt]), 50) << "a short exposure";
    }
    EXPECT_EQ(simulated.firmware->ConcurrencyViolations(), 0u);

    // A stamp in every pixel shows the untouched ones.
    const int size = 4096;
    std::vector<std::vector<uint16_t>> images(4, std::vector<uint16_t>(size * size, 0xDEAD));
    uint16_t* buffers[4] = {images[0].data(), images[1].data(), images[2].data(), images[3].data()};
    uint16_t* overscans[4] = {};
    EXPECT_EQ(TheCamera().StartPicture(buffers, size, size, overscans, 0, 0), 0);
    EXPECT_EQ(TheCamera().WaitForCapture(10000), RECONSTRUCTION_COMPLETED);
    EXPECT_EQ(LastStatus().Get(), 0);
    for (int r : {0, 2049, size - 1})
        for (int c : {0, 17, size - 1})
            EXPECT_EQ(images[0][r * size + (size - 1 - c)],
                      sim::FramePixel(r * TheCamera().GetRawImageWidth() + 3 + c));
    for (int q = 1; q < 4; ++q) EXPECT_EQ(images[q][0], 0xDEAD) << q;
}

}  // namespace
