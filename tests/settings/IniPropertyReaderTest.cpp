#include <gtest/gtest.h>

#include <string>

#include "platform/MessageSink.h"
#include "settings/CIniPropertyReader.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

namespace {

const char kIni[] =
    "[General Info]\r\n"
    "Simulated Data=1\r\n"
    "list=a;b\r\n"
    "=x\r\n"
    "k=\r\n"
    "Capture thread priority = THREAD_PRIORITY_HIGHEST \r\n"
    "\r\n"
    "[Device_04B4]\r\n"
    "1002=ignored\r\n";

class IniPropertyReaderTest : public ::testing::Test {
  protected:
    void SetUp() override { testsupport::WriteText(path_, kIni); }

    testsupport::TempFolder folder_{"vela2-ini-"};
    const std::string path_ = folder_ / "settings.ini";
    CIniPropertyReader reader_;
    platform::ScopedMessageCapture capture_;
};

// A failed open keeps the file opened before; absent values read as empty;
// section lines split at semicolons and need a named key.
TEST_F(IniPropertyReaderTest, ReadsAndWritesThroughTheOpenedFileOnly) {
    EXPECT_FALSE(reader_.Open(path_ + ".missing"));
    EXPECT_EQ(reader_.GetFileName(), "");
    ASSERT_TRUE(reader_.Open(path_));
    EXPECT_FALSE(reader_.Open(path_ + ".missing"));
    EXPECT_EQ(reader_.GetFileName(), path_);
    std::string value;
    EXPECT_TRUE(reader_.ReadString("Capture thread priority", value, "general info") &&
                value == "THREAD_PRIORITY_HIGHEST");
    EXPECT_TRUE(reader_.ReadString("Gain", value, "Temperature Settings") && value.empty());
    EXPECT_TRUE(reader_.ReservedOperation(5));

    CAbsPropertyReader::StringMap map{{"stale", "1"}};
    EXPECT_TRUE(reader_.ReadSection("General Info", map));
    EXPECT_EQ(map, (CAbsPropertyReader::StringMap{
                       {"Simulated Data", "1"},
                       {"list", "a"},
                       {"k", ""},
                       {"Capture thread priority", "THREAD_PRIORITY_HIGHEST"}}));
    EXPECT_TRUE(reader_.ReadSection("absent", map) && map.empty());
    CAbsPropertyReader::StringList sections{"stale"};
    reader_.GetSections(sections);
    EXPECT_EQ(sections, (CAbsPropertyReader::StringList{"General Info", "Device_04B4"}));

    reader_.WriteString("Gain", "0.01", "Temperature Settings");
    reader_.WriteSection("General Info", {{"Simulated Data", "0"}, {"New", "x"}});
    std::string gain, simulated, added;
    reader_.ReadString("Gain", gain, "Temperature Settings");
    reader_.ReadString("Simulated Data", simulated, "General Info");
    reader_.ReadString("New", added, "General Info");
    EXPECT_EQ(gain + " " + simulated + " " + added, "0.01 0 x");
    EXPECT_TRUE(capture_.Messages().empty());

    // Zeros and semicolons split, and empty tokens go.
    const char list[] = "a;;b\0\0c;\0";
    EXPECT_EQ(CIniPropertyReader::SplitList(list, sizeof list - 1),
              (CAbsPropertyReader::StringList{"a", "b", "c"}));
    EXPECT_TRUE(CIniPropertyReader::SplitList(list, 0).empty());
}

}  // namespace
