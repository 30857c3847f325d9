// Every fault the simulated camera can make, at every step of bring-up and of
// a capture: the result and the status it leaves, no thread left waiting, and
// a camera that initializes and takes a good picture once the fault is gone.

#include <gtest/gtest.h>

#include <functional>
#include <iterator>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "CameraTestSupport.h"
#include "support/Eventually.h"
#include "support/WindowMessages.h"

using namespace cameratest;

namespace {

enum class Fault { FailTransfer, ShortRead, HoldState, StallFrame, LoseFrame, Unplug };

// A capture's steps: its first three vendor requests, then the frame (past
// any request number).
enum Step : uint32_t { kIdleRead = 1, kTrigger, kStatePoll, kFrame = 1000, kReconstruction };

constexpr uint16_t kSoftReset = 0x0C;
constexpr uint8_t kExposing = 0x08;
constexpr uint8_t kReadout = 0x20;
constexpr int32_t kClosed = ERROR_CAMERA_NOT_INITIALIZED;

using testsupport::Eventually;

// Between the device and its firmware: runs an action at a chosen vendor
// request (refusing that request when the action says so) or, at
// kReconstruction, once the frame has been handed out; logs each request's
// command and direction.
class Injector : public sim::VendorRequestHandler, public sim::FrameSource {
  public:
    using Action = std::function<bool()>;
    explicit Injector(std::shared_ptr<sim::CameraFirmware> firmware) : firmware_(firmware) {}

    void At(uint32_t step, Action action) {
        std::lock_guard<std::mutex> lock(mutex_);
        afterFrame_ = step == kReconstruction;
        at_ = log_.size() + step;
        action_ = std::move(action);
    }
    std::vector<std::pair<uint16_t, bool>> Log() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }

    sim::ControlOutcome HandleControl(const sim::SetupPacket& setup, uint8_t* data,
                                      uint32_t length) override {
        Action action;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            log_.emplace_back(setup.Value, setup.DeviceToHost());
            if (log_.size() == at_ && !afterFrame_) action.swap(action_);
        }
        if (action && action()) return {true, 0};
        return firmware_->HandleControl(setup, data, length);
    }
    bool Fill(uint8_t endpoint, uint8_t* buffer, uint32_t length, uint32_t& produced) override {
        if (!firmware_->Fill(endpoint, buffer, length, produced)) return false;
        Action action;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (afterFrame_) action.swap(action_);
        }
        if (action) action();
        return true;
    }

  private:
    std::shared_ptr<sim::CameraFirmware> firmware_;
    std::mutex mutex_;
    std::vector<std::pair<uint16_t, bool>> log_;
    size_t at_ = 0;
    Action action_;
    bool afterFrame_ = false;
};

struct FaultCase {
    const char* name;
    Fault fault;
    uint32_t step;
    int32_t started;  // StartPicture's result
    int32_t status;   // the last status once the capture, and any close, is over
};

// The application as it should run: a notification window, and a soft reset
// at initialization so that a camera left mid-frame starts from idle.
class FaultInjection : public CaptureTest {
  protected:
    void SetUp() override {
        CaptureTest::SetUp();
        settings["General Info"]["Create invisible window to receive USB device notifications?"] =
            "1";
        settings["General Info"]["Issue Soft Reset during Initialize?"] = "1";
        Attach();
    }
    void TearDown() override {
        AwaitUnplug();
        CaptureTest::TearDown();
        camera.UseNotificationWindow = 0;
        testsupport::DispatchMessages();
    }

    void Attach() {
        injector = std::make_shared<Injector>(simulated.firmware);
        simulated.device->SetVendorRequestHandler(injector);
        simulated.device->SetFrameSource(injector);
    }

    // As the system does it: from another thread, while the camera is in use.
    void StartUnplug() {
        std::lock_guard<std::mutex> lock(unplugLock);
        unplugger =
            std::thread([this, device = simulated.device] { session.driver().Unplug(device); });
    }
    void AwaitUnplug() {
        std::lock_guard<std::mutex> lock(unplugLock);
        if (unplugger.joinable()) unplugger.join();
    }

