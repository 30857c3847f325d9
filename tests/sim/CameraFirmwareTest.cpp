// The firmware's own rules that the camera's end-to-end tests cannot see:
// what it refuses, how its blocks overlap, and where exposures end. The clock
// is frozen, so every exposure ends exactly when the test says.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
#include "sim/CameraFirmware.h"

namespace {

constexpr uint8_t kOut = 0x40;  // vendor, device, host to device
constexpr uint8_t kIn = 0xC0;

class Firmware : public ::testing::Test {
  protected:
    sim::ControlOutcome Send(uint8_t type, uint16_t command, uint8_t* data, uint16_t length,
                             uint8_t request = vendor::kRequest) {
        return firmware.HandleControl({type, request, command, 0, length}, data, length);
    }
    bool Write(uint16_t command, std::vector<uint8_t> data = {0}) {
        return !Send(kOut, command, data.data(), static_cast<uint16_t>(data.size())).stall;
    }
    std::vector<uint8_t> Read(uint16_t command, uint16_t length = 64) {
        std::vector<uint8_t> data(length, 0xEE);
        sim::ControlOutcome outcome = Send(kIn, command, data.data(), length);
        data.resize(outcome.stall ? 0 : outcome.length);
        return data;
    }
    uint8_t State() { return Read(vendor::kStatus)[vendor::kStatusStateAt]; }
    void Trigger(uint16_t ms) {
        std::vector<uint8_t> fpga(64, 0);
        platform::StoreBe16(&fpga[vendor::kExposureMsAt], ms);
        ASSERT_TRUE(Write(vendor::kFpga, fpga));
        ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    }
    bool ReadFrame() {
        uint8_t frame[64];
        uint32_t produced = 0;
        return firmware.Fill(0x82, frame, 64, produced);
    }

    std::shared_ptr<sim::SimClock> clock = [] {
        auto frozen = std::make_shared<sim::SimClock>(1.0);
        frozen->Freeze();
        return frozen;
    }();
    sim::CameraFirmware firmware{clock};
};

TEST_F(Firmware, BlocksReadBackAsWrittenAndWhatTheCameraDoesNotUnderstandIsRefused) {
    std::vector<uint8_t> fpga(64), calibration(64);
    std::iota(fpga.begin(), fpga.end(), 0);
    std::iota(calibration.begin(), calibration.end(), 100);
    ASSERT_TRUE(Write(vendor::kFpga, fpga));
    ASSERT_TRUE(Write(vendor::kCalibration, calibration));
    EXPECT_EQ(Read(vendor::kFpgaAlternative), fpga) << "one FPGA block, two forms";
    EXPECT_EQ(Read(vendor::kCalibration), calibration);
    EXPECT_FALSE(Write(vendor::kFpga, std::vector<uint8_t>(63, 1))) << "a partial block";
    EXPECT_EQ(Read(vendor::kFpga), fpga) << "the refused write changed nothing";

    // Clock voltages fill bytes 0-31 and are write-only; offsets fill 32-63.
    ASSERT_TRUE(Write(vendor::kClockVoltages, std::vector<uint8_t>(64, 0x11)));
    ASSERT_TRUE(Write(vendor::kOffsets, std::vector<uint8_t>(64, 0x22)));
    std::vector<uint8_t> held(32, 0x11), answer(32, 0);
    held.resize(64, 0x22);
    answer.resize(64, 0x22);
    EXPECT_EQ(firmware.Block(vendor::kOffsets), held);
    EXPECT_EQ(Read(vendor::kOffsets), answer);

    EXPECT_FALSE(Write(0x0E));
    EXPECT_TRUE(Read(0x0E).empty());
    EXPECT_TRUE(Read(vendor::kHardwareTrigger).empty()) << "commands cannot be read";
    uint8_t byte = 0;
    EXPECT_TRUE(Send(kIn, vendor::kStatus, &byte, 1, 0xAC).stall) << "another request";
    EXPECT_TRUE(Send(0x80, vendor::kStatus, &byte, 1).stall) << "a standard request";
    EXPECT_EQ(Read(vendor::kStatus, 8).size(), 8u);
    EXPECT_EQ(Read(vendor::kStatus, 100).size(), 64u) << "at most one block moves";

    firmware.SetSensorSuffix("_3572");
    EXPECT_STREQ(reinterpret_cast<const char*>(&Read(vendor::kProductInfo)[16]), "VELA2-CCD_3572");
}

TEST_F(Firmware, ExposureEndsOnTheFpgaTimeAndABusyCameraIsNotRetriggered) {
    Trigger(100);
    EXPECT_EQ(State(), vendor::kExposure);
    EXPECT_FALSE(ReadFrame()) << "no frame before readout";
    clock->Advance(60);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    clock->Advance(39);
    EXPECT_EQ(State(), vendor::kExposure);
    clock->Advance(1);
    EXPECT_EQ(State(), vendor::kReadout) << "the exposure was not restarted";
    uint8_t byte = 0;
    uint32_t produced = 7;
    EXPECT_FALSE(firmware.Fill(0x81, &byte, 1, produced)) << "only bulk IN carries frames";
    EXPECT_EQ(produced, 0u);
    ASSERT_TRUE(ReadFrame());
    EXPECT_EQ(State(), vendor::kIdle);
    EXPECT_FALSE(ReadFrame()) << "one frame per exposure";

    // A software trigger replaces a pending external one.
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    EXPECT_EQ(State(), vendor::kWaitForTrigger);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    EXPECT_EQ(State(), vendor::kExposure);
}

}  // namespace
