#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include "support/ProcessResources.h"

// An unload must not leave one of the library's threads to run code that is
// no longer there: the probe's unload meets a thread busy for ever, one
// started during the unload and one never resumed. A thread left behind would
// fault at once in the unmapped code, ending this program, or stay counted.
TEST(ThreadUnloadTest, AnUnloadEndsTheThreadsItCannotWaitFor) {
    const int before = testsupport::ThreadCount();
    HMODULE probe = LoadLibraryA(VELA2_UNLOAD_PROBE);
    ASSERT_NE(probe, nullptr) << VELA2_UNLOAD_PROBE;
    auto start = reinterpret_cast<int (*)()>(
        reinterpret_cast<void*>(GetProcAddress(probe, "StartBusyThread")));
    ASSERT_NE(start, nullptr);
    ASSERT_EQ(start(), 1);
    ASSERT_TRUE(FreeLibrary(probe));
    EXPECT_EQ(testsupport::ThreadCountSettledAt(before), before);
}
#endif
