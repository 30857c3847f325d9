#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/DebugTrace.h"
#include "platform/MessageSink.h"
#include "platform/Module.h"
#include "platform/SystemError.h"

using namespace platform;

TEST(ModuleTest, PathNamesAnExistingBinaryByFullPath) {
    std::string path = ModuleFilePath();
    ASSERT_FALSE(path.empty());
#ifdef _WIN32
    EXPECT_NE(path.find(':'), std::string::npos);
#else
    EXPECT_EQ(path.front(), '/');
#endif
    EXPECT_NE(path.find("test_platform"), std::string::npos);
}

TEST(MessageSinkTest, CapturesNestAndCollectTextCaptionAndIconWithoutBlocking) {
    ScopedMessageCapture outer;
    {
        ScopedMessageCapture inner;
        ShowMessage("inner", "c", MessageIcon::None);
        EXPECT_EQ(inner.Messages().size(), 1u);
    }
    ShowMessage("Not Implemented.", ApplicationTitle(), MessageIcon::Error);
    auto messages = outer.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not Implemented.");
    EXPECT_EQ(messages[0].caption, "Vela2UsbCameraDll");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
}

TEST(SystemErrorTest, LastErrorIsPerThreadAndHasText) {
    SetLastSystemError(kErrorAccessDenied);
    EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
    EXPECT_NE(SystemErrorText(kErrorAccessDenied).find("denied"), std::string::npos);
    EXPECT_FALSE(SystemErrorText(kErrorFileNotFound).empty());
}

TEST(DebugTraceTest, CapturesNestAndSeeFormattedLinesFromAnyThread) {
    DebugTrace("nobody listens");
    ScopedTraceCapture outer;
    {
        ScopedTraceCapture inner;
        DebugTrace("inner");
        EXPECT_TRUE(inner.Contains("inner"));
    }
    DebugTrace("Current camera state = 0x%02x", 0x21);
    std::thread other([] { DebugTrace("Bulk endpoint timeout: %d", -2); });
    other.join();
    auto lines = outer.Lines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "Current camera state = 0x21");
    EXPECT_TRUE(outer.Contains("timeout: -2"));
    outer.Clear();
    EXPECT_TRUE(outer.Lines().empty());
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
