// The simulated camera's firmware as the host meets it: vendor requests on a
// frozen clock, so every exposure ends exactly when the test says.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
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
                             uint8_t request = vendor::kRequest) {
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
        std::vector<uint8_t> status = Read(vendor::kStatus);
        return status.size() == 64 ? status[vendor::kStatusStateAt] : 0;
    }
    void SetExposure(uint16_t ms) {
        std::vector<uint8_t> fpga(64, 0);
        platform::StoreBe16(&fpga[vendor::kExposureMsAt], ms);
        ASSERT_TRUE(Write(vendor::kFpga, fpga));
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
        ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    }
    static uint16_t Word(const std::vector<uint8_t>& record, size_t at) {
        return platform::LoadBe16(&record[at]);
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
    ASSERT_TRUE(Write(vendor::kFpga, fpga));
    ASSERT_TRUE(Write(vendor::kCalibration, calibration));
    ASSERT_TRUE(Write(vendor::kProductInfo, product));
    EXPECT_EQ(Read(vendor::kFpga), fpga);
    EXPECT_EQ(Read(vendor::kFpgaAlternative), fpga) << "one FPGA block, two forms";
    EXPECT_EQ(Read(vendor::kCalibration), calibration);
    EXPECT_EQ(Read(vendor::kProductInfo), product);

    fpga[5] = 0x55;
    ASSERT_TRUE(Write(vendor::kFpgaAlternative, fpga));
    EXPECT_EQ(Read(vendor::kFpga), fpga);
}

TEST_F(Firmware, ClockVoltagesAndOffsetsEachTakeTheirHalfOfTheSharedBlock) {
    auto half = [](const std::vector<uint8_t>& block, int which) {
        return std::vector<uint8_t>(block.begin() + 32 * which, block.begin() + 32 * (which + 1));
    };
    const std::vector<uint8_t> zeros(32, 0), first(32, 0x11), second(32, 0x22);
    ASSERT_TRUE(Write(vendor::kClockVoltages, std::vector<uint8_t>(64, 0x11)));
    ASSERT_TRUE(Write(vendor::kOffsets, std::vector<uint8_t>(64, 0x22)));
    std::vector<uint8_t> held = firmware.Block(vendor::kOffsets);
    EXPECT_EQ(half(held, 0), first);
    EXPECT_EQ(half(held, 1), second);

    // Only the offsets come back, at bytes 32-63.
    std::vector<uint8_t> answer = Read(vendor::kOffsets);
    ASSERT_EQ(answer.size(), 64u);
    EXPECT_EQ(half(answer, 0), zeros);
    EXPECT_EQ(half(answer, 1), second);
}

TEST_F(Firmware, RefusesWhatTheCameraDoesNotUnderstand) {
    std::vector<uint8_t> fpga(64, 7);
    ASSERT_TRUE(Write(vendor::kFpga, fpga));
    EXPECT_FALSE(Write(vendor::kFpga, std::vector<uint8_t>(63, 1))) << "a partial block";
    EXPECT_EQ(Read(vendor::kFpga), fpga) << "the refused write changed nothing";
    EXPECT_FALSE(Write(0x0E));
    EXPECT_TRUE(Read(0x0E).empty());
    EXPECT_TRUE(Read(vendor::kHardwareTrigger).empty()) << "commands cannot be read";
    uint8_t byte = 0;
    EXPECT_TRUE(Send(kIn, vendor::kStatus, &byte, 1, 0xAC).stall) << "another request";
    EXPECT_TRUE(Send(0x80, vendor::kStatus, &byte, 1).stall) << "a standard request";
}

TEST_F(Firmware, ReadsMoveAtMostOneBlockAndAnInjectedShortReadHappensOnce) {
    EXPECT_EQ(Read(vendor::kStatus, 8).size(), 8u);
    EXPECT_EQ(Read(vendor::kStatus, 100).size(), 64u);
    firmware.ShortenControlTransfer(1, 60);
    EXPECT_EQ(Read(vendor::kStatus).size(), 60u);
    EXPECT_EQ(Read(vendor::kStatus).size(), 64u);
}

TEST_F(Firmware, IdentificationAndProductInformation) {
    std::vector<uint8_t> id = Read(vendor::kIdentification);
    ASSERT_EQ(id.size(), 64u);
    EXPECT_EQ(std::string(Text(id, 0), 8), "VELA2FW ");
    EXPECT_STREQ(Text(id, 8), "2.14.0003");
    EXPECT_STREQ(Text(id, 24), "SIM");

    std::vector<uint8_t> product = Read(vendor::kProductInfo);
    EXPECT_STREQ(Text(product, 0), "VELA2-CCD");
    EXPECT_STREQ(Text(product, 16), "VELA2-CCD_5253");
    firmware.SetSensorSuffix("_3572");
    product = Read(vendor::kProductInfo);
    EXPECT_STREQ(Text(product, 16), "VELA2-CCD_3572");
    EXPECT_EQ(product[60], 0) << "the field ends within its 45 bytes";
}

