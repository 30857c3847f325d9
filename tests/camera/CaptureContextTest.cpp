#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "camera/CInterlockedScalar.h"
#include "camera/CaptureContext.h"

using platform::Event;
using platform::EventReset;
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

TEST(CaptureContextTest, StopThreadsStopsBothWorkersAndEmptiesTheirSlots) {
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
}

TEST(CaptureContextTest, AThreadThatAlreadyEndedKeepsItsSlot) {
    CaptureContext context;
    context.CaptureThread = Thread::CreateSuspended([] { return 0u; });
    context.CaptureThread->Resume();
    ASSERT_TRUE(context.CaptureThread->Join(5000));
    context.StopThreads();
    EXPECT_NE(context.CaptureThread, nullptr);
    EXPECT_EQ(context.CaptureStopEvent.Wait(0), platform::WaitStatus::Timeout);
}

namespace {
class RecordingScalar : public CInterlockedScalar<int32_t> {
  public:
    RecordingScalar() : CInterlockedScalar<int32_t>(-4) {}
    int changes = 0;
    int32_t lastOld = 0;

  protected:
    void OnChange(int32_t, int32_t oldValue) override {
        ++changes;
        lastOld = oldValue;
    }
};
}  // namespace

TEST(CInterlockedScalarTest, HookRunsOnlyWhenTheValueChanges) {
    RecordingScalar status;
    EXPECT_EQ(status.Get(), -4);
    EXPECT_EQ(status.Set(-4), -4);
    EXPECT_EQ(status.changes, 0);
    EXPECT_EQ(status.Set(0), 0);
    EXPECT_EQ(status.changes, 1);
    EXPECT_EQ(status.lastOld, -4);
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
