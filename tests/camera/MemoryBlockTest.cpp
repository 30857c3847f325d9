#include <gtest/gtest.h>

#include <functional>
#include <numeric>

#include "CameraTestSupport.h"
#include "platform/DebugTrace.h"

using namespace cameratest;
using Commands = std::vector<uint16_t>;

namespace {
class MemoryBlockTest : public CameraTest {
  protected:
    void SetUp() override {
        auto settings = std::make_unique<MapPropertyReader>();
        general = &settings->sections["General Info"];
        *general = {
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

    std::vector<SentRequest> Writes() {
        std::vector<SentRequest> writes;
        for (auto& sent : sim.firmware->Log())
            if (!sent.read) writes.push_back(sent);
        return writes;
    }

    CAbsPropertyReader::StringMap* general = nullptr;
};

std::vector<uint8_t> Pattern(size_t size, uint8_t start) {
    std::vector<uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), start);
    return bytes;
}
}  // namespace

TEST_F(MemoryBlockTest, ShortFpgaDataKeepsTheRestOfTheImage) {
    std::vector<uint8_t> data(10, 0xF0);
    EXPECT_EQ(camera.WriteFpga(data.data(), 10, 0), 1);
    ASSERT_EQ(sim.firmware->WrittenCommands(), Commands{0x01});
    std::vector<uint8_t> expected = Pattern(64, 0);
    std::fill_n(expected.begin(), 10, 0xF0);
    EXPECT_EQ(Writes()[0].data, expected);
    EXPECT_EQ(camera.EpalData[5], 0xF0) << "the image takes the new bytes";

    EXPECT_EQ(camera.WriteFpga(data.data(), 10, 1), 1);
    EXPECT_EQ(sim.firmware->WrittenCommands(), (Commands{0x01, 0x0D}));
}

