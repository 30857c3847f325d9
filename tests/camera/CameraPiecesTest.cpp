// The camera's pieces on their own: settings reading, the desired-state mask,
// the capture context's workers and the interlocked status.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "CameraTestSupport.h"
#include "camera/CInterlockedScalar.h"
#include "camera/CameraSettings.h"
#include "camera/CaptureContext.h"
#include "camera/DesiredState.h"

using namespace cameratest;

using CameraSettings = CameraTest;

TEST_F(CameraSettings, DelaysAboveAMinuteAreTakenAsAMinuteAndMemoryRunningOutGivesStatus3) {
    struct Case {
        const char* text;
        uint32_t controlWriteMs, settleMs;
    };
    for (Case c : {Case{"-1", 2000, 5000}, Case{"60000", 60000, 60000},
                   Case{"4294967295", 60000, 60000}, Case{"-2", 60000, 60000}}) {
        auto& general = UseSettings();
        general["Delay after Control Endpoint Write (mSec)"] = c.text;
        general["Delay after Initialization (mSec)"] = c.text;
        general["Send FPGA data during initialize?"] = "0";
        camera_settings::InitializationValues values;
        ASSERT_TRUE(camera_settings::ReadInitializationSettings(camera, "mode.hex", values));
        EXPECT_EQ(camera.ControlWriteDelay, c.controlWriteMs) << c.text;
        EXPECT_EQ(values.settleDelayMs, c.settleMs) << c.text;
    }

    camera.SettingsReader = std::make_unique<ExhaustedPropertyReader>();
    camera_settings::InitializationValues values;
    LastStatus().Set(0);
    EXPECT_FALSE(camera_settings::ReadInitializationSettings(camera, "mode.hex", values));
    EXPECT_EQ(LastStatus().Get(), ERROR_INCORRECT_IMAGE_BUFFER_SIZE) << "memory ran out";
}

TEST(DesiredState, TheWholeStateMeetsTheMaskOnceOneOfBits0To5IsSet) {
    struct Case {
        uint8_t state, desired;
        bool reached;
    };
    for (Case c : {Case{0x41, 0x40, true}, Case{0x21, 0x20, true}, Case{0x40, 0x40, false},
                   Case{0xC0, 0xFF, false}, Case{0x01, 0x20, false}, Case{0x00, 0xFF, false}}) {
        EXPECT_EQ(DesiredStateReached(c.state, c.desired), c.reached)
            << std::hex << int{c.state} << " " << int{c.desired};
    }
}

using platform::Event;
using platform::Thread;

namespace {
// A worker that behaves as the library's own: runs until its stop event,
// then says it stopped.
std::unique_ptr<Thread> StartWorker(Event& stop, Event& stopped) {
    auto thread = Thread::CreateSuspended([&] {
        stop.Wait(platform::kInfinite);
        stopped.Set();
        return 0u;
    });
    thread->Resume();
    return thread;
}
}  // namespace

TEST(CaptureContextTest, StopThreadsStopsRunningWorkersAndLeavesAnEndedOneItsSlot) {
    CaptureContext context;
    context.CaptureThread = StartWorker(context.CaptureStopEvent, context.CaptureStoppedEvent);
    context.NotificationThread =
        StartWorker(context.NotificationStopEvent, context.NotificationStoppedEvent);
    EXPECT_TRUE(context.IsCaptureThreadRunning());
    context.StopThreads();
    EXPECT_EQ(context.CaptureThread, nullptr);
    EXPECT_EQ(context.NotificationThread, nullptr);
    EXPECT_FALSE(context.IsCaptureThreadRunning());
    context.StopThreads();  // repeatable

    CaptureContext ended;
    ended.CaptureThread = Thread::CreateSuspended([] { return 0u; });
    ended.CaptureThread->Resume();
    ASSERT_TRUE(ended.CaptureThread->Join(5000));
    ended.StopThreads();
    EXPECT_NE(ended.CaptureThread, nullptr);
    EXPECT_EQ(ended.CaptureStopEvent.Wait(0), platform::WaitStatus::Timeout);
}

TEST(CInterlockedScalarTest, ConcurrentStoresAndReadsSeeWholeValues) {
    CInterlockedScalar<int32_t> status(-4);
    std::atomic<bool> torn{false};
    auto writer = [&](int32_t value) {
        for (int i = 0; i < 20000; ++i) status.Set(value);
    };
    std::thread a(writer, -1), b(writer, 23);
    for (int i = 0; i < 20000; ++i) {
        int32_t seen = status.Get();
        if (seen != -4 && seen != -1 && seen != 23) torn = true;
    }
    a.join();
    b.join();
    EXPECT_FALSE(torn);
}
