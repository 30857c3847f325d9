#include <gtest/gtest.h>

#include <chrono>

#include "CameraTestSupport.h"

using namespace cameratest;
using TemperatureTest = CameraTest;

namespace {
std::vector<uint8_t> Record(uint16_t heatSink, uint16_t sensor, uint16_t top, uint16_t bottom) {
    std::vector<uint8_t> record(64);
    uint16_t words[] = {heatSink, sensor, top, bottom};
    for (int w = 0; w < 4; ++w) {
        record[2 * w] = static_cast<uint8_t>(words[w] >> 8);
        record[2 * w + 1] = static_cast<uint8_t>(words[w]);
    }
    for (int i = 8; i < 64; ++i) record[i] = static_cast<uint8_t>(i);
    return record;
}
}  // namespace

TEST_F(TemperatureTest, CountsConvertWithGainAndOffsetAndTheRawCopyIsCappedAt64Bytes) {
    firmware->SetBlock(0x07, Record(29815, 27315, 150, 75));
    auto read = [&](int32_t (CTesselCamera::*get)(double*)) {
        double value = 0;
        EXPECT_EQ((camera.*get)(&value), 0);
        return value;
    };
    EXPECT_NEAR(read(&CTesselCamera::GetHeatSinkTemperature), 25.0, 1e-9);
    EXPECT_NEAR(read(&CTesselCamera::GetCcdTemperature), 0.0, 1e-9);
    EXPECT_NEAR(read(&CTesselCamera::GetTopTecCurrent), 1.5, 1e-12);
    EXPECT_NEAR(read(&CTesselCamera::GetBottomTecCurrent), 0.75, 1e-12);
    camera.TemperatureScale = 0.0;
    EXPECT_NEAR(read(&CTesselCamera::GetHeatSinkTemperature), -273.15, 1e-9);
    // Without a destination the record is still read.
    firmware->ClearLog();
    EXPECT_EQ(camera.GetCcdTemperature(nullptr), 87);
    EXPECT_EQ(firmware->Log().size(), 1u);

    uint8_t buffer[100];
    for (auto [length, last] : {std::pair{100, 63}, {8, 7}}) {
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(camera.UpdateTemperature(buffer, length), 1);
        EXPECT_EQ(buffer[last], last == 63 ? 63 : 75);
        EXPECT_EQ(buffer[last + 1], 0xEE);
    }
    EXPECT_EQ(camera.UpdateTemperature(nullptr, 100), 1);
    camera.UsbDevice.reset();
    EXPECT_EQ(WithStatus(camera.UpdateTemperature(buffer, 100)),
              (Outcome{0, ERROR_TEMP_CONTROL_ENDPOINT_READ}));
}

TEST_F(TemperatureTest, OneFailedReadIsRetriedAfterAPauseTwoAreAnError) {
    firmware->SetBlock(0x07, Record(29815, 0, 0, 0));
    FailNextTransfer();
    double value = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(camera.GetHeatSinkTemperature(&value), 0);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_NEAR(value, 25.0, 1e-9);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 9);

    // Two failures give -49 and leave the value.
    camera.UsbDevice.reset();
    value = 42;
    EXPECT_EQ(camera.GetCcdTemperature(&value), -49);
    EXPECT_EQ(value, 42);
}

TEST_F(TemperatureTest, SetpointReplacesBytesTwoAndThreeOnlyOrFails) {
    firmware->SetBlock(0x04, std::vector<uint8_t>(64, 0x5A));
    EXPECT_EQ(camera.SetTemperatureSetpoint(70000), 0);
    std::vector<uint8_t> expected(64, 0x5A);
    expected[2] = 0x11;
    expected[3] = 0x70;
    EXPECT_EQ(firmware->Block(0x04), expected);
    auto log = firmware->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_TRUE(log[0].read);
    EXPECT_FALSE(log[1].read);

    FailNextTransfer();
    EXPECT_EQ(camera.SetTemperatureSetpoint(100), -49);
}
