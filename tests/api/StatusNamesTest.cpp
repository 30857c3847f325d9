#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "api/StatusNames.h"

// The table holds the named codes of the list and nothing else: every
// enumerator's value gives its own spelling, the unnamed ones and codes that
// are no codes the empty text.
TEST(StatusNamesTest, TableHasExactlyTheNamedCodesOfTheList) {
    std::map<int32_t, std::string> names;
    FillStatusNames(names);
    std::map<int32_t, std::string> listed;
    std::vector<int32_t> unnamed;
#define NAMED(name, value) listed[name] = #name;
#define UNNAMED(name, value) unnamed.push_back(name);
    VELA2_STATUS_CODES(NAMED, UNNAMED)
#undef NAMED
#undef UNNAMED
    EXPECT_EQ(names, listed);
    EXPECT_EQ(names.size(), 74u);
    for (int32_t code : unnamed) EXPECT_EQ(names.count(code), 0u) << code;
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
