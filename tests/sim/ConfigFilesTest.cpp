// The bundled settings exist twice, as the INI file and as the registry file
// for registry mode; they must say the same.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/Profile.h"
#include "platform/RegFile.h"
#include "support/TextFiles.h"

namespace {

const std::string kSource = VELA2_SOURCE_CONFIG_DIR;
const std::string kSettingsKey =
    "HKEY_LOCAL_MACHINE\\Software\\Quintaris Riravir\\USB\\VELA2_USB\\Camera Settings";

std::string IniValue(const std::string& section, const std::string& key) {
    char buffer[256] = {};
    platform::ProfileReadString(section.c_str(), key.c_str(), "<absent>", buffer, sizeof buffer,
                                (kSource + "/Vela2Usb.ini").c_str());
    return buffer;
}

TEST(ConfigFiles, RegistryFileCarriesTheSettingsOfTheIniFile) {
    std::vector<platform::RegFileKey> keys;
    platform::RegFileError error;
    ASSERT_TRUE(
        platform::ParseRegFile(testsupport::ReadText(kSource + "/Vela2Usb.reg"), keys, error))
        << error.line << ": " << error.message;

    size_t values = 0;
    bool device = false;
    for (const platform::RegFileKey& key : keys) {
        ASSERT_EQ(key.path.compare(0, kSettingsKey.size(), kSettingsKey), 0) << key.path;
        std::string section = key.path.substr(kSettingsKey.size());
        if (section.empty()) continue;
        section = section.substr(1);
        for (const platform::RegFileValue& value : key.values) {
            if (section == "Usb Settings\\Devices\\04B4") {
                device = value.name == "1002";
                continue;
            }
            EXPECT_EQ(std::string(value.data.begin(), value.data.end()),
                      IniValue(section, value.name) + '\0')
                << section << " / " << value.name;
            ++values;
        }
    }
    EXPECT_TRUE(device) << "the simulated camera's product ID is listed";
    EXPECT_GE(values, 35u);
    EXPECT_EQ(IniValue("Device_04B4", "1002"), "Vela2 simulated camera");
}

}  // namespace