// --- State machine ---------------------------------------------------------

TEST_F(Firmware, SoftwareTriggerExposesForTheFpgaTimeThenReadsOutOnce) {
    SetExposure(100);
    EXPECT_EQ(State(), vendor::kIdle);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    // The trigger is in force before its transfer has completed.
    EXPECT_EQ(State(), vendor::kExposure);

    std::vector<uint8_t> frame(1000);
    EXPECT_FALSE(ReadFrame(frame)) << "no frame before readout";
    clock->Advance(99);
    EXPECT_EQ(State(), vendor::kExposure);
    clock->Advance(1);
    EXPECT_EQ(State(), vendor::kReadout);
    EXPECT_EQ(State(), vendor::kReadout) << "readout lasts until the frame is read";

    ASSERT_TRUE(ReadFrame(frame));
    ASSERT_EQ(frame.size(), 1000u);
    for (uint32_t i = 0; i < 500; ++i)
        ASSERT_EQ(platform::LoadLe16(&frame[2 * i]), sim::FramePixel(i)) << i;
    EXPECT_EQ(State(), vendor::kIdle);
    std::vector<uint8_t> status = Read(vendor::kStatus);
    EXPECT_EQ(platform::LoadBe32(&status[vendor::kStatusFramesReadAt]), 1u) << "frames read";
    EXPECT_FALSE(ReadFrame(frame)) << "one frame per exposure";
}

TEST_F(Firmware, HardwareTriggerWaitsForTheExternalTrigger) {
    SetExposure(10);
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    EXPECT_EQ(State(), vendor::kWaitForTrigger);
    clock->Advance(10000);
    EXPECT_EQ(State(), vendor::kWaitForTrigger) << "time alone does not trigger";
    firmware.FireExternalTrigger();
    EXPECT_EQ(State(), vendor::kExposure);
    clock->Advance(10);
    EXPECT_EQ(State(), vendor::kReadout);
}

TEST_F(Firmware, ASoftwareTriggerReplacesTheExternalOneButNothingRetriggersABusyCamera) {
    SetExposure(50);
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    EXPECT_EQ(State(), vendor::kExposure);
    clock->Advance(30);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    clock->Advance(20);
    EXPECT_EQ(State(), vendor::kReadout) << "the exposure was not restarted";
}

TEST_F(Firmware, BothResetsReturnToIdleAndWithdrawTheFrame) {
    for (uint16_t reset : {vendor::kReset, vendor::kSoftReset}) {
        SetExposure(20);
        ASSERT_TRUE(Write(vendor::kHardwareTrigger));
        ASSERT_TRUE(Write(reset));
        EXPECT_EQ(State(), vendor::kIdle);

        ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
        clock->Advance(20);
        ASSERT_EQ(State(), vendor::kReadout);
        ASSERT_TRUE(Write(reset));
        EXPECT_EQ(State(), vendor::kIdle);
        std::vector<uint8_t> frame(64);
        EXPECT_FALSE(ReadFrame(frame));
    }
}

TEST_F(Firmware, ImageReReadSendsTheLastFrameAgain) {
    ASSERT_TRUE(Write(vendor::kImageReRead));
    EXPECT_EQ(State(), vendor::kIdle) << "nothing to re-read yet";
    Trigger(0);
    std::vector<uint8_t> frame(64);
    ASSERT_TRUE(ReadFrame(frame));
    ASSERT_TRUE(Write(vendor::kImageReRead));
    EXPECT_EQ(State(), vendor::kReadout);
    ASSERT_TRUE(ReadFrame(frame));
    EXPECT_EQ(firmware.FramesRead(), 2u);
}

TEST_F(Firmware, AZeroExposureFrameWaitsInReadoutWhileStalledOrAskedForElsewhere) {
    firmware.StallFrames(true);
    Trigger(0);
    EXPECT_EQ(State(), vendor::kReadout);
    std::vector<uint8_t> frame(64);
    EXPECT_FALSE(ReadFrame(frame)) << "stalled";
    firmware.StallFrames(false);
    uint32_t produced = 7;
    EXPECT_FALSE(firmware.Fill(0x81, frame.data(), 64, produced)) << "only bulk IN carries frames";
    EXPECT_EQ(produced, 0u);
    EXPECT_EQ(State(), vendor::kReadout);
    EXPECT_TRUE(ReadFrame(frame));
}

// --- Temperatures ----------------------------------------------------------

class Thermal : public Firmware {
  protected:
    void SetSetpoint(uint16_t counts) {
        std::vector<uint8_t> calibration = Read(vendor::kCalibration);
        platform::StoreBe16(&calibration[vendor::kSetpointKelvinAt], counts);
        ASSERT_TRUE(Write(vendor::kCalibration, calibration));
    }
    std::vector<uint8_t> Record() { return Read(vendor::kTemperatures); }
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
    EXPECT_EQ(Word(record, vendor::kHeatSinkKelvinAt), 29815);
    EXPECT_EQ(Word(record, vendor::kSensorKelvinAt), 29815);
    EXPECT_EQ(Word(record, vendor::kTopCurrentAt), 0);
    EXPECT_EQ(Word(record, vendor::kBottomCurrentAt), 0);