    // Each fault at the nth vendor request from now.
    void Inject(Fault fault, uint32_t nth) {
        sim::CameraFirmware& firmware = *simulated.firmware;
        switch (fault) {
            case Fault::FailTransfer:
                return firmware.FailControlTransfer(nth);
            case Fault::ShortRead:
                return firmware.ShortenControlTransfer(nth, 60);
            case Fault::HoldState:
                return injector->At(nth, [this, nth] {
                    simulated.firmware->HoldState(nth == kIdleRead ? kReadout : kExposing);
                    return false;
                });
            case Fault::StallFrame:
                return firmware.StallFrames(true);
            case Fault::LoseFrame:
                return firmware.FailNextFrame();
            case Fault::Unplug:
                if (nth == kFrame) return firmware.StallFrames(true);  // unplugged once pending
                // Refuses the request it interrupts once the device is gone.
                return injector->At(nth, [this, nth] {
                    StartUnplug();
                    if (nth == kReconstruction) return false;
                    EXPECT_TRUE(Eventually([this] { return simulated.device->Unplugged(); }));
                    return true;
                });
        }
    }

    // Faults cleared (a camera plugged in again): initialization and a
    // picture work as if nothing had happened.
    void ExpectRecovery() {
        AwaitUnplug();
        testsupport::DispatchMessages();
        simulated.firmware->FailControlTransfer(0);
        simulated.firmware->ShortenControlTransfer(0, 0);
        simulated.firmware->ReleaseState();
        simulated.firmware->StallFrames(false);
        if (simulated.device->Unplugged()) {
            simulated = sim::SimulatedCamera::Publish(session.driver(), options);
            Attach();
        }
        ASSERT_EQ(WithStatus(Initialize()), (Outcome{0, 0}));
        EXPECT_EQ(TakePicture(), (Outcome{0, 0}));
        ExpectPicture();
    }

    std::shared_ptr<Injector> injector;
    std::mutex unplugLock;
    std::thread unplugger;
};

class FaultMatrixBringUp : public FaultInjection {};
class FaultMatrixCapture : public FaultInjection,
                           public ::testing::WithParamInterface<FaultCase> {};

// A clean bring-up's vendor requests, and what a refused one leaves: the
// blocks must reach the camera, the frame geometry is written back on a best
// effort, and a failed soft reset fails the initialization on its own.
struct BringUpStep {
    uint16_t command;
    bool read;
    Outcome refused;  // LD_Initialize's result and the last status
};
constexpr Outcome kRefused{kClosed, INVALID_USB_DEVICE};
constexpr Outcome kBestEffort{CAMERA_SUCCESS, CAMERA_SUCCESS};
// clang-format off
const BringUpStep kBringUpSteps[] = {
    {0x01, false, kRefused},    {0x01, true, kRefused},     {0x03, false, kRefused},
    {0x02, false, kRefused},    {0x04, false, kRefused},    {0x01, true, kBestEffort},
    {0x01, false, kBestEffort}, {0x01, true, kBestEffort},  {kSoftReset, false, {kClosed, kClosed}},
};
// clang-format on

TEST_F(FaultMatrixBringUp, EveryFaultAtEveryVendorRequestFailsInitializationUntilCleared) {
    ASSERT_EQ(Initialize(), 0);
    std::vector<std::pair<uint16_t, bool>> clean;
    for (const BringUpStep& step : kBringUpSteps) clean.emplace_back(step.command, step.read);
    ASSERT_EQ(injector->Log(), clean);

    for (Fault fault : {Fault::FailTransfer, Fault::ShortRead, Fault::Unplug}) {
        for (uint32_t n = 1; n <= std::size(kBringUpSteps); ++n) {
            const BringUpStep& step = kBringUpSteps[n - 1];
            if (fault == Fault::ShortRead && !step.read) continue;
            SCOPED_TRACE(::testing::Message()
                         << "fault " << static_cast<int>(fault) << " at request " << n
                         << ", command " << step.command);
            camera.Close(1);
            Inject(fault, n);
            // Unplugged, the soft reset that follows fails too.
            const Outcome expected = fault == Fault::Unplug && step.refused.first == 0
                                         ? Outcome{kClosed, kClosed}
                                         : step.refused;
            EXPECT_EQ(WithStatus(Initialize()), expected);
            AwaitUnplug();
            EXPECT_EQ(LastStatus().Get(), expected.second);
            EXPECT_EQ(camera.IsInitialized(), expected.first == 0 ? 1 : 0);
            ExpectRecovery();
            if (HasFatalFailure()) return;
        }
    }
}

