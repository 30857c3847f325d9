#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/DebugTrace.h"
#include "platform/MessageSink.h"

using namespace platform;

// Messages and trace lines go to the innermost capture only, from any thread,
// and never block on a user.
TEST(CaptureTest, MessagesAndTraceLinesReachTheInnermostCapture) {
    DebugTrace("nobody listens");
    ScopedMessageCapture outerMessages;
    ScopedTraceCapture outer;
    {
        ScopedMessageCapture inner;
        ScopedTraceCapture innerTrace;
        ShowMessage("inner", "c", MessageIcon::None);
        DebugTrace("inner");
        EXPECT_TRUE(inner.Messages().size() == 1u && innerTrace.Contains("inner"));
    }
    ShowMessage("Not Implemented.", ApplicationTitle(), MessageIcon::Error);
    ASSERT_EQ(outerMessages.Messages().size(), 1u);
    EXPECT_EQ(outerMessages.Messages()[0].caption, "Vela2UsbCameraDll");

    DebugTrace("Current camera state = 0x%02x", 0x21);
    std::thread([] { DebugTrace("Bulk endpoint timeout: %d", -2); }).join();
    EXPECT_EQ(outer.Lines(), (std::vector<std::string>{"Current camera state = 0x21",
                                                       "Bulk endpoint timeout: -2"}));
    outer.Clear();
    EXPECT_TRUE(outer.Lines().empty());
}

TEST(CaptureTest, EndingATraceCaptureWhileOthersTraceIsSafe) {
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
