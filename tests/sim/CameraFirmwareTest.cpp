// The simulated camera's firmware as the host meets it: vendor requests on a
// frozen clock, so every exposure ends exactly when the test says.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "sim/CameraFirmware.h"
#include "sim/FramePattern.h"

namespace {

using sim::CameraFirmware;

constexpr uint8_t kOut = 0x40;  // vendor, device, host to device
constexpr uint8_t kIn = 0xC0;

class Firmware : public ::testing::Test {
  protected:
    static std::shared_ptr<sim::SimClock> FrozenClock() {
        auto clock = std::make_shared<sim::SimClock>(1.0);
        clock->Freeze();
        return clock;
    }

    sim::ControlOutcome Send(uint8_t type, uint16_t command, uint8_t* data, uint16_t length,
                             uint8_t request = CameraFirmware::kVendorRequest) {
        sim::SetupPacket setup{type, request, command, 0, length};
        return firmware.HandleControl(setup, data, length);
    }
    bool Write(uint16_t command, std::vector<uint8_t> data = {0}) {
        return !Send(kOut, command, data.data(), static_cast<uint16_t>(data.size())).stall;
    }
    std::vector<uint8_t> Read(uint16_t command, uint16_t length = 64) {
        std::vector<uint8_t> data(length, 0xEE);
        sim::ControlOutcome outcome = Send(kIn, command, data.data(), length);
        if (outcome.stall) return {};
        data.resize(outcome.length);
        return data;
    }
    uint8_t State() {
        std::vector<uint8_t> status = Read(CameraFirmware::kStatus);
        return status.size() == 64 ? status[CameraFirmware::kStateByte] : 0;
    }
    void SetExposure(uint16_t ms) {
        std::vector<uint8_t> fpga(64, 0);
        fpga[56] = static_cast<uint8_t>(ms >> 8);
        fpga[57] = static_cast<uint8_t>(ms);
        ASSERT_TRUE(Write(CameraFirmware::kFpga, fpga));
    }
    bool ReadFrame(std::vector<uint8_t>& frame) {
        uint32_t produced = 0;
        bool ready =
            firmware.Fill(0x82, frame.data(), static_cast<uint32_t>(frame.size()), produced);
        if (ready) frame.resize(produced);
        return ready;
    }
    void Trigger(uint16_t ms) {
        SetExposure(ms);
        ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
    }
    static uint16_t Word(const std::vector<uint8_t>& record, size_t at) {
        return static_cast<uint16_t>((record[at] << 8) | record[at + 1]);
    }
    static const char* Text(const std::vector<uint8_t>& block, size_t at) {
        return reinterpret_cast<const char*>(&block[at]);
    }

