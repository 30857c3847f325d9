#include <gtest/gtest.h>

#include <numeric>

#include "CameraTestSupport.h"
#include "platform/DebugTrace.h"

using cameratest::MapPropertyReader;
using cameratest::SimulatedCamera;

namespace {
class MemoryBlockTest : public ::testing::Test {
protected:
    void SetUp() override {
        auto settings = std::make_unique<MapPropertyReader>();
        reader = settings.get();
        reader->sections["General Info"] = {
            {"Compare FPGA data during initialize?", "0"},
            {"Send FPGA data during initialize?", "1"},
            {"Send clock voltage data during initialize?", "1"},
            {"Send offset DAC data during initialize?", "1"},
            {"Send calibration data during initialize?", "1"},
        };
        camera.SettingsReader = std::move(settings);
        camera.EpalData.resize(400);
        std::iota(camera.EpalData.begin(), camera.EpalData.end(), 0);
    }

    void Set(const char* key, const char* value) { reader->sections["General Info"][key] = value; }

    std::vector<cameratest::SentRequest> Writes() {
        std::vector<cameratest::SentRequest> writes;
        for (auto& sent : sim.firmware->Log())
            if (!sent.read) writes.push_back(sent);
        return writes;
    }

    CTesselCamera camera;
    SimulatedCamera sim{camera};
    MapPropertyReader* reader = nullptr;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t start) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(start + i);
    return bytes;
}
}  // namespace

TEST_F(MemoryBlockTest, ShortFpgaDataKeepsTheRestOfTheImage) {
    std::vector<uint8_t> data(10, 0xF0);
    EXPECT_EQ(camera.WriteFpga(data.data(), 10, 0), 1);
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, 0x01);
    ASSERT_EQ(writes[0].data.size(), 64u);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(writes[0].data[i], 0xF0);
    for (int i = 10; i < 64; ++i) EXPECT_EQ(writes[0].data[i], i);
    EXPECT_EQ(camera.EpalData[5], 0xF0) << "the image takes the new bytes";

    EXPECT_EQ(camera.WriteFpga(data.data(), 10, 1), 1);
    EXPECT_EQ(Writes()[1].value, 0x0D);
}

TEST_F(MemoryBlockTest, ReadBackComparisonLooksAtTheFirst48BytesButByte32) {
    Set("Compare FPGA data during initialize?", "1");
    struct Case {
        size_t changed;
        bool reported;
    };
    for (Case c : {Case{32, false}, Case{50, false}, Case{5, true}}) {
        // A camera that answers its FPGA block with one byte changed.
        class Altering : public cameratest::ScriptedFirmware {
        public:
            explicit Altering(size_t at) : at_(at) {}
            sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                              uint32_t length) override {
                auto outcome = ScriptedFirmware::HandleControl(setup, data, length);
                if (setup.DeviceToHost() && setup.Value == 0x01) data[at_] ^= 0xFF;
                return outcome;
            }

        private:
            size_t at_;
        };
        sim.device->SetVendorRequestHandler(std::make_shared<Altering>(c.changed));
        platform::ScopedTraceCapture trace;
        EXPECT_EQ(camera.WriteFpga(camera.EpalData.data(), 64, 0), 1) << c.changed;
        EXPECT_EQ(trace.Contains("Fails FPGA read-write comparison."), c.reported) << c.changed;
    }
}

TEST_F(MemoryBlockTest, MissingCompareSettingRefusesTheWrite) {
    reader->sections["General Info"].erase("Compare FPGA data during initialize?");
    uint8_t data[64] = {};
    EXPECT_EQ(camera.WriteFpga(data, 64, 0), 0);
    EXPECT_EQ(LastStatus().Get(), -40);
    EXPECT_TRUE(Writes().empty());
}

TEST_F(MemoryBlockTest, OffsetsWriteSendsAndReplacesTheWholeVoltageBlock) {
    auto data = Pattern(64, 200);
    EXPECT_EQ(camera.WriteOffsets(data.data(), 64), 1);
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].value, 0x02);
    EXPECT_EQ(writes[0].data, data);
    EXPECT_EQ(camera.EpalData[64], 200) << "the clock voltages in the image are replaced";

    EXPECT_EQ(camera.WriteClockVoltages(data.data(), 64), 1);
    EXPECT_EQ(Writes()[1].value, 0x03);
}

