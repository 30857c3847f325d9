#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/MessageSink.h"
#include "platform/SystemError.h"
#include "settings/CRegistryKey.h"
#include "settings/CRegistryPropertyReader.h"
#include "support/RegistrySandbox.h"

using platform::kHkeyCurrentUser;
using platform::kKeyAllAccess;

namespace {

const char kOpenFirst[] = "CRegistryPropertyReader::Open must be called first.";

class RegistryPropertyReaderTest : public RegistrySandbox {
  protected:
    CRegistryKey AddSection(const char* name) const {
        return CRegistryKey(kHkeyCurrentUser, location_.c_str(), kKeyAllAccess)
            .CreateOrOpenKey(name, "", 0, kKeyAllAccess, nullptr, nullptr);
    }
    void ExpectOnlyMessage(const platform::ScopedMessageCapture& capture, const std::string& text,
                           const std::string& caption) {
        auto messages = capture.Messages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].text + " | " + messages[0].caption, text + " | " + caption);
    }

    // What a read on the open reader gives; stale text must not survive it.
    std::string Read(const char* key, const char* section) {
        std::string value = "stale";
        EXPECT_TRUE(reader_.ReadString(key, value, section)) << key;
        return value;
    }

    std::string location_;
    CRegistryPropertyReader reader_;
};

TEST_F(RegistryPropertyReaderTest, RefusedOpensSayWhyAndEveryOperationThenWantsAnOpenReader) {
    platform::ScopedMessageCapture capture;
    EXPECT_FALSE(reader_.OpenAt("Software", platform::kHkeyLocalMachine));
    ExpectOnlyMessage(capture, "Invalid format: use Software\\yyy", platform::ApplicationTitle());
    EXPECT_EQ(reader_.GetRootKey(), kHkeyCurrentUser);
    capture.Clear();
    EXPECT_FALSE(reader_.Open("NoSuchVela2Head\\Camera Settings"));
    ExpectOnlyMessage(capture, platform::SystemErrorText(2),
                      "CRegistryKey::CRegistryKey(HKEY hKey ...)");
    EXPECT_EQ(capture.Messages()[0].icon, platform::MessageIcon::Error);
    EXPECT_FALSE(reader_.IsOpened());
    capture.Clear();

    std::string value = "stale";
    CAbsPropertyReader::StringMap map;
    CAbsPropertyReader::StringList list{"kept"};
    EXPECT_FALSE(reader_.ReadString("key", value, "General Info") || !value.empty());
    EXPECT_FALSE(reader_.ReadSection("s", map));
    reader_.WriteSection("s", {{"k", "v"}});
    reader_.WriteString("k", "v", "s");
    reader_.GetSections(list);
    EXPECT_EQ(list, CAbsPropertyReader::StringList{"kept"});
    EXPECT_EQ(capture.Messages().size(), 5u);
    for (const auto& message : capture.Messages()) {
        EXPECT_EQ(message.text, kOpenFirst);
        EXPECT_EQ(message.caption, platform::ApplicationTitle());
    }
    capture.Clear();
    EXPECT_FALSE(reader_.ReservedOperation(0));
    ExpectOnlyMessage(capture, "Not Implemented.", platform::ApplicationTitle());
}

// Open makes the missing path once. Absent keys and sections read empty and
// an absent section is not made; writes make theirs, and values of other
// types read as their text form through both reads.
TEST_F(RegistryPropertyReaderTest, OpenCreatesThePathOnceAbsentReadsAreEmptyAndWritesReadBack) {
    location_ = base_ + "\\One\\Two\\Camera Settings";
    {
        platform::ScopedTraceCapture trace;
        ASSERT_TRUE(reader_.Open(location_));  // the default root
        EXPECT_TRUE(trace.Contains("Creating registry key"));
    }
    EXPECT_TRUE(Exists("One\\Two\\Camera Settings"));
    EXPECT_TRUE(reader_.GetLocation() == location_ && reader_.GetRootKey() == kHkeyCurrentUser);
    reader_.Close();
    EXPECT_FALSE(reader_.IsOpened());
    platform::ScopedTraceCapture trace;
    ASSERT_TRUE(reader_.OpenAt(location_, kHkeyCurrentUser));
    EXPECT_FALSE(trace.Contains("Creating registry key"));

    EXPECT_EQ(Read("Gain", "Temperature Settings"), "");
    CAbsPropertyReader::StringMap map{{"kept", "1"}};
    EXPECT_TRUE(reader_.ReadSection("Temperature Settings", map) && map.size() == 1u);
    EXPECT_FALSE(Exists("One\\Two\\Camera Settings\\Temperature Settings"));
    // An absent key in a present section is created, empty.
    AddSection("Temperature Settings");
    EXPECT_EQ(Read("Gain", "Temperature Settings"), "");
    CRegistryKey::Value created = AddSection("Temperature Settings").QueryValue("Gain");
    EXPECT_TRUE(created.Type() == platform::kRegSz && created.Size() == 1u);

    reader_.WriteString("Bulk IN endpoint number", "2", "Usb Settings");
    reader_.WriteSection("General Info", {{"Simulated Data", "1"}, {"text", "x"}});
    CRegistryKey section = AddSection("General Info");
    section.SetValue(CRegistryKey::Value("dword", "\x05\0\0\0", 4, platform::kRegDword));
    section.SetValue(CRegistryKey::Value("multi", "a\0b\0", 5, platform::kRegMultiSz));
    EXPECT_EQ(Read("Bulk IN endpoint number", "Usb Settings"), "2");
    EXPECT_EQ(Read("dword", "General Info"), "5");
    map.clear();  // a present section adds to what the map held
    EXPECT_TRUE(reader_.ReadSection("General Info", map));
    EXPECT_EQ(map, (CAbsPropertyReader::StringMap{
                       {"Simulated Data", "1"}, {"dword", "5"}, {"multi", "a"}, {"text", "x"}}));
    CAbsPropertyReader::StringList sections{"stale"};
    reader_.GetSections(sections);
    EXPECT_EQ(sections, (CAbsPropertyReader::StringList{"General Info", "Temperature Settings",
                                                        "Usb Settings"}));
}

}  // namespace
