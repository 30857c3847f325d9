// The firmware wired into a simulated device: transfers as the driver hands
// them over, frames that wait for readout, and what withdraws them; and the
// firmware's own rules that the camera's end-to-end tests cannot see: what it
// refuses, how its blocks overlap, and where exposures end. The clock is
// frozen, so every exposure ends exactly when the test says.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
#include <numeric>
#include <thread>
#include <vector>

#include "camera/VendorProtocol.h"
#include "platform/ByteOrder.h"
#include "sim/SimulatedCamera.h"
#include "usb/DriverProtocol.h"

namespace {

using namespace std::chrono_literals;

// One transfer submitted to the device; the outcome arrives later.
struct Pending {
    std::vector<uint8_t> data;
    std::promise<sim::TransferOutcome> done;
    std::future<sim::TransferOutcome> outcome = done.get_future();
    bool Waiting() { return outcome.wait_for(30ms) == std::future_status::timeout; }
    sim::TransferOutcome Get() {
        if (outcome.wait_for(5s) == std::future_status::ready) return outcome.get();
        ADD_FAILURE() << "the transfer never completed";
        return {};
    }
};

std::unique_ptr<Pending> Submit(sim::SimUsbDevice& device, uint8_t endpoint, uint16_t command,
                                uint32_t length, std::vector<uint8_t> payload = {}) {
    auto pending = std::make_unique<Pending>();
    const bool in = endpoint == 0x82 || payload.empty();
    pending->data = std::move(payload);
    pending->data.resize(length);
    const sim::SetupPacket setup{static_cast<uint8_t>(in ? 0xC0 : 0x40), vendor::kRequest, command,
                                 0, static_cast<uint16_t>(length)};
    device.Submit({endpoint, in, setup, pending->data.data(), length,
                   [target = pending.get()](const sim::TransferOutcome& outcome) {
                       target->done.set_value(outcome);
                   }});
    return pending;
}

class SimulatedCameraTest : public ::testing::Test {
  protected:
    SimulatedCameraTest() {
        clock->Freeze();
        options.clock = clock;
        camera = sim::SimulatedCamera::Publish(session.driver(), options);
    }
    // Straight to the firmware, for its own rules.
    sim::ControlOutcome Send(uint8_t type, uint16_t command, uint8_t* data, uint16_t length,
                             uint8_t request = vendor::kRequest) {
        return camera.firmware->HandleControl({type, request, command, 0, length}, data, length);
    }
    bool Write(uint16_t command, std::vector<uint8_t> data = {0}) {
        return !Send(0x40, command, data.data(), static_cast<uint16_t>(data.size())).stall;
    }
    std::vector<uint8_t> Read(uint16_t command, uint16_t length = 64) {
        std::vector<uint8_t> data(length, 0xEE);
        sim::ControlOutcome outcome = Send(0xC0, command, data.data(), length);
        data.resize(outcome.stall ? 0 : outcome.length);
        return data;
    }
    bool ReadFrame() {
        uint8_t frame[64];
        uint32_t produced = 0;
        return camera.firmware->Fill(0x82, frame, 64, produced);
    }
    // Through the device.
    uint8_t State() {
        auto status = Submit(*camera.device, 0, vendor::kStatus, 64);
        EXPECT_EQ(status->Get().bytes, 64u);
        return status->data[vendor::kStatusStateAt];
    }
    void Trigger(uint16_t exposureMs) {
        std::vector<uint8_t> fpga(64, 0);
        platform::StoreBe16(&fpga[vendor::kExposureMsAt], exposureMs);
        ASSERT_EQ(Submit(*camera.device, 0, vendor::kFpga, 64, fpga)->Get().bytes, 64u);
        ASSERT_EQ(Submit(*camera.device, 0, vendor::kSoftwareTrigger, 1, {0})->Get().bytes, 1u);
    }