TEST_F(MemoryBlockTest, CalibrationAndProductInfoUseAFreshBlock) {
    uint8_t data[4] = {9, 8, 7, 6};
    EXPECT_EQ(camera.WriteCalibration(data, 4), 1);
    EXPECT_EQ(camera.WriteProductInfo(data, 4), 1);
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, 0x04);
    EXPECT_EQ(writes[1].value, 0x06);
    for (auto& write : writes) {
        EXPECT_EQ(write.data[3], 6);
        EXPECT_EQ(write.data[4], 0);
        EXPECT_EQ(write.data[63], 0);
    }
    EXPECT_EQ(camera.EpalData[128], 128) << "the image is not touched";
}

TEST_F(MemoryBlockTest, ClockVoltagesAreReadFromTheImageWithoutTraffic) {
    uint8_t buffer[64] = {};
    camera.SimulationMode = 1;
    EXPECT_EQ(camera.ReadClockVoltages(buffer, 64), 1);
    EXPECT_EQ(buffer[0], 64);
    EXPECT_EQ(buffer[31], 95);
    EXPECT_EQ(buffer[32], 0);
    EXPECT_TRUE(sim.firmware->Log().empty());
    EXPECT_EQ(camera.ReadClockVoltages(nullptr, 64), 0);
}

TEST_F(MemoryBlockTest, OffsetsReadLandsAtOffset32) {
    sim.firmware->SetBlock(0x02, Pattern(64, 100));
    uint8_t buffer[64] = {};
    EXPECT_EQ(camera.ReadOffsets(buffer, 64), 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[32], 132);
    EXPECT_EQ(buffer[63], 163);
    EXPECT_EQ(camera.EpalData[96], 132);
    // Without a buffer the image is still updated, and the read fails.
    sim.firmware->SetBlock(0x02, Pattern(64, 1));
    EXPECT_EQ(camera.ReadOffsets(nullptr, 64), 0);
    EXPECT_EQ(camera.EpalData[96], 33);
}

TEST_F(MemoryBlockTest, FailedReadLeavesTheCallersBufferAlone) {
    uint8_t buffer[64];
    std::memset(buffer, 0xEE, sizeof buffer);
    sim.device->FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
    EXPECT_EQ(camera.ReadCalibration(buffer, 64), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(camera.ReadProductInfo(nullptr, 64), 0);
}

TEST_F(MemoryBlockTest, UploadSendsEnabledBlocksAndStopsAtAMissingKey) {
    auto image = Pattern(192, 0);
    Set("Send clock voltage data during initialize?", "0");
    reader->sections["General Info"].erase("Send calibration data during initialize?");
    EXPECT_EQ(camera.Upload(image.data(), 192), 0);
    EXPECT_EQ(LastStatus().Get(), -40);
    auto writes = Writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].value, 0x01);
    EXPECT_EQ(writes[1].value, 0x02);
    EXPECT_EQ(writes[1].data, Pattern(64, 64));
}

TEST_F(MemoryBlockTest, UploadGoesOnAfterAFailedSend) {
    auto image = Pattern(192, 0);
    sim.device->FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
    EXPECT_EQ(camera.Upload(image.data(), 192), 0);
    auto writes = Writes();  // the FPGA write failed on the way; the others went
    ASSERT_EQ(writes.size(), 3u);
    EXPECT_EQ(writes[0].value, 0x03);
    EXPECT_EQ(writes[2].value, 0x04);
    EXPECT_EQ(writes[2].data, Pattern(64, 128));
}

TEST_F(MemoryBlockTest, UploadAndDownloadRefuseShortOrMissingBuffers) {
    std::vector<uint8_t> small(100);
    EXPECT_EQ(camera.Upload(nullptr, 192), 0);
    EXPECT_EQ(camera.Upload(small.data(), 100), 0);
    EXPECT_EQ(camera.Download(nullptr, 192), 0);
    EXPECT_EQ(camera.Download(small.data(), 100), 0);
    EXPECT_TRUE(sim.firmware->Log().empty());
}

TEST_F(MemoryBlockTest, DownloadFillsTheFourRangesFromTheirSources) {
    sim.firmware->SetBlock(0x01, Pattern(64, 10));
    sim.firmware->SetBlock(0x02, Pattern(64, 80));
    sim.firmware->SetBlock(0x04, Pattern(64, 150));
    std::vector<uint8_t> buffer(192, 0xEE);
    EXPECT_EQ(camera.Download(buffer.data(), 192), 1);
    EXPECT_EQ(buffer[0], 10);     // FPGA block from the camera
    EXPECT_EQ(buffer[63], 73);
    EXPECT_EQ(buffer[64], 64);    // clock voltages from the image
    EXPECT_EQ(buffer[95], 95);
    EXPECT_EQ(buffer[96], 112);   // offsets: second half of the camera's block
    EXPECT_EQ(buffer[127], 143);
    EXPECT_EQ(buffer[128], 150);  // calibration from the camera
    EXPECT_EQ(buffer[191], 213);
}
