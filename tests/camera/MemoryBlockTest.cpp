#include <gtest/gtest.h>

#include <functional>

#include "CameraTestSupport.h"
#include "platform/DebugTrace.h"

using namespace cameratest;
using Commands = std::vector<uint16_t>;

namespace {
class MemoryBlockTest : public CameraTest {
  protected:
    void SetUp() override { camera.EpalData = Pattern(400, 0); }
    static std::vector<uint8_t> Join(std::vector<uint8_t> first,
                                     const std::vector<uint8_t>& second) {
        first.insert(first.end(), second.begin(), second.end());
        return first;
    }

    CAbsPropertyReader::StringMap* general = &UseSettings();
};
}  // namespace

TEST_F(MemoryBlockTest, EachWriteSendsItsBlockAndKeepsTheImageAsItsKindSays) {
    std::vector<uint8_t> shortData(10, 0xF0);
    EXPECT_EQ(camera.WriteFpga(shortData.data(), 10, 0), 1);
    EXPECT_EQ(camera.EpalData[5], 0xF0) << "the image takes the new bytes";
    EXPECT_EQ(camera.WriteFpga(shortData.data(), 10, 1), 1);
    auto voltages = Pattern(64, 200);
    EXPECT_EQ(camera.WriteOffsets(voltages.data(), 64), 1);
    EXPECT_EQ(camera.WriteClockVoltages(voltages.data(), 64), 1);
    EXPECT_EQ(camera.EpalData[64], 200) << "the clock voltages in the image are replaced";
    uint8_t small[4] = {9, 8, 7, 6};
    EXPECT_EQ(camera.WriteCalibration(small, 4), 1);
    EXPECT_EQ(camera.WriteProductInfo(small, 4), 1);
    EXPECT_EQ(camera.EpalData[128], 128) << "calibration and product data leave the image";

    ASSERT_EQ(firmware->WrittenCommands(), (Commands{0x01, 0x0D, 0x02, 0x03, 0x04, 0x06}));
    // Short FPGA data keeps the rest of the image's block.
    EXPECT_EQ(firmware->Block(0x01), Join(std::vector<uint8_t>(10, 0xF0), Pattern(54, 10)));
    EXPECT_EQ(firmware->Block(0x02), voltages);
    // Calibration and product information start from a fresh block.
    const auto fresh = Join({9, 8, 7, 6}, std::vector<uint8_t>(60));
    EXPECT_EQ(firmware->Block(0x04), fresh);
    EXPECT_EQ(firmware->Block(0x06), fresh);
}

// The camera changes byte 32 of its FPGA block itself and keeps only 48.
TEST_F(MemoryBlockTest, ReadBackComparisonLooksAtTheFirst48BytesButByte32) {
    (*general)["Compare FPGA data during initialize?"] = "1";
    struct Altering : ScriptedFirmware {
        explicit Altering(size_t at) : at(at) {}
        sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                          uint32_t length) override {
            auto outcome = ScriptedFirmware::HandleControl(setup, data, length);
            if (setup.DeviceToHost() && setup.Value == 0x01) data[at] ^= 0xFF;
            return outcome;
        }
        size_t at;
    };
    for (auto [changed, reported] : {std::pair{32, false}, {50, false}, {5, true}}) {
        device->SetVendorRequestHandler(std::make_shared<Altering>(changed));
        platform::ScopedTraceCapture trace;
        EXPECT_EQ(camera.WriteFpga(camera.EpalData.data(), 64, 0), 1) << changed;
        EXPECT_EQ(trace.Contains("Fails FPGA read-write comparison."), reported) << changed;
    }
}

