// Thread and process priorities through the seam.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Priority.h"

using namespace platform;

namespace {

// Runs on a thread of its own: a priority this process may not raise again
// dies with the thread instead of slowing the rest of the tests.
TEST(PriorityTest, ThreadPriorityReadsBackWhatWasSetAndRefusesUnknownValues) {
    std::thread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
        EXPECT_FALSE(SetThreadPriority(self, 7));
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
        ASSERT_TRUE(SetThreadPriority(self, -1));
        EXPECT_EQ(ThreadPriority(self), -1);
        ASSERT_TRUE(SetThreadPriority(self, kThreadPriorityLowest));
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityLowest);
    }).join();
}

TEST(PriorityTest, TheProcessRunsInTheNormalClassAndRefusesUnknownOnes) {
    EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
    EXPECT_TRUE(SetProcessPriorityClass(kNormalPriorityClass));
    EXPECT_FALSE(SetProcessPriorityClass(0x12345));
    EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
}

}  // namespace
