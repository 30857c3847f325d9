#include <gtest/gtest.h>

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

TEST(MessageSinkTest, CollectsTextCaptionAndIconWithoutBlocking) {
    ScopedMessageCapture capture;
    ShowMessage("Not Implemented.", ApplicationTitle(), MessageIcon::Error);
    auto messages = capture.Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, "Not Implemented.");
    EXPECT_STREQ(messages[0].caption.c_str(), "Vela2UsbCameraDll");
    EXPECT_EQ(messages[0].icon, MessageIcon::Error);
}

TEST(MessageSinkTest, CaptureScopesNestAndRestore) {
    ScopedMessageCapture outer;
    {
        ScopedMessageCapture inner;
        ShowMessage("inner", "c", MessageIcon::None);
        EXPECT_EQ(inner.Messages().size(), 1u);
    }
    ShowMessage("outer", "c", MessageIcon::None);
    ASSERT_EQ(outer.Messages().size(), 1u);
    EXPECT_EQ(outer.Messages()[0].text, "outer");
}

TEST(SystemErrorTest, LastErrorIsPerThreadAndHasText) {
    SetLastSystemError(kErrorAccessDenied);
    EXPECT_EQ(LastSystemError(), kErrorAccessDenied);
    EXPECT_NE(SystemErrorText(kErrorAccessDenied).find("denied"), std::string::npos);
    EXPECT_FALSE(SystemErrorText(kErrorFileNotFound).empty());
}