TEST_P(FaultMatrixCapture, CaptureLeavesItsStatusAndTheNextInitializationWorks) {
    const FaultCase& c = GetParam();
    ASSERT_EQ(Initialize(), 0);
    Inject(c.fault, c.step);
    EXPECT_EQ(StartPicture(), c.started);
    if (c.fault == Fault::StallFrame || (c.fault == Fault::Unplug && c.step == kFrame)) {
        ASSERT_TRUE(Eventually([&] { return simulated.device->PendingTransfers() == 1; }));
        if (c.fault == Fault::Unplug) session.driver().Unplug(simulated.device);
    }
    if (c.fault == Fault::StallFrame) {
        // Only a reset, a close or the next initialization ends this wait.
        EXPECT_FALSE(CaptureEnds(50));
        EXPECT_EQ(camera.IsCaptureComplete(), RECONSTRUCTION_IN_PROGRESS);
    } else {
        EXPECT_TRUE(CaptureEnds());
    }
    AwaitUnplug();
    EXPECT_EQ(LastStatus().Get(), c.status);
    if (c.status == CAMERA_SUCCESS) ExpectPicture();
    EXPECT_EQ(camera.IsInitialized(), c.fault == Fault::Unplug ? 0 : 1);
    ExpectRecovery();
}

// A failed state read before the trigger ends the capture; during the state
// wait it is only retried. An unplugged camera is closed by its notification.
constexpr int32_t kUntriggered = ERROR_TRIGGER_TIMEOUT;
const FaultCase kCaptureFaults[] = {
    {"IdleReadFails", Fault::FailTransfer, kIdleRead, kUntriggered, ERROR_GET_CAMERA_STATE},
    {"IdleReadShort", Fault::ShortRead, kIdleRead, kUntriggered, ERROR_GET_CAMERA_STATE},
    {"TriggerFails", Fault::FailTransfer, kTrigger, kUntriggered, ERROR_SETTING_TRIGGER},
    {"StatePollFails", Fault::FailTransfer, kStatePoll, CAMERA_SUCCESS, CAMERA_SUCCESS},
    {"StatePollShort", Fault::ShortRead, kStatePoll, CAMERA_SUCCESS, CAMERA_SUCCESS},
    {"NeverIdle", Fault::HoldState, kIdleRead, kUntriggered, IDLE_STATE_TIMEOUT},
    {"StuckFromTheTrigger", Fault::HoldState, kTrigger, CAMERA_SUCCESS, ERROR_CAMERA_TIMEOUT},
    {"StuckInTheStateWait", Fault::HoldState, kStatePoll, CAMERA_SUCCESS, ERROR_CAMERA_TIMEOUT},
    {"FrameNeverHandedOut", Fault::StallFrame, kFrame, CAMERA_SUCCESS, CAMERA_BUSY},
    {"FrameLost", Fault::LoseFrame, kFrame, CAMERA_SUCCESS, ERROR_BULK_READ},
    {"UnpluggedAtTheIdleRead", Fault::Unplug, kIdleRead, kUntriggered, kClosed},
    {"UnpluggedAtTheTrigger", Fault::Unplug, kTrigger, kUntriggered, kClosed},
    {"UnpluggedInTheStateWait", Fault::Unplug, kStatePoll, CAMERA_SUCCESS, kClosed},
    {"UnpluggedDuringTheTransfer", Fault::Unplug, kFrame, CAMERA_SUCCESS, kClosed},
    {"UnpluggedDuringReconstruction", Fault::Unplug, kReconstruction, CAMERA_SUCCESS, kClosed},
};

INSTANTIATE_TEST_SUITE_P(FaultMatrix, FaultMatrixCapture, ::testing::ValuesIn(kCaptureFaults),
                         [](const ::testing::TestParamInfo<FaultCase>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
