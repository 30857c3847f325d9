#include <gtest/gtest.h>

#include "platform/Module.h"
#include "platform/VersionInfo.h"

namespace {
std::string LibraryPath() { return std::string(VELA2_LIBRARY_DIR) + "/" + VELA2_LIBRARY_PATH; }
const std::string kTable = "\\StringFileInfo\\040904e4\\";
}  // namespace

TEST(VersionInfoTest, TheLibraryFileCarriesItsVersionStringsAndOthersNone) {
    platform::VersionInfo info;
    ASSERT_TRUE(info.Load(LibraryPath()));
    std::string value;
    ASSERT_TRUE(info.Query(kTable + "ProductName", value));
    EXPECT_EQ(value, "Vela2UsbCameraDll Dynamic Link Library");
    ASSERT_TRUE(info.Query(kTable + "ProductVersion", value));
    EXPECT_EQ(value, "4, 6, 0, 1");
    for (const char* name : {"CompanyName", "FileDescription", "Comments"}) {
        EXPECT_TRUE(info.Query(kTable + name, value)) << name;
        EXPECT_FALSE(value.empty()) << name;
    }
    EXPECT_FALSE(info.Query(kTable + "NoSuchString", value));

    // Files without version data are refused.
    platform::VersionInfo none;
    EXPECT_FALSE(none.Load(platform::ModuleFilePath()));  // this test program has none
    EXPECT_FALSE(none.Load(LibraryPath() + ".missing"));
    EXPECT_FALSE(none.Load(""));
}
