#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "CameraTestSupport.h"
#include "platform/DebugTrace.h"

using namespace cameratest;

namespace {
class VendorRequestTest : public CameraTest {
  protected:
    // Each request the camera saw: direction, request, value, index (hex)
    // and length.
    std::vector<std::string> Sent() {
        std::vector<std::string> sent;
        char text[40];
        for (const SentRequest& r : firmware->Log()) {
            std::snprintf(text, sizeof text, "%c %X %X %X %zu", r.read ? 'r' : 'w', r.request,
                          r.value, r.index, r.read ? size_t{64} : r.data.size());
            sent.push_back(text);
        }
        return sent;
    }
};
}  // namespace

TEST_F(VendorRequestTest, ControlTransfersCarryTheCommandAndFailuresGiveTheirStatus) {
    uint8_t buffer[64] = {};
    for (auto [data, length] : {std::pair<uint8_t*, int32_t>{buffer, 0}, {nullptr, 1}})
        EXPECT_EQ(WithStatus(camera.ControlWrite(0x0B, data, length)),
                  (Outcome{0, ERROR_UNINITIALIZED_BUFFER}));
    EXPECT_TRUE(firmware->Log().empty()) << "a write of nothing sends nothing";
    ASSERT_EQ(camera.ControlWrite(0x0B, buffer, 1), 1);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"w AB B 0 1"}));

    // A short answer fails and keeps what arrived.
    firmware->SetBlock(0x05, Pattern(64, 1));
    device->ShortenNextTransfer(60);
    std::memset(buffer, 0xEE, sizeof buffer);
    platform::ScopedTraceCapture trace;
    EXPECT_EQ(WithStatus(camera.ControlRead(0x05, buffer, 64)),
              (Outcome{0, ERROR_CONTROL_ENDPOINT_READ}));
    EXPECT_TRUE(trace.Contains("Error reading from control endpoint - invalid length."));
    for (int i = 0; i < 64; ++i) ASSERT_EQ(buffer[i], i < 60 ? i + 1 : 0) << i;

    FailNextTransfer();
    EXPECT_EQ(WithStatus(camera.ControlRead(0x05, buffer, 64)),
              (Outcome{0, ERROR_CONTROL_ENDPOINT_READ}));
    camera.UsbDevice.reset();
    EXPECT_EQ(WithStatus(camera.ControlRead(0x05, buffer, 64)), (Outcome{0, INVALID_USB_DEVICE}));
    EXPECT_EQ(WithStatus(camera.ControlWrite(0x0B, buffer, 1)), (Outcome{0, INVALID_USB_DEVICE}));
}

TEST_F(VendorRequestTest, RawRequestTextsFollowTheirPrefixRulesAndBadOnesSendNothing) {
    uint8_t data[1] = {0};
    EXPECT_EQ(camera.WriteVendorRequest("0xAB", "0x0b", "0", data, 1), 1);
    EXPECT_EQ(camera.WriteVendorRequest("171", "0X0B", "0", data, 1), 1);
    EXPECT_EQ(camera.WriteVendorRequest("0XAB", "12", "0x10", data, 1), 1);
    // The upper-case prefix is recognised in the request code, not in the value.
    EXPECT_EQ(Sent(), (std::vector<std::string>{"w AB B 0 1", "w AB 0 0 1", "w AB C 10 1"}));
    firmware->SetBlock(0x06, {1, 2, 3, 4});
    uint8_t answer[64] = {};
    EXPECT_EQ(camera.ReadVendorRequest("0xAB", "0x06", "0", answer, 64), 1);
    EXPECT_EQ(answer[3], 4);

    // Overflowing numbers, simulation and an uninitialized camera send nothing.
    firmware->ClearLog();
    platform::ScopedTraceCapture trace;
    EXPECT_EQ(camera.WriteVendorRequest("0x7fffffff", "0x0b", "0", data, 1), 0);
    EXPECT_EQ(camera.ReadVendorRequest("0xAB", "0xffffffffff", "0", data, 1), 0);
    EXPECT_TRUE(trace.Contains("Error with HexToDecimal."));
    camera.SimulationMode = 1;
    EXPECT_EQ(camera.WriteVendorRequest("0xAB", "0x0b", "0", data, 1), 1);
    EXPECT_EQ(camera.ReadVendorRequest("0xAB", "0x05", "0", data, 1), 1);
    EXPECT_TRUE(firmware->Log().empty());
    camera.Initialized = 0;
    EXPECT_EQ(camera.WriteVendorRequest("0xAB", "0x0b", "0", data, 1), 0);
}

TEST_F(VendorRequestTest, ResetSendsItsCommandAndRequestsAbortEvenWhenItFails) {
    camera.AbortRequested = 0;
    LastStatus().Set(-1);
    EXPECT_EQ(WithStatus(camera.Reset(1)), (Outcome{1, 0}));
    EXPECT_EQ(camera.AbortRequested.load(), 1);
    EXPECT_EQ(camera.Reset(0), 1);
    EXPECT_EQ(firmware->WrittenCommands(), (std::vector<uint16_t>{0x09, 0x0C}));

    camera.AbortRequested = 0;
    FailNextTransfer();
    EXPECT_EQ(WithStatus(camera.Reset(1)), (Outcome{0, ERROR_CONTROL_ENDPOINT_WRITE}));
    EXPECT_EQ(camera.AbortRequested.load(), 1);
}

