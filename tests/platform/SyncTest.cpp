#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/Clock.h"
#include "platform/CriticalSection.h"
#include "platform/Event.h"
#include "platform/Thread.h"

using namespace platform;

TEST(EventTest, AutoResetReleasesOneWaitManualResetStaysSetAndWaitForAnyPrefersEarliest) {
    Event stop(EventReset::Auto), capture(EventReset::Auto), picture(EventReset::Auto);
    Event* list[] = {&stop, &capture, &picture};
    stop.Set();
    EXPECT_EQ(stop.Wait(0), WaitStatus::Signaled);
    EXPECT_EQ(stop.Wait(0), WaitStatus::Timeout);
    picture.Set();
    capture.Set();
    EXPECT_EQ(WaitForAny(list, 3, 0).index, 1u);
    EXPECT_EQ(WaitForAny(list, 3, 0).index, 2u);
    EXPECT_EQ(WaitForAny(list, 3, 0).status, WaitStatus::Timeout);

    Event trigger(EventReset::Manual), complete(EventReset::Manual, true);
    Event* manual[] = {&trigger, &complete};
    EXPECT_EQ(WaitForAny(manual, 2, 0).index, 1u);
    EXPECT_EQ(WaitForAny(manual, 2, 0).index, 1u) << "a manual-reset event is not consumed";
    trigger.Set();
    EXPECT_EQ(WaitForAny(manual, 2, 0).index, 0u);
    trigger.Reset();
    EXPECT_EQ(trigger.Wait(0), WaitStatus::Timeout);

    Event* bad[] = {&complete, nullptr};
    for (auto [list, count] : {std::pair{bad, 0}, {bad, 2}, {nullptr, 1}})
        EXPECT_EQ(WaitForAny(list, count, 0).status, WaitStatus::Failed) << count;
}

TEST(EventTest, AWaitEndsAfterRoughlyItsTimeOrWhenAnotherThreadSets) {
    Event stop(EventReset::Auto), work(EventReset::Auto);
    int64_t frequency = 0;
    ASSERT_TRUE(PerformanceFrequency(frequency));
    int64_t start = PerformanceCounter();
    EXPECT_EQ(work.Wait(30), WaitStatus::Timeout);
    EXPECT_GE((PerformanceCounter() - start) * 1000.0 / frequency, 25.0);
    Event* list[] = {&stop, &work};
    std::thread setter([&] {
        SleepMs(20);
        work.Set();
    });
    WaitAnyResult result = WaitForAny(list, 2, kInfinite);
    setter.join();
    EXPECT_TRUE(result.status == WaitStatus::Signaled && result.index == 1u);
}

// A thread runs only once resumed, and only once; released, a running one
// finishes and one never resumed never runs.
TEST(ThreadTest, RunsOnlyAfterResumeReportsItsExitCodeAndOutlivesItsObject) {
    std::atomic<bool> ran{false};
    Event done(EventReset::Manual);
    auto thread = Thread::CreateSuspended([&] {
        ran = true;
        done.Set();
        return 7u;
    });
    ASSERT_NE(thread, nullptr);
    uint32_t code = 0;
    EXPECT_TRUE(thread->GetExitCode(code) && code == kStillActive);
    EXPECT_EQ(done.Wait(50), WaitStatus::Timeout);
    EXPECT_TRUE(thread->Resume());
    EXPECT_FALSE(thread->Resume());
    EXPECT_TRUE(thread->Join(5000));
    EXPECT_TRUE(thread->GetExitCode(code) && code == 7u) << code;

    ran = false;
    Thread::CreateSuspended([&] {
        ran = true;
        return 0u;
    });
    Event release(EventReset::Manual), finished(EventReset::Manual);
    Thread::CreateSuspended([&] {
        release.Wait(kInfinite);
        finished.Set();
        return 0u;
    })->Resume();
    release.Set();
    EXPECT_EQ(finished.Wait(5000), WaitStatus::Signaled);
    SleepMs(20);
    EXPECT_FALSE(ran);
}

TEST(CriticalSectionTest, IsRecursiveExcludesOtherThreadsAndSerialisesIncrements) {
    CriticalSection section;
    int counter = 0;
    auto work = [&] {
        for (int i = 0; i < 10000; ++i) {
            ScopedLock lock(section);
            ++counter;
        }
    };
    {
        ScopedLock outer(section);
        ScopedLock inner(section);
        std::thread([&] { EXPECT_FALSE(section.TryEnter()); }).join();
    }
    std::thread a(work), b(work);
    a.join();
    b.join();
    EXPECT_EQ(counter, 20000);
}
