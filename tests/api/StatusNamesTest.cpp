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

TEST(StatusNamesTest, GetErrorCopiesNameAndTerminatorOnly) {
    char text[64];
    std::memset(text, '#', sizeof text);
    LD_GetError(-38, text);
    EXPECT_STREQ(text, "ERROR_CAMER_RESET");
    EXPECT_EQ(text[18], '#') << "wrote past the terminator";

    LD_GetError(0, text);
    EXPECT_STREQ(text, "CAMERA_SUCCESS");
    LD_GetError(1, text);
    EXPECT_STREQ(text, "CAMERA_RESET");
    LD_GetError(4, text);
    EXPECT_STREQ(text, "ERROR_INCORRECT_OVERSCAN_BUFFER_SIZE");
}

TEST(StatusNamesTest, UnnamedCodesGiveTheEmptyText) {
    for (int32_t code : {13, 87, -52, 24, 1000, INT32_MIN}) {
        char text[8] = "garbage";
        LD_GetError(code, text);
        EXPECT_STREQ(text, "") << code;
        EXPECT_EQ(text[1], 'a') << "only the terminator is written";
    }
}

TEST(StatusNamesTest, NullDestinationIsIgnored) { LD_GetError(0, nullptr); }

TEST(StatusNamesTest, HeaderConstantsMatchTheNames) {
    char text[VELA2_STATUS_NAME_SIZE];
    LD_GetError(ERROR_TRIGGER_TIMEOUT, text);
    EXPECT_STREQ(text, "ERROR_TRIGGER_TIMEOUT");
    LD_GetError(RECONSTRUCTION_COMPLETED, text);
    EXPECT_STREQ(text, "RECONSTRUCTION_COMPLETED");
    LD_GetError(INVALID_USB_DEVICE, text);
    EXPECT_STREQ(text, "INVALID_USB_DEVICE");
}