    sim::SimUsbSession session;
    std::shared_ptr<sim::SimClock> clock = std::make_shared<sim::SimClock>(1.0);
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera camera;
};

// No request follows the frame's: the firmware's own timer notices the end
// of the exposure. A reset instead leaves the frame to the host's abort.
// Triggers while the camera is busy do not restart the exposure.
TEST_F(SimulatedCameraTest, ExposuresEndOnTheFpgaTimeAndAWaitingFrameThenOrAfterAResetByAbort) {
    Trigger(500);
    constexpr uint32_t kBytes = 3 * 8192 + 512;
    auto frame = Submit(*camera.device, 0x82, 0, kBytes);
    EXPECT_TRUE(frame->Waiting());
    EXPECT_EQ(camera.device->PendingTransfers(), 1u);
    clock->Advance(500);
    sim::TransferOutcome outcome = frame->Get();
    EXPECT_TRUE(outcome.bytes == kBytes && outcome.usbStatus == 0u);
    EXPECT_EQ(State(), vendor::kIdle);

    Trigger(1000);
    frame = Submit(*camera.device, 0x82, 0, 512);
    ASSERT_EQ(Submit(*camera.device, 0, vendor::kSoftReset, 1, {0})->Get().bytes, 1u);
    clock->Advance(2000);
    camera.firmware->Update();
    EXPECT_TRUE(frame->Waiting());
    camera.device->Abort(0x82);
    EXPECT_EQ(frame->Get().usbStatus, usb::kUsbStatusCanceled);
    EXPECT_EQ(State(), vendor::kIdle);

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
    EXPECT_FALSE(camera.firmware->Fill(0x81, &byte, 1, produced) || produced)
        << "only bulk IN carries frames";
    ASSERT_TRUE(ReadFrame());
    EXPECT_EQ(State(), vendor::kIdle);
    EXPECT_FALSE(ReadFrame()) << "one frame per exposure";

    // A software trigger replaces a pending external one.
    ASSERT_TRUE(Write(vendor::kHardwareTrigger));
    EXPECT_EQ(State(), vendor::kWaitForTrigger);
    ASSERT_TRUE(Write(vendor::kSoftwareTrigger));
    EXPECT_EQ(State(), vendor::kExposure);
}

TEST_F(SimulatedCameraTest, RequestsFromSeveralThreadsReachTheFirmwareOneAtATime) {
    clock->SetScale(0);
    auto poll = [this] {
        for (int i = 0; i < 200; ++i) Submit(*camera.device, 0, vendor::kTemperatures, 64)->Get();
    };
    std::thread a(poll), b(poll);
    for (int i = 0; i < 20; ++i) {
        Trigger(1);
        EXPECT_EQ(Submit(*camera.device, 0x82, 0, 1024)->Get().bytes, 1024u);
    }
    a.join();
    b.join();
    EXPECT_EQ(std::pair(camera.firmware->ConcurrencyViolations(), camera.firmware->FramesRead()),
              std::pair(0u, 20u));
}

TEST_F(SimulatedCameraTest, AControlTransferWithdrawnDoesNotWaitOutTheLatency) {
    // An abort or the device going away must not wait out the latency, and
    // what was withdrawn never reaches the firmware. The latency itself:
    // DefaultCamera.LatencyTakenFromTheEnvironmentAndPublishedOnce.
    camera.device->SetControlLatency(std::chrono::hours(1));
    const uint32_t transfers = camera.firmware->ControlTransfers();
    auto aborted = Submit(*camera.device, 0, vendor::kStatus, 64);
    EXPECT_TRUE(aborted->Waiting());
    camera.device->Abort(0);
    EXPECT_EQ(aborted->Get().usbStatus, usb::kUsbStatusCanceled);

    auto device = std::make_unique<sim::SimUsbDevice>();
    device->SetVendorRequestHandler(camera.firmware);
    device->SetControlLatency(std::chrono::hours(1));
    auto dropped = Submit(*device, 0, vendor::kStatus, 64);
    device.reset();
    EXPECT_EQ(dropped->Get().usbStatus, usb::kUsbStatusCanceled);
    EXPECT_EQ(camera.firmware->ControlTransfers(), transfers);
}

TEST_F(SimulatedCameraTest, BlocksReadBackAsWrittenAndWhatTheCameraDoesNotUnderstandIsRefused) {
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
    EXPECT_EQ(camera.firmware->Block(vendor::kOffsets), held);
    EXPECT_EQ(Read(vendor::kOffsets), answer);

    EXPECT_TRUE(!Write(0x0E) && Read(0x0E).empty()) << "an unknown command";
    EXPECT_TRUE(Read(vendor::kHardwareTrigger).empty()) << "commands cannot be read";
    uint8_t byte = 0;
    EXPECT_TRUE(Send(0xC0, vendor::kStatus, &byte, 1, 0xAC).stall) << "another request";
    EXPECT_TRUE(Send(0x80, vendor::kStatus, &byte, 1).stall) << "a standard request";
    EXPECT_EQ(Read(vendor::kStatus, 8).size(), 8u);
    EXPECT_EQ(Read(vendor::kStatus, 100).size(), 64u) << "at most one block moves";

    camera.firmware->SetSensorSuffix("_3572");
    EXPECT_STREQ(reinterpret_cast<const char*>(&Read(vendor::kProductInfo)[16]), "VELA2-CCD_3572");
}

}  // namespace
