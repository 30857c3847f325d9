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
#include "platform/UsbDriver.h"
#include "sim/FramePattern.h"
#include "sim/SimulatedCamera.h"
#include "usb/DriverProtocol.h"

namespace {

using namespace std::chrono_literals;

// One transfer submitted to the device; the outcome arrives later.
struct Pending {
    std::vector<uint8_t> data;
    std::promise<sim::TransferOutcome> done;
    std::future<sim::TransferOutcome> outcome = done.get_future();
};

std::unique_ptr<Pending> Submit(sim::SimUsbDevice& device, uint8_t endpoint, bool in,
                                uint16_t command, uint32_t length,
                                const std::vector<uint8_t>& payload = {}) {
    auto pending = std::make_unique<Pending>();
    pending->data = payload;
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

    sim::TransferOutcome Control(uint16_t command, bool in, std::vector<uint8_t>* answer = nullptr,
                                 std::vector<uint8_t> data = {0}) {
        auto pending = Submit(*camera.device, 0, in, command,
                              in ? 64u : static_cast<uint32_t>(data.size()), data);
        sim::TransferOutcome outcome = pending->outcome.get();
        if (answer) *answer = pending->data;
        return outcome;
    }
    uint8_t State() {
        std::vector<uint8_t> status;
        sim::TransferOutcome outcome = Control(vendor::kStatus, true, &status);
        EXPECT_EQ(outcome.bytes, 64u);
        EXPECT_EQ(outcome.usbStatus, 0u);
        return status[vendor::kStatusStateAt];
    }
    void Trigger(uint16_t exposureMs) {
        std::vector<uint8_t> fpga(64, 0);
        platform::StoreBe16(&fpga[vendor::kExposureMsAt], exposureMs);
        ASSERT_EQ(Control(vendor::kFpga, false, nullptr, fpga).bytes, 64u);
        ASSERT_EQ(Control(vendor::kSoftwareTrigger, false).bytes, 1u);
    }

    sim::SimUsbSession session;
    std::shared_ptr<sim::SimClock> clock = std::make_shared<sim::SimClock>(1.0);
    sim::SimulatedCameraOptions options;
    sim::SimulatedCamera camera;
};

TEST_F(SimulatedCameraTest, AFrameRequestedEarlyCompletesWhenTheExposureEnds) {
    EXPECT_FALSE(camera.path.empty());
    EXPECT_EQ(State(), vendor::kIdle);
    Trigger(500);
    constexpr uint32_t kBytes = 3 * 8192 + 512;
    auto frame = Submit(*camera.device, 0x82, true, 0, kBytes);
    EXPECT_EQ(frame->outcome.wait_for(30ms), std::future_status::timeout);
    EXPECT_EQ(camera.device->PendingTransfers(), 1u);

    // No request follows: the firmware's own timer notices the exposure end.
    clock->Advance(500);
    ASSERT_EQ(frame->outcome.wait_for(5s), std::future_status::ready);
    sim::TransferOutcome outcome = frame->outcome.get();
    EXPECT_EQ(outcome.bytes, kBytes);
    EXPECT_EQ(outcome.usbStatus, 0u);
    for (uint32_t i : {0u, 4096u, kBytes / 2 - 1})
        EXPECT_EQ(platform::LoadLe16(&frame->data[2 * i]), sim::FramePixel(i)) << i;
    EXPECT_EQ(State(), vendor::kIdle);
    EXPECT_EQ(camera.firmware->ConcurrencyViolations(), 0u);
}

TEST_F(SimulatedCameraTest, AResetLeavesTheWaitingFrameToTheHostsAbort) {
    Trigger(1000);
    auto frame = Submit(*camera.device, 0x82, true, 0, 512);
    ASSERT_EQ(Control(vendor::kSoftReset, false).bytes, 1u);
    clock->Advance(2000);
    camera.firmware->Update();
    EXPECT_EQ(frame->outcome.wait_for(30ms), std::future_status::timeout);
    camera.device->Abort(0x82);
    ASSERT_EQ(frame->outcome.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(frame->outcome.get().usbStatus, usb::kUsbStatusCanceled);
    EXPECT_EQ(State(), vendor::kIdle);
}

TEST_F(SimulatedCameraTest, RequestsFromSeveralThreadsReachTheFirmwareOneAtATime) {
    clock->SetScale(0);
    auto poll = [this] {
        for (int i = 0; i < 200; ++i) {
            auto pending = Submit(*camera.device, 0, true, vendor::kTemperatures, 64);
            pending->outcome.get();
        }
    };
    std::thread a(poll), b(poll);
    for (int i = 0; i < 20; ++i) {
        Trigger(1);
        auto frame = Submit(*camera.device, 0x82, true, 0, 1024);
        ASSERT_EQ(frame->outcome.wait_for(5s), std::future_status::ready);
        EXPECT_EQ(frame->outcome.get().bytes, 1024u);
    }
    a.join();
    b.join();
    EXPECT_EQ(camera.firmware->ConcurrencyViolations(), 0u);
    EXPECT_EQ(camera.firmware->FramesRead(), 20u);
}

TEST_F(SimulatedCameraTest, EachControlTransferTakesTheLatencyUnlessWithdrawn) {
    camera.device->SetControlLatency(20ms);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i) EXPECT_EQ(State(), vendor::kIdle);
    EXPECT_GE(std::chrono::steady_clock::now() - start, 60ms);

    // An abort or the device going away must not wait out the latency, and
    // what was withdrawn never reaches the firmware.
    camera.device->SetControlLatency(std::chrono::hours(1));
    const uint32_t transfers = camera.firmware->ControlTransfers();
    auto aborted = Submit(*camera.device, 0, true, vendor::kStatus, 64);
    EXPECT_EQ(aborted->outcome.wait_for(30ms), std::future_status::timeout);
    camera.device->Abort(0);
    ASSERT_EQ(aborted->outcome.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(aborted->outcome.get().usbStatus, usb::kUsbStatusCanceled);

    auto device = std::make_unique<sim::SimUsbDevice>();
    device->SetVendorRequestHandler(camera.firmware);
    device->SetControlLatency(std::chrono::hours(1));
    auto dropped = Submit(*device, 0, true, vendor::kStatus, 64);
    device.reset();
    ASSERT_EQ(dropped->outcome.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(dropped->outcome.get().usbStatus, usb::kUsbStatusCanceled);
    EXPECT_EQ(camera.firmware->ControlTransfers(), transfers);
}

}  // namespace
