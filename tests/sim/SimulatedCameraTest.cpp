// The firmware wired into a simulated device: transfers as the driver hands
// them over, frames that wait for readout, and what withdraws them.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>
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
    sim::TransferJob job;
    job.endpoint = endpoint;
    job.in = in;
    job.setup = {static_cast<uint8_t>(in ? 0xC0 : 0x40), vendor::kRequest, command, 0,
                 static_cast<uint16_t>(length)};
    job.data = pending->data.data();
    job.length = length;
    job.complete = [target = pending.get()](const sim::TransferOutcome& outcome) {
        target->done.set_value(outcome);
    };
    device.Submit(std::move(job));
    return pending;
}

class SimulatedCameraTest : public ::testing::Test {
  protected:
    SimulatedCameraTest() {
        clock->Freeze();
        options.clock = clock;
        camera = sim::SimulatedCamera::Publish(session.driver(), options);
    }
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
TEST_F(SimulatedCameraTest, AWaitingFrameCompletesAtTheExposureEndOrAfterAResetOnlyByAbort) {
    Trigger(500);
    constexpr uint32_t kBytes = 3 * 8192 + 512;
    auto frame = Submit(*camera.device, 0x82, 0, kBytes);
    EXPECT_TRUE(frame->Waiting());
    EXPECT_EQ(camera.device->PendingTransfers(), 1u);
    clock->Advance(500);
    sim::TransferOutcome outcome = frame->Get();
    EXPECT_EQ(outcome.bytes, kBytes);
    EXPECT_EQ(outcome.usbStatus, 0u);
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
    EXPECT_EQ(camera.firmware->ConcurrencyViolations(), 0u);
    EXPECT_EQ(camera.firmware->FramesRead(), 20u);
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

}  // namespace
