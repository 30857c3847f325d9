#include <gtest/gtest.h>

#include <thread>

#include "platform/Priority.h"
#include "settings/CThreadPriority.h"

using namespace platform;

namespace {

// Whether a thread may move to `priority` here: outside Windows an ordinary
// user may neither raise a priority nor lower one it could not raise back.
// Each case, and this question, runs on a thread of its own, so a thread
// priority the process may not raise back cannot leak into other tests.
bool ThreadMayTake(int32_t priority) {
    bool granted = false;
    std::thread([&] { granted = SetThreadPriority(CurrentThreadPseudoHandle(), priority); }).join();
    return granted;
}

TEST(PriorityNamesTest, OnlyTheExactWindowsNamesAreKnown) {
    for (const char* name :
         {"THREAD_PRIORITY_IDLE", "THREAD_PRIORITY_LOWEST", "THREAD_PRIORITY_BELOW_NORMAL",
          "THREAD_PRIORITY_NORMAL", "THREAD_PRIORITY_ABOVE_NORMAL", "THREAD_PRIORITY_HIGHEST",
          "THREAD_PRIORITY_TIME_CRITICAL"})
        EXPECT_TRUE(IsThreadPriorityName(name)) << name;
    for (const char* name :
         {"IDLE_PRIORITY_CLASS", "BELOW_NORMAL_PRIORITY_CLASS", "NORMAL_PRIORITY_CLASS",
          "ABOVE_NORMAL_PRIORITY_CLASS", "HIGH_PRIORITY_CLASS", "REALTIME_PRIORITY_CLASS"})
        EXPECT_TRUE(IsPriorityClassName(name)) << name;
    for (const char* name :
         {"thread_priority_normal", "THREAD_PRIORITY_NORMAL ", "NORMAL_PRIORITY_CLASS"})
        EXPECT_FALSE(IsThreadPriorityName(name)) << name;
    EXPECT_FALSE(IsPriorityClassName(""));
}

// Neither the above-normal class nor a scope without a thread moves the
// thread; an unknown class acts as normal while the thread is set and
// restored.
TEST(ThreadPriorityTest, TheScopeMovesOnlyItsOwnThreadAndRestoresIt) {
    std::thread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        {
            CThreadPriority scope("THREAD_PRIORITY_HIGHEST", self, "ABOVE_NORMAL_PRIORITY_CLASS",
                                  "");
            EXPECT_EQ(scope.GetPriorityClass(), 0x8000u);
            EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
            EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
        }
        {
            CThreadPriority scope("THREAD_PRIORITY_LOWEST", 0, "NORMAL_PRIORITY_CLASS", "");
            EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
            EXPECT_EQ(scope.GetThreadPriority(), kThreadPriorityLowest);
        }
        {
            CThreadPriority scope("THREAD_PRIORITY_BELOW_NORMAL", self, "BOGUS_CLASS", "label");
            EXPECT_EQ(scope.GetPriorityClass(), kNormalPriorityClass);
            EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
            EXPECT_EQ(ThreadPriority(self), ThreadMayTake(-1) ? -1 : kThreadPriorityNormal);
        }
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
    }).join();
}

TEST(ThreadPriorityTest, HighestInTheHighClassIsAppliedForTheScope) {
    if (!ThreadMayTake(kThreadPriorityTimeCritical))
        GTEST_SKIP() << "this process may not raise a priority";
    std::thread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        {
            CThreadPriority scope("THREAD_PRIORITY_HIGHEST", self, "HIGH_PRIORITY_CLASS", "");
            EXPECT_EQ(ProcessPriorityClass(), kHighPriorityClass);
            EXPECT_EQ(ThreadPriority(self), kThreadPriorityHighest);
        }
        EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
    }).join();
}

}  // namespace