TEST_F(VendorRequestTest, CameraStatusCopiesAtMost32BytesAndItsStateIsByteTen) {
    std::vector<uint8_t> record = Pattern(64, 100);
    record[10] = 0x21;
    firmware->SetBlock(0x05, record);
    uint8_t buffer[64] = {};
    EXPECT_EQ(camera.GetCameraStatus(buffer, 64), 1);
    EXPECT_EQ(buffer[31], 131);
    EXPECT_EQ(buffer[32], 0);
    uint8_t state = 0;
    EXPECT_EQ(camera.ReadCameraState(buffer, state), 1);
    EXPECT_EQ(state, 0x21);
    EXPECT_EQ(WithStatus(camera.ReadCameraState(nullptr, state)),
              (Outcome{0, ERROR_UNINITIALIZED_BUFFER}));

    // Without a buffer the status is still read, then the call fails.
    firmware->ClearLog();
    EXPECT_EQ(WithStatus(camera.GetCameraStatus(nullptr, 64)), (Outcome{0, CAMERA_INVALID_VALUE}));
    EXPECT_EQ(Sent(), (std::vector<std::string>{"r AB 5 0 64"}));
}

// Requests from many threads go one at a time, and a write's pause after it
// is held inside the lock: a read queued behind it arrives the pause later.
TEST_F(VendorRequestTest, ControlLockSerialisesRequestsAndHoldsTheWriteDelay) {
    auto hammer = [&] {
        uint8_t buffer[64];
        for (int i = 0; i < 50; ++i) {
            camera.ControlRead(0x07, buffer, 64);
            camera.ControlWrite(0x04, buffer, 64);
        }
    };
    std::thread threads[] = {std::thread(hammer), std::thread(hammer), std::thread(hammer)};
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(firmware->Log().size(), 300u);
    EXPECT_FALSE(firmware->SawOverlap());

    firmware->ClearLog();
    camera.ControlWriteDelay = 100;
    uint8_t byte = 0, buffer[64];
    std::thread writer([&] { camera.ControlWrite(0x0B, &byte, 1); });
    while (firmware->Log().empty()) std::this_thread::yield();
    camera.ControlRead(0x05, buffer, 64);
    writer.join();
    auto log = firmware->Log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_GE(log[1].arrival - log[0].arrival, std::chrono::milliseconds(100));
}

// One failed temperature read is retried after a pause, two are an error.
TEST_F(VendorRequestTest, TemperaturesConvertAFailedReadIsRetriedAndTheSetpointIsPatched) {
    // Big-endian counts: heat sink 29815, sensor 27315, top and bottom TEC
    // 150 and 75; the rest of the record counts its bytes.
    std::vector<uint8_t> record = {0x74, 0x77, 0x6A, 0xB3, 0x00, 0x96, 0x00, 0x4B};
    for (int i = 8; i < 64; ++i) record.push_back(static_cast<uint8_t>(i));
    firmware->SetBlock(0x07, record);
    auto read = [&](int32_t (CTesselCamera::*get)(double*)) {
        double value = 0;
        EXPECT_EQ((camera.*get)(&value), 0);
        return value;
    };
    EXPECT_NEAR(read(&CTesselCamera::GetHeatSinkTemperature), 25.0, 1e-9);
    EXPECT_NEAR(read(&CTesselCamera::GetCcdTemperature), 0.0, 1e-9);
    EXPECT_NEAR(read(&CTesselCamera::GetTopTecCurrent), 1.5, 1e-12);
    EXPECT_NEAR(read(&CTesselCamera::GetBottomTecCurrent), 0.75, 1e-12);
    FailNextTransfer();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NEAR(read(&CTesselCamera::GetHeatSinkTemperature), 25.0, 1e-9);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(9));
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

    // The setpoint replaces bytes 2-3 of the block it reads first.
    firmware->SetBlock(0x04, std::vector<uint8_t>(64, 0x5A));
    firmware->ClearLog();
    EXPECT_EQ(camera.SetTemperatureSetpoint(70000), 0);
    std::vector<uint8_t> expected(64, 0x5A);
    expected[2] = 0x11, expected[3] = 0x70;
    EXPECT_EQ(firmware->Block(0x04), expected);
    EXPECT_EQ(Sent(), (std::vector<std::string>{"r AB 4 0 64", "w AB 4 0 64"}));

    camera.UsbDevice.reset();
    EXPECT_EQ(WithStatus(camera.UpdateTemperature(buffer, 100)),
              (Outcome{0, ERROR_TEMP_CONTROL_ENDPOINT_READ}));
    EXPECT_EQ(camera.SetTemperatureSetpoint(100), ERROR_TEMP_CONTROL_ENDPOINT_READ);
    double value = 42;
    EXPECT_EQ(camera.GetCcdTemperature(&value), ERROR_TEMP_CONTROL_ENDPOINT_READ);
    EXPECT_EQ(value, 42) << "a failed read leaves the value";
}
