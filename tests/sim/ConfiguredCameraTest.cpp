// The bundled configuration on the simulated camera, end to end: the library
// initializes each mode from the mode file and the settings INI and sends the
// blocks to the firmware; the firmware reads the simulated sky out as each
// mode's geometry says, the library reconstructs it, and the pictures must
// equal the scene rendered directly in sensor coordinates.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <numeric>
#include <string>
#include <vector>

#include "Vela2UsbCameraStatus.h"
#include "camera/ProcessObjects.h"
#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
#include "sim/FramePattern.h"
#include "sim/SimulatedCamera.h"
#include "sim/SkyScene.h"

namespace {

const std::string kConfig = VELA2_TEST_CONFIG_DIR;

struct Mode {
    int quadrants, width, height, binning, overscan;
};
// What config/make_epal.py lays out.
const Mode kModes[] = {
    {4, 2048, 2048, 1, 16}, {4, 1024, 1024, 2, 8}, {2, 2048, 4096, 1, 16}, {1, 4096, 4096, 1, 16}};

struct Picture {
    std::vector<std::vector<uint16_t>> images, overscans;
    sim::SkyScene::Exposure exposure;
};

struct Stats {
    double mean = 0, deviation = 0;
};

Stats Measure(const std::vector<uint16_t>& pixels) {
    const double n = double(pixels.size());
    const double mean = std::accumulate(pixels.begin(), pixels.end(), 0.0) / n;
    double squares = 0;
    for (uint16_t p : pixels) squares += (p - mean) * (p - mean);
    return {mean, std::sqrt(squares / n)};
}

class SimulatedSky : public ::testing::Test {
  protected:
    SimulatedSky() {
        RenewProcessObjects();
        // The library looks for its settings INI beside its own file.
        Process().ModulePath = kConfig + "/Vela2UsbCameraDll.so";
        options.clock = std::make_shared<sim::SimClock>(0.0);
        simulated = sim::SimulatedCamera::Publish(session.driver(), options);
        simulated.firmware->SetPicture(sim::CameraFirmware::Picture::Sky);
        EXPECT_TRUE(simulated.firmware->LoadModeFile(kConfig + "/modes.ini"));
    }

    ~SimulatedSky() override { TheCamera().Close(1); }

    int32_t Initialize(int mode) {
        return TheCamera().InitializeForMode(mode, (kConfig + "/modes.ini").c_str(), 0);
    }

    // Buffers the camera leaves alone keep their zeros.
    Picture Take(const Mode& mode, int overscanWidth = 0) {
        Picture picture;
        picture.images.assign(4, std::vector<uint16_t>(size_t(mode.width) * mode.height));
        picture.overscans.assign(4, std::vector<uint16_t>(size_t(overscanWidth) * mode.height));
        uint16_t* images[4];
        uint16_t* overscans[4];
        for (int q = 0; q < 4; ++q) {
            images[q] = picture.images[q].data();
            overscans[q] = overscanWidth ? picture.overscans[q].data() : nullptr;
        }
        EXPECT_EQ(TheCamera().StartPicture(images, mode.width, mode.height, overscans,
                                           overscanWidth, overscanWidth ? mode.height : 0),
                  0);
        EXPECT_EQ(TheCamera().WaitForCapture(20000), RECONSTRUCTION_COMPLETED);
        EXPECT_EQ(LastStatus().Get(), 0);
        picture.exposure = simulated.firmware->LastSkyExposure();
        return picture;
    }

