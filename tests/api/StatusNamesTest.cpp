#include <gtest/gtest.h>

#include <cstring>

#include "Vela2UsbCameraDll.h"

// Every named code of the list gives its own spelling and the unnamed ones,
// like codes that are no codes, the empty text; only the name and its
// terminator are written, and every name fits VELA2_STATUS_NAME_SIZE.
TEST(StatusNamesTest, GetErrorCopiesNameAndTerminatorOnly) {
    auto expectName = [](int32_t code, const char* name) {
        SCOPED_TRACE(code);
        char text[VELA2_STATUS_NAME_SIZE + 1];
        std::memset(text, '#', sizeof text);
        LD_GetError(code, text);
        EXPECT_STREQ(text, name);
        EXPECT_EQ(text[std::strlen(name) + 1], '#') << "wrote past the terminator";
        EXPECT_LT(std::strlen(name), size_t{VELA2_STATUS_NAME_SIZE});
    };
#define NAMED(name, value) expectName(name, #name);
#define UNNAMED(name, value) expectName(name, "");
    VELA2_STATUS_CODES(NAMED, UNNAMED)
#undef NAMED
#undef UNNAMED
    expectName(-38, "ERROR_CAMER_RESET");  // applications compare this spelling
    for (int32_t unnamed : {13, 1000, INT32_MIN}) expectName(unnamed, "");
    LD_GetError(0, nullptr);  // a null destination is ignored
}
