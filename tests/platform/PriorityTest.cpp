// Thread and process priorities through the seam.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Priority.h"

using namespace platform;

namespace {

// Run on a thread of their own: a priority this process may not raise again
// dies with the thread instead of slowing the rest of the tests.
template <typename Body>
void OnOwnThread(Body body) {
    std::thread thread(body);
    thread.join();
}

TEST(PriorityTest, ThreadPriorityReadsBackWhatWasSet) {
    OnOwnThread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
        ASSERT_TRUE(SetThreadPriority(self, -1));
        EXPECT_EQ(ThreadPriority(self), -1);
        ASSERT_TRUE(SetThreadPriority(self, kThreadPriorityLowest));
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityLowest);
    });
}

TEST(PriorityTest, TheProcessRunsInTheNormalClassAndMayBeSetToIt) {
    EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
    EXPECT_TRUE(SetProcessPriorityClass(kNormalPriorityClass));
    EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
}

TEST(PriorityTest, UnknownValuesAreRefused) {
    EXPECT_FALSE(SetProcessPriorityClass(0x12345));
    OnOwnThread([] {
        EXPECT_FALSE(SetThreadPriority(CurrentThreadPseudoHandle(), 7));
        EXPECT_EQ(ThreadPriority(CurrentThreadPseudoHandle()), kThreadPriorityNormal);
    });
}

}  // namespace
