// Registry files: the parser on its own, and importing through the registry
// seam (our store natively, the system's registry editor under Wine).
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>
#include <vector>

#include "platform/RegFile.h"
#include "platform/Registry.h"
#include "support/RegistrySandbox.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"

using namespace platform;

namespace {

const char kFileBody[] =
    "\r\n[HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys]\r\n"
    "\"sz\"=\"text with \\\"quotes\\\" and \\\\\"\r\n"
    "@=\"default\"\r\n"
    "; a comment line\r\n"
    "\"dword\"=dword:0000002a\r\n"
    "\"binary\"=hex:0a,ff\r\n"
    "\"qword\"=hex(b):01,02,03,04,05,06,07,08\r\n"
    "\"none\"=hex(0):01,02\r\n"
    "\"big\"=hex(5):00,00,00,05\r\n"
    "\"continued\"=hex:01,02,\\\r\n"
    "  03,04\r\n"
    "\r\n[HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys\\Sub]\r\n";

const char kUnicodeStrings[] =
    "\"expand\"=hex(2):25,00,50,00,25,00,00,00\r\n"
    "\"multi\"=hex(7):61,00,00,00,62,00,00,00,00,00\r\n";
const char kAnsiStrings[] =
    "\"expand\"=hex(2):25,50,25,00\r\n"
    "\"multi\"=hex(7):61,00,62,00,00\r\n";

// What both files hold under Keys, with the bytes each value keeps.
const std::tuple<const char*, uint32_t, std::string> kExpected[] = {
    {"sz", kRegSz, std::string("text with \"quotes\" and \\\0", 25)},
    {"", kRegSz, std::string("default\0", 8)},
    {"dword", kRegDword, std::string("\x2a\0\0\0", 4)},
    {"binary", kRegBinary, "\x0a\xff"},
    {"qword", kRegQword, "\1\2\3\4\5\6\7\x08"},
    {"none", kRegNone, "\1\2"},
    {"big", kRegDwordBigEndian, std::string("\0\0\0\5", 4)},
    {"continued", kRegBinary, "\1\2\3\4"},
    {"expand", kRegExpandSz, std::string("%P%\0", 4)},
    {"multi", kRegMultiSz, std::string("a\0b\0\0", 5)},
};

TEST(RegFileParseTest, AMalformedLineRejectsTheFileWithItsNumber) {
    const char* bad[] = {
        "\"v\"=hex:zz",     "\"v\"=dword:123456789", "\"v\"=\"open",  "\"v\"=\"a\\q\"",
        "\"v\"=\"a\" junk", "\"v\" \"x\"",           "[HKEY_CURRENT", "stray text",
        "\"v\"=hex(x):00",  "\"v\"=word:1",
    };
    std::vector<RegFileKey> keys;
    RegFileError error;
    for (const char* line : bad) {
        std::string file = std::string("REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"ok\"=\"1\"\n") +
                           line + "\n\"after\"=\"2\"\n";
        EXPECT_TRUE(!ParseRegFile(file, keys, error) && error.line == 5u && keys.empty())
            << line << " (line " << error.line << ")";
    }
    EXPECT_FALSE(ParseRegFile("Windows Registry Editor\n", keys, error));
    EXPECT_FALSE(ParseRegFile("REGEDIT4\n\"v\"=\"before any key\"\n", keys, error));
    EXPECT_EQ(error.line, 2u);
}

// Through the registry seam: both encodings with every type, then a file of
// deletions; a file with one bad line applies nothing. The files' keys below
// kBase land below the sandbox's key; version 5 files are written in UTF-16,
// as the system's registry editor writes them.
class RegistryImportTest : public RegistrySandbox {
  protected:
    bool Import(std::string content, std::string& firstKey) {
        for (size_t at = 0; (at = content.find(kBase, at)) != std::string::npos;)
            content.replace(at, sizeof kBase - 1, base_);
        if (content.rfind(kRegFileHeader5, 0) == 0) {
            std::string utf16 = "\xFF\xFE";
            for (char c : content) utf16 += {c, '\0'};
            content = utf16;
        }
        return testsupport::WriteText(file_, content) && ImportRegistryFile(file_, firstKey);
    }

    static constexpr const char kBase[] = "Software\\Vela2ImportTest";
    testsupport::TempFolder folder_{"vela2-import-"};
    const std::string file_ = folder_ / "import.reg";
};

TEST_F(RegistryImportTest, UnicodeAndAnsiFilesWithEveryTypeRoundTripAndDeletionsApply) {
    std::string ansiBody = kFileBody;
    std::replace(ansiBody.begin(), ansiBody.end(), '\r', ' ');
    std::string firstKey = "unchanged";
    EXPECT_FALSE(
        Import(std::string(kRegFileHeader4) + "\n" + kFileBody + "\"bad\"=hex:0g\n", firstKey));
    EXPECT_EQ(firstKey, "unchanged");
    EXPECT_FALSE(Exists("Keys")) << "a file with one bad line applies nothing";
    for (const std::string& file :
         {std::string(kRegFileHeader5) + kFileBody +
              "\r\n[HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys]\r\n" + kUnicodeStrings,
          std::string(kRegFileHeader4) + "\n" + ansiBody +
              "[HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys]\n" + kAnsiStrings}) {
        SCOPED_TRACE(file[0] == 'R' ? "ANSI" : "UTF-16");
        DeleteRegistryTree(key_, "Keys");
        ASSERT_TRUE(Import(file, firstKey));
        EXPECT_EQ(firstKey, "HKEY_CURRENT_USER\\" + base_ + "\\Keys");
        RegKey key = 0;
        ASSERT_EQ(OpenRegistryKey(key_, "Keys", kKeyRead, &key), 0u);
        for (const auto& [name, type, bytes] : kExpected) {
            char data[64];
            uint32_t size = sizeof data, stored = 0;
            ASSERT_EQ(
                QueryRegistryValue(key, name, &stored, reinterpret_cast<uint8_t*>(data), &size), 0u)
                << name;
            EXPECT_EQ(std::pair(stored, std::string(data, size)), std::pair(type, bytes)) << name;
        }
        CloseRegistryKey(key);
        EXPECT_TRUE(Exists("Keys\\Sub"));
    }

    ASSERT_TRUE(Import(std::string(kRegFileHeader4) +
                           "\n[-HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys\\Sub]\n"
                           "[HKEY_CURRENT_USER\\Software\\Vela2ImportTest\\Keys]\n\"sz\"=-\n",
                       firstKey));
    EXPECT_FALSE(Exists("Keys\\Sub"));
    RegKey key = 0;
    ASSERT_EQ(OpenRegistryKey(key_, "Keys", kKeyRead, &key), 0u);
    uint32_t size = 0;
    EXPECT_EQ(QueryRegistryValue(key, "sz", nullptr, nullptr, &size), kErrorFileNotFound);
    EXPECT_EQ(QueryRegistryValue(key, "dword", nullptr, nullptr, &size), 0u);
    CloseRegistryKey(key);
}

}  // namespace
