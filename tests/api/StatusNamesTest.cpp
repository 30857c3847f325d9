#include <gtest/gtest.h>

#include <cstring>

#include "Vela2UsbCameraDll.h"
#include "api/StatusNames.h"

TEST(StatusNamesTest, TableHasExactlyTheNamedCodes) {
    std::map<int32_t, std::string> names;
    FillStatusNames(names);
    EXPECT_EQ(names.size(), 74u);
    EXPECT_EQ(names.begin()->first, -51);
    EXPECT_EQ(names.rbegin()->first, 23);
    EXPECT_EQ(names.count(13), 0u);
    size_t longest = 0;
    for (const auto& entry : names) longest = std::max(longest, entry.second.size());
    EXPECT_EQ(longest + 1, static_cast<size_t>(VELA2_STATUS_NAME_SIZE));
}

// Named codes (header constants included) give their name, unnamed ones the
// empty text; either way only the name and its terminator are written.
TEST(StatusNamesTest, GetErrorCopiesNameAndTerminatorOnly) {
    auto expectName = [](int32_t code, const char* name) {
        SCOPED_TRACE(code);
        char text[VELA2_STATUS_NAME_SIZE + 1];
        std::memset(text, '#', sizeof text);
        LD_GetError(code, text);
        EXPECT_STREQ(text, name);
        EXPECT_EQ(text[std::strlen(name) + 1], '#') << "wrote past the terminator";
    };
    expectName(-38, "ERROR_CAMER_RESET");
    expectName(0, "CAMERA_SUCCESS");
    expectName(1, "CAMERA_RESET");
    expectName(4, "ERROR_INCORRECT_OVERSCAN_BUFFER_SIZE");  // the longest
    expectName(ERROR_TRIGGER_TIMEOUT, "ERROR_TRIGGER_TIMEOUT");
    expectName(RECONSTRUCTION_COMPLETED, "RECONSTRUCTION_COMPLETED");
    expectName(INVALID_USB_DEVICE, "INVALID_USB_DEVICE");
    for (int32_t unnamed : {13, 87, -52, 24, 1000, INT32_MIN}) expectName(unnamed, "");
    LD_GetError(0, nullptr);  // a null destination is ignored
}
