#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/DebugTrace.h"

using platform::DebugTrace;
using platform::ScopedTraceCapture;

TEST(DebugTraceTest, CaptureSeesFormattedLinesFromAnyThread) {
    ScopedTraceCapture capture;
    DebugTrace("Current camera state = 0x%02x", 0x21);
    std::thread other([] { DebugTrace("Bulk endpoint timeout: %d", -2); });
    other.join();
    auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Current camera state = 0x21");
    EXPECT_TRUE(capture.Contains("timeout: -2"));
    capture.Clear();
    EXPECT_TRUE(capture.Lines().empty());
}

TEST(DebugTraceTest, CapturesNestAndLinesOutsideAreDropped) {
    DebugTrace("nobody listens");
    ScopedTraceCapture outer;
    {
        ScopedTraceCapture inner;
        DebugTrace("inner");
        EXPECT_TRUE(inner.Contains("inner"));
    }
    DebugTrace("outer");
    ASSERT_EQ(outer.Lines().size(), 1u);
    EXPECT_EQ(outer.Lines()[0], "outer");
}

TEST(DebugTraceTest, EndingACaptureWhileOthersTraceIsSafe) {
    std::atomic<bool> stop{false};
    std::thread tracer([&] {
        while (!stop) DebugTrace("line %d", 1);
    });
    for (int i = 0; i < 200; ++i) {
        ScopedTraceCapture capture;
        DebugTrace("mine");
    }
    stop = true;
    tracer.join();
}
