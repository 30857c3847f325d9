#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "camera/CInterlockedScalar.h"
#include "camera/CaptureContext.h"

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