TEST_F(MemoryBlockTest, ReadsAndTheDownloadFillTheirPartOfTheImageAndTheCallersBuffer) {
    // Clock voltages come from the image, without traffic.
    uint8_t buffer[64] = {};
    camera.SimulationMode = 1;
    EXPECT_EQ(camera.ReadClockVoltages(buffer, 64), 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64),
              Join(Pattern(32, 64), std::vector<uint8_t>(32)));
    EXPECT_TRUE(firmware->Log().empty());
    EXPECT_EQ(camera.ReadClockVoltages(nullptr, 64), 0);

    // Offsets land at offset 32, in the buffer and the image.
    camera.SimulationMode = 0;
    firmware->SetBlock(0x02, Pattern(64, 100));
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(camera.ReadOffsets(buffer, 64), 1);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 64),
              Join(std::vector<uint8_t>(32), Pattern(32, 132)));
    EXPECT_EQ(camera.EpalData[96], 132);
    // Without a buffer the image is still updated, and the read fails.
    firmware->SetBlock(0x02, Pattern(64, 1));
    EXPECT_EQ(camera.ReadOffsets(nullptr, 64), 0);
    EXPECT_EQ(camera.EpalData[96], 33);

    // A failed read leaves the caller's buffer alone.
    std::memset(buffer, 0xEE, sizeof buffer);
    FailNextTransfer();
    EXPECT_EQ(camera.ReadCalibration(buffer, 64), 0);
    EXPECT_EQ(buffer[0], 0xEE);
    EXPECT_EQ(camera.ReadProductInfo(nullptr, 64), 0);

    firmware->SetBlock(0x01, Pattern(64, 10));
    firmware->SetBlock(0x02, Pattern(64, 80));
    firmware->SetBlock(0x04, Pattern(64, 150));
    // The download: the FPGA block from the camera, the clock voltages from
    // the image, the second half of the camera's offsets block, calibration
    // from the camera.
    std::vector<uint8_t> downloaded(192, 0xEE);
    EXPECT_EQ(camera.Download(downloaded.data(), 192), 1);
    EXPECT_EQ(downloaded, Join(Join(Pattern(64, 10), Pattern(32, 64)),
                               Join(Pattern(32, 112), Pattern(64, 150))));
}

TEST_F(MemoryBlockTest, UploadGoesOnAfterAFailedSendAndStopsAtAMissingKey) {
    auto image = Pattern(192, 0);
    FailNextTransfer();
    EXPECT_EQ(camera.Upload(image.data(), 192), 0);
    // The FPGA write failed on the way; the others went.
    ASSERT_EQ(firmware->WrittenCommands(), (Commands{0x03, 0x02, 0x04}));
    EXPECT_EQ(firmware->Block(0x04), Pattern(64, 128));

    firmware->ClearLog();
    firmware->SetBlock(0x02, {});
    (*general)["Send clock voltage data during initialize?"] = "0";
    general->erase("Send calibration data during initialize?");
    EXPECT_EQ(WithStatus(camera.Upload(image.data(), 192)), (Outcome{0, ERROR_REGISTRY_VALUE}));
    ASSERT_EQ(firmware->WrittenCommands(), (Commands{0x01, 0x02}));
    EXPECT_EQ(firmware->Block(0x02), Pattern(64, 64));
}

// Nothing is sent for writes of no bytes (status 2), missing or short
// buffers, or settings that cannot be read (their status).
TEST_F(MemoryBlockTest, WritesOfNoBytesMissingOrShortBuffersAndUnreadableSettingsSendNothing) {
    std::vector<uint8_t> small(100);
    EXPECT_EQ(camera.Upload(nullptr, 192), 0);
    EXPECT_EQ(camera.Upload(small.data(), 100), 0);
    EXPECT_EQ(camera.Download(nullptr, 192), 0);
    EXPECT_EQ(camera.Download(small.data(), 100), 0);

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
    EXPECT_EQ(camera.EpalData, Pattern(400, 0)) << "the image keeps its blocks";

    // A write whose setting is missing, or whose reader ran out of memory.
    general->erase("Compare FPGA data during initialize?");
    EXPECT_EQ(WithStatus(camera.WriteFpga(data, 64, 0)), (Outcome{0, ERROR_REGISTRY_VALUE}));
    camera.SettingsReader = std::make_unique<ExhaustedPropertyReader>();
    EXPECT_EQ(WithStatus(camera.WriteFpga(data, 64, 0)),
              (Outcome{0, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));
    EXPECT_EQ(WithStatus(camera.Upload(data, 192)),
              (Outcome{0, ERROR_INCORRECT_IMAGE_BUFFER_SIZE}));
    EXPECT_TRUE(firmware->Log().empty());
}