    sim::SimUsbSession session;
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera simulated;
};

// Quadrant k of the picture is the cell the host's mosaic puts it in: two
// cells per row. The single-quadrant mode mirrors left to right into the
// first buffer and leaves the others alone.
TEST_F(SimulatedSky, EveryModeSendsItsBlocksReconstructsTheSceneSeamlesslyAndShowsThePattern) {
    const sim::SkySettings settings;
    for (int m = 0; m < 4; ++m) {
        SCOPED_TRACE(m);
        const Mode& mode = kModes[m];
        ASSERT_EQ(Initialize(m), 0) << LastStatus().Get();
        CTesselCamera& camera = TheCamera();
        EXPECT_EQ(camera.GetNumberOfQuadrants(), mode.quadrants);
        EXPECT_EQ(camera.GetActiveWidth(), mode.width);
        EXPECT_EQ(camera.GetActiveHeight(), mode.height);
        EXPECT_EQ(camera.GetRawImageWidth() % mode.quadrants, 0);
        // The firmware holds what the mode's block image carries.
        std::vector<uint8_t> calibration = simulated.firmware->Block(vendor::kCalibration);
        EXPECT_EQ(platform::LoadBe16(&calibration[vendor::kSetpointKelvinAt]), 25315);
        std::vector<uint8_t> fpga = simulated.firmware->Block(vendor::kFpga);
        EXPECT_EQ(platform::LoadBe16(&fpga[vendor::kExposureMsAt]), 50) << "a short exposure";

        const Picture picture = Take(mode);
        const int columns = mode.quadrants >= 2 ? 2 : 1;
        const sim::SkyScene scene(settings, mode.width * columns,
                                  mode.height * ((mode.quadrants + 1) / 2), mode.binning,
                                  mode.binning);
        size_t wrong = 0, starPixels = 0;
        for (int k = 0; k < mode.quadrants; ++k) {
            const int left = (k % columns) * mode.width, top = (k / columns) * mode.height;
            for (int r = 0; r < mode.height; ++r) {
                const std::vector<uint16_t> row = scene.Row(top + r, picture.exposure);
                for (int c = 0; c < mode.width; ++c) {
                    const uint16_t got = picture.images[k][size_t(r) * mode.width + c];
                    wrong += got != row[size_t(left + c)];
                    starPixels += got > settings.bias + 2000;
                }
            }
        }
        EXPECT_EQ(wrong, 0u);
        EXPECT_GT(starPixels, 100u) << "a sky with stars, not a flat field";
    }
    EXPECT_EQ(simulated.firmware->ConcurrencyViolations(), 0u);

    ASSERT_EQ(TheCamera().SetTestPatternMode(1), 0);
    const Picture pattern = Take(kModes[3]);
    EXPECT_EQ(pattern.images[0][4095], sim::FramePixel(3)) << "the pattern, mirrored";
    for (int q = 1; q < 4; ++q)
        EXPECT_EQ(pattern.images[q], std::vector<uint16_t>(pattern.images[q].size())) << q;
}

// Without stars, which saturate, four times the exposure gives four times the
// signal, whose noise is its photon noise and the read noise together; the
// overscan holds bias and read noise whatever the light; on a dark sky a
// warmer sensor shows more dark current.
TEST_F(SimulatedSky, SignalScalesWithExposureDarkWithTemperatureAndOverscanHoldsOnlyBias) {
    const Mode& mode = kModes[1];
    ASSERT_EQ(Initialize(1), 0);
    sim::SkySettings settings;
    settings.starsPerMegapixel = 0;
    simulated.firmware->SetSky(settings);
    ASSERT_EQ(TheCamera().SetExposureTime(1000, 0x100, 0x10), 0);
    const double shortSignal = Measure(Take(mode).images[0]).mean - settings.bias;
    ASSERT_EQ(TheCamera().SetExposureTime(4000, 0x100, 0x10), 0);
    const Picture bright = Take(mode, mode.overscan);
    const double brightSignal = Measure(bright.images[0]).mean - settings.bias;
    EXPECT_NEAR(brightSignal / shortSignal, 4.0, 0.04);
    // Neighbours differ by the noise alone (the background's slope is far
    // smaller), with twice its variance.
    const std::vector<uint16_t>& image = bright.images[0];
    double squares = 0;
    for (size_t i = 1; i < image.size(); ++i)
        if (i % size_t(mode.width) != 0) squares += std::pow(double(image[i]) - image[i - 1], 2);
    const size_t pairs = image.size() - image.size() / size_t(mode.width);
    const double noise = std::sqrt(brightSignal + settings.readNoise * settings.readNoise);
    EXPECT_NEAR(std::sqrt(squares / double(pairs) / 2), noise, noise * 0.02);
    for (int k = 0; k < mode.quadrants; ++k) {
        const Stats overscan = Measure(bright.overscans[k]);
        EXPECT_NEAR(overscan.mean, settings.bias, 0.5);
        EXPECT_NEAR(overscan.deviation, settings.readNoise, 0.3);
    }

    sim::SkySettings dark;
    dark.skyPerSecond = dark.starsPerMegapixel = 0;
    simulated.firmware->SetSky(dark);
    ASSERT_EQ(TheCamera().SetExposureTime(60000, 0x100, 0x10), 0);
    const Picture cold = Take(mode);
    simulated.firmware->SetAmbientKelvin(340);  // beyond what the cooler can hold
    const Picture warm = Take(mode);
    ASSERT_GT(warm.exposure.sensorKelvin, cold.exposure.sensorKelvin + 10);
    const double coldDark = Measure(cold.images[0]).mean - dark.bias;
    const double warmDark = Measure(warm.images[0]).mean - dark.bias;
    const double expected = std::exp2((warm.exposure.sensorKelvin - cold.exposure.sensorKelvin) /
                                      sim::SkyScene::kDarkDoublingKelvin);
    EXPECT_NEAR(warmDark / coldDark, expected, expected * 0.05);
}

}  // namespace
