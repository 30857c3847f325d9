// Thread and process priorities through the seam.
#include <gtest/gtest.h>

#include <thread>

#include "platform/Priority.h"
#include "platform/SystemError.h"

#ifndef _WIN32
#include <errno.h>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

using namespace platform;

namespace {

// Applying and restoring known values: ThreadPriorityTest (settings), and
// PosixPriorityTest below for what an ordinary user may not do. Each case
// that changes a priority runs on a thread of its own, so what the process
// could not undo dies with the thread.
TEST(PriorityTest, UnknownValuesAreRefusedAndChangeNothing) {
    EXPECT_FALSE(SetProcessPriorityClass(0x12345));
    EXPECT_EQ(ProcessPriorityClass(), kNormalPriorityClass);
    std::thread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        EXPECT_FALSE(SetThreadPriority(self, 7));
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
    }).join();
}

#ifndef _WIN32
int OwnNice() { return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::syscall(SYS_gettid))); }

// As an ordinary user's thread, whoever runs the test: no CAP_SYS_NICE (each
// thread has its own capabilities) and a nice limit of 0, the default.
template <typename Body>
void OnUnprivilegedThread(Body body) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NICE, &saved), 0);
    rlimit none = saved;
    none.rlim_cur = 0;
    ASSERT_EQ(::setrlimit(RLIMIT_NICE, &none), 0);
    std::thread([&] {
        __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
        __user_cap_data_struct caps[_LINUX_CAPABILITY_U32S_3] = {};
        ASSERT_EQ(::syscall(SYS_capget, &header, caps), 0);
        caps[CAP_SYS_NICE / 32].effective &= ~(1u << (CAP_SYS_NICE % 32));
        ASSERT_EQ(::syscall(SYS_capset, &header, caps), 0);
        body();
    }).join();
    ::setrlimit(RLIMIT_NICE, &saved);
}

TEST(PosixPriorityTest, WithoutThePrivilegeNoPriorityIsLoweredForGood) {
    OnUnprivilegedThread([] {
        ThreadRef self = CurrentThreadPseudoHandle();
        const int before = OwnNice();
        for (int32_t priority :
             {kThreadPriorityLowest, kThreadPriorityIdle, kThreadPriorityHighest}) {
            EXPECT_FALSE(SetThreadPriority(self, priority)) << priority;
            EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
        }
        EXPECT_EQ(OwnNice(), before);
        EXPECT_EQ(ThreadPriority(self), kThreadPriorityNormal);
        EXPECT_TRUE(SetThreadPriority(self, kThreadPriorityNormal)) << "where it is already";
    });
}

TEST(PosixPriorityTest, TheClassMovesOnlyThreadsThatSetTheirPriorityNeverTheMainThread) {
    ASSERT_EQ(::syscall(SYS_gettid), ::getpid()) << "a test body runs on the main thread";
    const int before = OwnNice();
    ASSERT_TRUE(SetProcessPriorityClass(kHighPriorityClass));
    EXPECT_EQ(ProcessPriorityClass(), kHighPriorityClass);
    EXPECT_FALSE(SetThreadPriority(CurrentThreadPseudoHandle(), kThreadPriorityNormal));
    EXPECT_EQ(OwnNice(), before);
    std::thread([before] {
        ThreadRef self = CurrentThreadPseudoHandle();
        if (SetThreadPriority(self, kThreadPriorityNormal)) {
            EXPECT_LT(OwnNice(), before);
        }
        EXPECT_TRUE(SetProcessPriorityClass(kNormalPriorityClass));
        EXPECT_TRUE(SetThreadPriority(self, kThreadPriorityNormal));
        EXPECT_EQ(OwnNice(), before);
    }).join();
    EXPECT_EQ(OwnNice(), before);
}
#endif

}  // namespace