    std::shared_ptr<sim::SimClock> clock = FrozenClock();
    CameraFirmware firmware{clock};
};

// --- Memory blocks ---------------------------------------------------------

TEST_F(Firmware, BlocksReadBackAsWritten) {
    std::vector<uint8_t> fpga(64), calibration(64), product(64);
    std::iota(fpga.begin(), fpga.end(), 0);
    std::iota(calibration.begin(), calibration.end(), 100);
    std::iota(product.begin(), product.end(), 32);  // printable text
    ASSERT_TRUE(Write(CameraFirmware::kFpga, fpga));
    ASSERT_TRUE(Write(CameraFirmware::kCalibration, calibration));
    ASSERT_TRUE(Write(CameraFirmware::kProductInfo, product));
    EXPECT_EQ(Read(CameraFirmware::kFpga), fpga);
    EXPECT_EQ(Read(CameraFirmware::kFpgaAlternative), fpga) << "one FPGA block, two forms";
    EXPECT_EQ(Read(CameraFirmware::kCalibration), calibration);
    EXPECT_EQ(Read(CameraFirmware::kProductInfo), product);

    fpga[5] = 0x55;
    ASSERT_TRUE(Write(CameraFirmware::kFpgaAlternative, fpga));
    EXPECT_EQ(Read(CameraFirmware::kFpga), fpga);
}

TEST_F(Firmware, ClockVoltagesAndOffsetsEachTakeTheirHalfOfTheSharedBlock) {
    auto half = [](const std::vector<uint8_t>& block, int which) {
        return std::vector<uint8_t>(block.begin() + 32 * which, block.begin() + 32 * (which + 1));
    };
    const std::vector<uint8_t> zeros(32, 0), first(32, 0x11), second(32, 0x22);
    ASSERT_TRUE(Write(CameraFirmware::kClockVoltages, std::vector<uint8_t>(64, 0x11)));
    ASSERT_TRUE(Write(CameraFirmware::kOffsets, std::vector<uint8_t>(64, 0x22)));
    std::vector<uint8_t> held = firmware.Block(CameraFirmware::kOffsets);
    EXPECT_EQ(half(held, 0), first);
    EXPECT_EQ(half(held, 1), second);

    // Only the offsets come back, at bytes 32-63.
    std::vector<uint8_t> answer = Read(CameraFirmware::kOffsets);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(half(answer, 0), zeros);
    EXPECT_EQ(half(answer, 1), second);
}

TEST_F(Firmware, RefusesWhatTheCameraDoesNotUnderstand) {
    std::vector<uint8_t> fpga(64, 7);
    ASSERT_TRUE(Write(CameraFirmware::kFpga, fpga));
    EXPECT_FALSE(Write(CameraFirmware::kFpga, std::vector<uint8_t>(63, 1))) << "a partial block";
    EXPECT_EQ(Read(CameraFirmware::kFpga), fpga) << "the refused write changed nothing";
    EXPECT_FALSE(Write(0x0E));
    EXPECT_TRUE(Read(0x0E).empty());
    EXPECT_TRUE(Read(CameraFirmware::kHardwareTrigger).empty()) << "commands cannot be read";
    uint8_t byte = 0;
    EXPECT_TRUE(Send(kIn, CameraFirmware::kStatus, &byte, 1, 0xAC).stall) << "another request";
    EXPECT_TRUE(Send(0x80, CameraFirmware::kStatus, &byte, 1).stall) << "a standard request";
}

TEST_F(Firmware, ReadsMoveAtMostOneBlockAndAnInjectedShortReadHappensOnce) {
    EXPECT_EQ(Read(CameraFirmware::kStatus, 8).size(), 8u);
    EXPECT_EQ(Read(CameraFirmware::kStatus, 100).size(), 64u);
    firmware.ShortenControlTransfer(1, 60);
    EXPECT_EQ(Read(CameraFirmware::kStatus).size(), 60u);
    EXPECT_EQ(Read(CameraFirmware::kStatus).size(), 64u);
}

TEST_F(Firmware, IdentificationAndProductInformation) {
    std::vector<uint8_t> id = Read(CameraFirmware::kIdentification);
    ASSERT_EQ(id.size(), 64u);
    EXPECT_EQ(std::string(Text(id, 0), 8), "VELA2FW ");
    EXPECT_STREQ(Text(id, 8), "2.14.0003");
    EXPECT_STREQ(Text(id, 24), "SIM");

    std::vector<uint8_t> product = Read(CameraFirmware::kProductInfo);
    EXPECT_STREQ(Text(product, 0), "VELA2-CCD");
    EXPECT_STREQ(Text(product, 16), "VELA2-CCD_5253");
    firmware.SetSensorSuffix("_3572");
    product = Read(CameraFirmware::kProductInfo);
    EXPECT_STREQ(Text(product, 16), "VELA2-CCD_3572");
    EXPECT_EQ(product[60], 0) << "the field ends within its 45 bytes";
}

// --- State machine ---------------------------------------------------------

TEST_F(Firmware, SoftwareTriggerExposesForTheFpgaTimeThenReadsOutOnce) {
    SetExposure(100);
    EXPECT_EQ(State(), CameraFirmware::kIdle);
    ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
    // The trigger is in force before its transfer has completed.
    EXPECT_EQ(State(), CameraFirmware::kExposure);

    std::vector<uint8_t> frame(1000);
    EXPECT_FALSE(ReadFrame(frame)) << "no frame before readout";
    clock->Advance(99);
    EXPECT_EQ(State(), CameraFirmware::kExposure);
    clock->Advance(1);
    EXPECT_EQ(State(), CameraFirmware::kReadout);
    EXPECT_EQ(State(), CameraFirmware::kReadout) << "readout lasts until the frame is read";

    ASSERT_TRUE(ReadFrame(frame));
    ASSERT_EQ(frame.size(), 1000u);
    for (uint32_t i = 0; i < 500; ++i)
        ASSERT_EQ(frame[2 * i] | (frame[2 * i + 1] << 8), sim::FramePixel(i)) << i;
    EXPECT_EQ(State(), CameraFirmware::kIdle);
    std::vector<uint8_t> status = Read(CameraFirmware::kStatus);
    EXPECT_EQ(status[7], 1) << "frames read";
    EXPECT_FALSE(ReadFrame(frame)) << "one frame per exposure";
}

TEST_F(Firmware, HardwareTriggerWaitsForTheExternalTrigger) {
    SetExposure(10);
    ASSERT_TRUE(Write(CameraFirmware::kHardwareTrigger));
    EXPECT_EQ(State(), CameraFirmware::kWaitForTrigger);
    clock->Advance(10000);
    EXPECT_EQ(State(), CameraFirmware::kWaitForTrigger) << "time alone does not trigger";
    firmware.FireExternalTrigger();
    EXPECT_EQ(State(), CameraFirmware::kExposure);
    clock->Advance(10);
    EXPECT_EQ(State(), CameraFirmware::kReadout);
}

TEST_F(Firmware, ASoftwareTriggerReplacesTheExternalOneButNothingRetriggersABusyCamera) {
    SetExposure(50);
    ASSERT_TRUE(Write(CameraFirmware::kHardwareTrigger));
    ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
    EXPECT_EQ(State(), CameraFirmware::kExposure);
    clock->Advance(30);
    ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
    ASSERT_TRUE(Write(CameraFirmware::kHardwareTrigger));
    clock->Advance(20);
    EXPECT_EQ(State(), CameraFirmware::kReadout) << "the exposure was not restarted";
}

TEST_F(Firmware, BothResetsReturnToIdleAndWithdrawTheFrame) {
    for (uint16_t reset : {CameraFirmware::kResetNonzero, CameraFirmware::kResetZero}) {
        SetExposure(20);
        ASSERT_TRUE(Write(CameraFirmware::kHardwareTrigger));
        ASSERT_TRUE(Write(reset));
        EXPECT_EQ(State(), CameraFirmware::kIdle);

        ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
        clock->Advance(20);
        ASSERT_EQ(State(), CameraFirmware::kReadout);
        ASSERT_TRUE(Write(reset));
        EXPECT_EQ(State(), CameraFirmware::kIdle);
        std::vector<uint8_t> frame(64);
        EXPECT_FALSE(ReadFrame(frame));
    }
}

TEST_F(Firmware, ImageReReadSendsTheLastFrameAgain) {
    ASSERT_TRUE(Write(CameraFirmware::kImageReRead));
    EXPECT_EQ(State(), CameraFirmware::kIdle) << "nothing to re-read yet";
    Trigger(0);
    std::vector<uint8_t> frame(64);
    ASSERT_TRUE(ReadFrame(frame));
    ASSERT_TRUE(Write(CameraFirmware::kImageReRead));
    EXPECT_EQ(State(), CameraFirmware::kReadout);
    ASSERT_TRUE(ReadFrame(frame));
    EXPECT_EQ(firmware.FramesRead(), 2u);
}

TEST_F(Firmware, AZeroExposureFrameWaitsInReadoutWhileStalledOrAskedForElsewhere) {
    firmware.StallFrames(true);
    Trigger(0);
    EXPECT_EQ(State(), CameraFirmware::kReadout);
    std::vector<uint8_t> frame(64);
    EXPECT_FALSE(ReadFrame(frame)) << "stalled";
    firmware.StallFrames(false);
    uint32_t produced = 7;
    EXPECT_FALSE(firmware.Fill(0x81, frame.data(), 64, produced)) << "only bulk IN carries frames";
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(State(), CameraFirmware::kReadout);
    EXPECT_TRUE(ReadFrame(frame));
}

// --- Temperatures ----------------------------------------------------------

class Thermal : public Firmware {
  protected:
    void SetSetpoint(uint16_t counts) {
        std::vector<uint8_t> calibration = Read(CameraFirmware::kCalibration);
        calibration[2] = static_cast<uint8_t>(counts >> 8);
        calibration[3] = static_cast<uint8_t>(counts);
        ASSERT_TRUE(Write(CameraFirmware::kCalibration, calibration));
    }
    std::vector<uint8_t> Record() { return Read(CameraFirmware::kTemperatures); }
    // The record once cooler and heat sink have settled; the heat sink
    // settles one step behind the sensor.
    std::vector<uint8_t> Settled() {
        clock->Advance(100 * CameraFirmware::kTimeConstantMs);
        Record();
        clock->Advance(100 * CameraFirmware::kTimeConstantMs);
        return Record();
    }
};

TEST_F(Thermal, TheCoolersAreOffAtAmbientAndForASetpointAboveTheHeatSink) {
    clock->Advance(CameraFirmware::kTimeConstantMs);
    std::vector<uint8_t> record = Record();
    EXPECT_EQ(Word(record, 0), 29815);
    EXPECT_EQ(Word(record, 2), 29815);
    EXPECT_EQ(Word(record, 4), 0);
    EXPECT_EQ(Word(record, 6), 0);

    SetSetpoint(25315);
    Settled();
    SetSetpoint(32000);
    record = Settled();
    EXPECT_EQ(Word(record, 4), 0);
    EXPECT_NEAR(Word(record, 2), 29815, 2);
}

TEST_F(Thermal, SensorApproachesTheSetpointWhileTheCoolersWork) {
    SetSetpoint(25315);  // -20 C
    clock->Advance(CameraFirmware::kTimeConstantMs);
    std::vector<uint8_t> record = Record();
    // One time constant covers about 63 % of the way.
    EXPECT_NEAR(Word(record, 2), 29815 - 0.632 * 4500, 30);
    EXPECT_EQ(Word(record, 4), CameraFirmware::kMaxCurrentCounts) << "full effort while far off";
    EXPECT_LT(Word(record, 6), Word(record, 4));
    EXPECT_GT(Word(record, 6), Word(record, 4) * 9 / 10);

    uint16_t previous = Word(record, 2);
    for (int i = 0; i < 10; ++i) {
        clock->Advance(CameraFirmware::kTimeConstantMs);
        uint16_t sensor = Word(Record(), 2);
        EXPECT_LE(sensor, previous);
        EXPECT_GE(sensor, 25315 - 2) << "no overshoot";
        previous = sensor;
    }
    record = Record();
    EXPECT_NEAR(Word(record, 2), 25315, 2);
    // Holding 45 K below ambient takes 45 / 60 of the cooler, plus what the
    // heat sink's own warming (2 K at full effort) adds: e = (45 + 2e) / 60.
    EXPECT_NEAR(Word(record, 4), 45.0 / 58.0 * CameraFirmware::kMaxCurrentCounts, 3);
    EXPECT_NEAR(Word(record, 0), 29815, 200) << "the heat sink stays near ambient";
    EXPECT_GT(Word(record, 0), 29815);
}

TEST_F(Thermal, AnUnreachableSetpointStopsAtTheCoolersLimit) {
    SetSetpoint(0);
    std::vector<uint8_t> record = Settled();
    EXPECT_EQ(Word(record, 4), CameraFirmware::kMaxCurrentCounts);
    EXPECT_NEAR(Word(record, 2), Word(record, 0) - 6000, 2);
}

TEST_F(Thermal, AClockAtScaleZeroConvergesAtOnce) {
    clock->SetScale(0);
    SetSetpoint(25315);
    EXPECT_NEAR(Word(Record(), 2), 25315, 2);
}

// --- Faults ----------------------------------------------------------------

TEST_F(Firmware, TheNthControlTransferFailsWithoutEffect) {
    firmware.FailControlTransfer(2);
    EXPECT_EQ(State(), CameraFirmware::kIdle);
    EXPECT_FALSE(Write(CameraFirmware::kSoftwareTrigger));
    EXPECT_EQ(State(), CameraFirmware::kIdle) << "the refused trigger did nothing";
    EXPECT_TRUE(Write(CameraFirmware::kSoftwareTrigger)) << "only one transfer fails";
}

TEST_F(Firmware, AHeldStateIsReportedAndStopsTheExposureClock) {
    SetExposure(10);
    firmware.HoldState(0x40);
    ASSERT_TRUE(Write(CameraFirmware::kSoftwareTrigger));
    clock->Advance(1000);
    EXPECT_EQ(State(), 0x40);
    std::vector<uint8_t> frame(64);
    EXPECT_FALSE(ReadFrame(frame)) << "never reaches readout while held";
    firmware.ReleaseState();
    EXPECT_EQ(State(), CameraFirmware::kReadout);
}

TEST(FramePatternTest, PreparedBytesFollowThePixelFunction) {
    sim::FramePattern pattern;
    const uint8_t* small = pattern.Prepare(10);
    EXPECT_EQ(small[0] | (small[1] << 8), sim::FramePixel(0));
    const uint8_t* large = pattern.Prepare(3 * 8192 + 3);
    for (uint32_t i : {0u, 1u, 4095u, 4096u, 12289u})
        EXPECT_EQ(large[2 * i] | (large[2 * i + 1] << 8), sim::FramePixel(i)) << i;
    EXPECT_EQ(pattern.Prepare(100), large) << "a smaller frame reuses the pattern";
    EXPECT_NE(sim::FramePixel(0), sim::FramePixel(4096 * 4096 / 7 + 1));
}

}  // namespace