TEST_F(MemoryBlockTest, ReadBackComparisonLooksAtTheFirst48BytesButByte32) {
    (*general)["Compare FPGA data during initialize?"] = "1";
    struct Case {
        size_t changed;
        bool reported;
    };
    for (Case c : {Case{32, false}, Case{50, false}, Case{5, true}}) {
        // A camera that answers its FPGA block with one byte changed.
        class Altering : public ScriptedFirmware {
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

TEST_F(MemoryBlockTest, VoltageWritesSendAndReplaceTheWholeVoltageBlock) {
    auto data = Pattern(64, 200);
    EXPECT_EQ(camera.WriteOffsets(data.data(), 64), 1);
    EXPECT_EQ(camera.WriteClockVoltages(data.data(), 64), 1);
    ASSERT_EQ(sim.firmware->WrittenCommands(), (Commands{0x02, 0x03}));
    EXPECT_EQ(Writes()[0].data, data);
    EXPECT_EQ(camera.EpalData[64], 200) << "the clock voltages in the image are replaced";
}

TEST_F(MemoryBlockTest, CalibrationAndProductInfoUseAFreshBlock) {
    uint8_t data[4] = {9, 8, 7, 6};
    EXPECT_EQ(camera.WriteCalibration(data, 4), 1);
    EXPECT_EQ(camera.WriteProductInfo(data, 4), 1);
    ASSERT_EQ(sim.firmware->WrittenCommands(), (Commands{0x04, 0x06}));
    std::vector<uint8_t> fresh(64, 0);
    std::copy(data, data + 4, fresh.begin());
    for (auto& write : Writes()) EXPECT_EQ(write.data, fresh);
    EXPECT_EQ(camera.EpalData[128], 128) << "the image is not touched";
}

TEST_F(MemoryBlockTest, ReadsFillTheirPartOfTheImageAndTheCallersBuffer) {
    // Clock voltages come from the image, without traffic.
    uint8_t buffer[64] = {};
    camera.SimulationMode = 1;
    EXPECT_EQ(camera.ReadClockVoltages(buffer, 64), 1);
    EXPECT_EQ(buffer[0], 64);
    EXPECT_EQ(buffer[31], 95);
    EXPECT_EQ(buffer[32], 0);
    EXPECT_TRUE(sim.firmware->Log().empty());
    EXPECT_EQ(camera.ReadClockVoltages(nullptr, 64), 0);

    // Offsets land at offset 32, in the buffer and the image.
    camera.SimulationMode = 0;
    sim.firmware->SetBlock(0x02, Pattern(64, 100));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(camera.ReadOffsets(buffer, 64), 1);
    EXPECT_EQ(buffer[0], 0);
    EXPECT_EQ(buffer[32], 132);
    EXPECT_EQ(buffer[63], 163);
    EXPECT_EQ(camera.EpalData[96], 132);
    // Without a buffer the image is still updated, and the read fails.
    sim.firmware->SetBlock(0x02, Pattern(64, 1));
    EXPECT_EQ(camera.ReadOffsets(nullptr, 64), 0);
    EXPECT_EQ(camera.EpalData[96], 33);

    // A failed read leaves the caller's buffer alone.
    std::memset(buffer, 0xEE, sizeof buffer);
    sim.device->FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
    EXPECT_EQ(camera.ReadCalibration(buffer, 64), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(camera.ReadProductInfo(nullptr, 64), 0);
}

TEST_F(MemoryBlockTest, UploadSendsEnabledBlocksAndStopsAtAMissingKey) {
    auto image = Pattern(192, 0);
    (*general)["Send clock voltage data during initialize?"] = "0";
    general->erase("Send calibration data during initialize?");
    EXPECT_EQ(WithStatus(camera.Upload(image.data(), 192)), (Outcome{0, ERROR_REGISTRY_VALUE}));
    ASSERT_EQ(sim.firmware->WrittenCommands(), (Commands{0x01, 0x02}));
    EXPECT_EQ(Writes()[1].data, Pattern(64, 64));
}

TEST_F(MemoryBlockTest, UploadGoesOnAfterAFailedSend) {
    auto image = Pattern(192, 0);
    sim.device->FailNextTransfer(sim::kUsbStatusStall, sim::kDriverStatusUnsuccessful);
    EXPECT_EQ(camera.Upload(image.data(), 192), 0);
    // The FPGA write failed on the way; the others went.
    ASSERT_EQ(sim.firmware->WrittenCommands(), (Commands{0x03, 0x02, 0x04}));
    EXPECT_EQ(Writes()[2].data, Pattern(64, 128));
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
    // The FPGA block from the camera, the clock voltages from the image, the
    // second half of the camera's offsets block, calibration from the camera.
    std::vector<uint8_t> expected = Pattern(64, 10);
    for (auto part : {Pattern(32, 64), Pattern(32, 112), Pattern(64, 150)})
        expected.insert(expected.end(), part.begin(), part.end());
    EXPECT_EQ(buffer, expected);
}

TEST_F(MemoryBlockTest, WritesOfNoBytesSendNothingAndFailWithStatus2) {
    uint8_t data[192] = {};
    const std::function<int32_t(int32_t)> writes[] = {
        [&](int32_t length) { return camera.WriteFpga(data, length, 0); },
        [&](int32_t length) { return camera.WriteClockVoltages(data, length); },
        [&](int32_t length) { return camera.WriteOffsets(data, length); },
        [&](int32_t length) { return camera.WriteCalibration(data, length); },
        [&](int32_t length) { return camera.WriteProductInfo(data, length); },
        [&](int32_t length) { return camera.Upload(data, length); },
    };
    for (size_t i = 0; i < std::size(writes); ++i) {
        for (int32_t length : {0, -1}) {
            LastStatus().Set(0);
            EXPECT_EQ(WithStatus(writes[i](length)), (Outcome{0, ERROR_UNINITIALIZED_BUFFER}))
                << i << ", " << length;
        }
    }
    EXPECT_TRUE(Writes().empty());
    EXPECT_EQ(camera.EpalData, Pattern(400, 0)) << "the image keeps its blocks";
}

TEST_F(MemoryBlockTest, SettingsThatCannotBeReadRefuseTheWriteWithTheirStatus) {
    general->erase("Compare FPGA data during initialize?");
    auto data = Pattern(192, 0);
    EXPECT_EQ(WithStatus(camera.WriteFpga(data.data(), 64, 0)), (Outcome{0, ERROR_REGISTRY_VALUE}));

    camera.SettingsReader = std::make_unique<ExhaustedPropertyReader>();
    EXPECT_EQ(WithStatus(camera.WriteFpga(data.data(), 64, 0)),
              (Outcome{0, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));
    EXPECT_EQ(WithStatus(camera.Upload(data.data(), 192)),
              (Outcome{0, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));
    EXPECT_TRUE(Writes().empty());
}