    SetSetpoint(25315);
    Settled();
    SetSetpoint(32000);
    record = Settled();
    EXPECT_EQ(Word(record, vendor::kTopCurrentAt), 0);
    EXPECT_NEAR(Word(record, vendor::kSensorKelvinAt), 29815, 2);
}

TEST_F(Thermal, SensorApproachesTheSetpointWhileTheCoolersWork) {
    SetSetpoint(25315);  // -20 C
    clock->Advance(CameraFirmware::kTimeConstantMs);
    std::vector<uint8_t> record = Record();
    // One time constant covers about 63 % of the way.
    EXPECT_NEAR(Word(record, vendor::kSensorKelvinAt), 29815 - 0.632 * 4500, 30);
    EXPECT_EQ(Word(record, vendor::kTopCurrentAt), CameraFirmware::kMaxCurrentCounts)
        << "full effort while far off";
    EXPECT_LT(Word(record, vendor::kBottomCurrentAt), Word(record, vendor::kTopCurrentAt));
    EXPECT_GT(Word(record, vendor::kBottomCurrentAt), Word(record, vendor::kTopCurrentAt) * 9 / 10);

    uint16_t previous = Word(record, vendor::kSensorKelvinAt);
    for (int i = 0; i < 10; ++i) {
        clock->Advance(CameraFirmware::kTimeConstantMs);
        uint16_t sensor = Word(Record(), vendor::kSensorKelvinAt);
        EXPECT_LE(sensor, previous);
        EXPECT_GE(sensor, 25315 - 2) << "no overshoot";
        previous = sensor;
    }
    record = Record();
    EXPECT_NEAR(Word(record, vendor::kSensorKelvinAt), 25315, 2);
    // Holding 45 K below ambient takes 45 / 60 of the cooler, plus what the
    // heat sink's own warming (2 K at full effort) adds: e = (45 + 2e) / 60.
    EXPECT_NEAR(Word(record, vendor::kTopCurrentAt),
                45.0 / 58.0 * CameraFirmware::kMaxCurrentCounts, 3);
    EXPECT_NEAR(Word(record, vendor::kHeatSinkKelvinAt), 29815, 200)
        << "the heat sink stays near ambient";
    EXPECT_GT(Word(record, vendor::kHeatSinkKelvinAt), 29815);
}

TEST_F(Thermal, AnUnreachableSetpointStopsAtTheCoolersLimit) {
    SetSetpoint(0);
    std::vector<uint8_t> record = Settled();
    EXPECT_EQ(Word(record, vendor::kTopCurrentAt), CameraFirmware::kMaxCurrentCounts);
    EXPECT_NEAR(Word(record, vendor::kSensorKelvinAt),
                Word(record, vendor::kHeatSinkKelvinAt) - 6000, 2);
}

TEST_F(Thermal, AClockAtScaleZeroConvergesAtOnce) {
    clock->SetScale(0);
    SetSetpoint(25315);
    EXPECT_NEAR(Word(Record(), vendor::kSensorKelvinAt), 25315, 2);
}

// --- Faults ----------------------------------------------------------------

TEST_F(Firmware, TheNthControlTransferFailsWithoutEffect) {
    firmware.FailControlTransfer(2);
    EXPECT_EQ(State(), vendor::kIdle);
    EXPECT_FALSE(Write(vendor::kSoftwareTrigger));
    EXPECT_EQ(State(), vendor::kIdle) << "the refused trigger did nothing";
    EXPECT_TRUE(Write(vendor::kSoftwareTrigger)) << "only one transfer fails";
}

TEST_F(Firmware, AHeldStateIsReportedAndStopsTheExposureClock) {
    SetExposure(10);
    firmware.HoldState(0x40);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    clock->Advance(1000);
    EXPECT_EQ(State(), 0x40);
    std::vector<uint8_t> frame(64);
    EXPECT_FALSE(ReadFrame(frame)) << "never reaches readout while held";
    firmware.ReleaseState();
    EXPECT_EQ(State(), vendor::kReadout);
}

TEST(FramePatternTest, PreparedBytesFollowThePixelFunction) {
    sim::FramePattern pattern;
    const uint8_t* small = pattern.Prepare(10);
    EXPECT_EQ(platform::LoadLe16(&small[0]), sim::FramePixel(0));
    const uint8_t* large = pattern.Prepare(3 * 8192 + 3);
    for (uint32_t i : {0u, 1u, 4095u, 4096u, 12289u})
        EXPECT_EQ(platform::LoadLe16(&large[2 * i]), sim::FramePixel(i)) << i;
    EXPECT_EQ(pattern.Prepare(100), large) << "a smaller frame reuses the pattern";
    EXPECT_NE(sim::FramePixel(0), sim::FramePixel(4096 * 4096 / 7 + 1));
}

}  // namespace
