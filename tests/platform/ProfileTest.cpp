// INI files through the profile seam: our own reader and writer natively, the
// system's profile functions under Wine; the same expectations hold for both.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

using namespace platform;

namespace {

const char kSettings[] =
    "; settings written on Windows\r\n"
    "[General Info]\r\n"
    "  Key One  =  value one  \r\n"
    "Quoted=\"  spaced  \"\r\n"
    "Single='x'\r\n"
    "Mismatch=\"x'\r\n"
    "Empty=\r\n"
    "=nameless\r\n"
    "; inner comment\r\n"
    "novalue\r\n"
    "list=a;b\r\n"
    "\r\n"
    "[Device_04B4]\r\n"
    "1002=\r\n";

class ProfileTest : public ::testing::Test {
  protected:
    std::string Read(const char* section, const char* key, const char* def = "",
                     uint32_t size = 256) {
        std::vector<char> buffer(size + 1, '#');
        uint32_t length = ProfileReadString(section, key, def, buffer.data(), size, path_.c_str());
        EXPECT_EQ(buffer[length], '\0');
        return std::string(buffer.data(), length);
    }
    static std::vector<std::string> Split(const std::vector<char>& buffer, uint32_t length) {
        std::vector<std::string> items;
        for (uint32_t start = 0; start < length; start += uint32_t(items.back().size()) + 1)
            items.emplace_back(&buffer[start]);
        return items;
    }

    testsupport::TempFolder folder_{"vela2-profile-"};
    const std::string path_ = folder_ / "settings.ini";
};

TEST_F(ProfileTest, ValuesAreTrimmedUnquotedCutToTheBufferAndFoundWithoutRegardToCase) {
    testsupport::WriteText(path_, kSettings);
    EXPECT_EQ(Read("general info", "KEY ONE"), "value one");
    EXPECT_EQ(Read("General Info", "Quoted"), "  spaced  ");
    EXPECT_EQ(Read("General Info", "Single"), "x");
    EXPECT_EQ(Read("General Info", "Mismatch"), "\"x'");
    EXPECT_EQ(Read("General Info", "Empty", "default"), "");
    EXPECT_EQ(Read("General Info", "list"), "a;b");
    EXPECT_EQ(Read("Device_04B4", "1002", "default"), "");
    EXPECT_EQ(Read("General Info", "Key One", "", 4), "val");
    EXPECT_EQ(Read("General Info", "Key One", "", 1), "");
    // Missing entries give the default without its trailing blanks.
    EXPECT_EQ(Read("General Info", "absent", "fallback  "), "fallback");
    EXPECT_EQ(Read("No Section", "Key One", nullptr), "");
    std::filesystem::remove(path_);
    EXPECT_EQ(Read("General Info", "Key One", "none"), "none");
}

TEST_F(ProfileTest, SectionsListEntriesWithoutCommentsAndNamesInFileOrderForLfFilesToo) {
    std::string lf = kSettings;
    lf.erase(std::remove(lf.begin(), lf.end(), '\r'), lf.end());
    for (const std::string& text : {std::string(kSettings), lf}) {
        std::filesystem::remove(path_);
        testsupport::WriteText(path_, text);
        std::vector<char> buffer(1024);
        uint32_t length = ProfileSectionNames(buffer.data(), 256, path_.c_str());
        EXPECT_EQ(Split(buffer, length), (std::vector<std::string>{"General Info", "Device_04B4"}));
        EXPECT_EQ(buffer[length], '\0');
        length = ProfileSection("GENERAL INFO", buffer.data(), 1024, path_.c_str());
        EXPECT_EQ(Split(buffer, length),
                  (std::vector<std::string>{"Key One=value one", "Quoted=\"  spaced  \"",
                                            "Single='x'", "Mismatch=\"x'", "Empty=", "=nameless",
                                            "novalue", "list=a;b"}));
        EXPECT_EQ(ProfileSection("absent", buffer.data(), 1024, path_.c_str()), 0u);
    }
    // A list that does not fit is cut.
    std::vector<char> small(8, '#');
    EXPECT_EQ(ProfileSectionNames(small.data(), 8, path_.c_str()), 6u);
    EXPECT_EQ(std::string(small.data()), "Genera");
#ifndef _WIN32
    // Windows closes the cut list with a second zero; Wine's ANSI entry
    // point leaves that byte alone.
    EXPECT_EQ(small[7], '\0');
#endif
}

TEST_F(ProfileTest, WritesCreateTheFileReplaceAddAndRemoveEntriesAndKeepTheComments) {
    testsupport::WriteText(path_, kSettings);
#ifndef _WIN32
    // The system rewrites a whole file from what it understood; ours touches
    // only the line concerned, so a hand-formatted file keeps its look.
    ASSERT_TRUE(ProfileWriteString("General Info", "Empty", "filled", path_.c_str()));
    std::string expected = kSettings;
    expected.replace(expected.find("Empty=\r\n"), 8, "Empty=filled\r\n");
    ASSERT_TRUE(ProfileWriteString("General Info", "Added", "1", path_.c_str()));
    expected.insert(expected.find("\r\n[Device_04B4]"), "Added=1\r\n");
    EXPECT_EQ(testsupport::ReadText(path_), expected);
#endif
    ASSERT_TRUE(ProfileWriteString("general info", "key one", "changed", path_.c_str()));
    ASSERT_TRUE(ProfileWriteString("General Info", "Added", "new", path_.c_str()));
    ASSERT_TRUE(ProfileWriteString("Fresh", "k", "v", path_.c_str()));
    ASSERT_TRUE(ProfileWriteString("General Info", "Single", nullptr, path_.c_str()));
    ASSERT_TRUE(ProfileWriteString("Device_04B4", nullptr, nullptr, path_.c_str()));
    EXPECT_EQ(Read("General Info", "Key One"), "changed");
    EXPECT_EQ(Read("General Info", "Added"), "new");
    EXPECT_EQ(Read("Fresh", "k"), "v");
    EXPECT_EQ(Read("General Info", "Single", "gone"), "gone");
    EXPECT_EQ(Read("Device_04B4", "1002", "gone"), "gone");
    EXPECT_EQ(Read("General Info", "Quoted"), "  spaced  ");
    std::string text = testsupport::ReadText(path_);
    EXPECT_NE(text.find("; settings written on Windows"), std::string::npos);
    EXPECT_NE(text.find("; inner comment"), std::string::npos);

    std::filesystem::remove(path_);
    EXPECT_FALSE(ProfileFileExists(path_.c_str()));
    ASSERT_TRUE(ProfileWriteString("Section", "key", "value", path_.c_str()));
    EXPECT_TRUE(ProfileFileExists(path_.c_str()));
    EXPECT_EQ(Read("section", "KEY"), "value");
}

}  // namespace
