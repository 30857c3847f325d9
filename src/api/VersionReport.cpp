#include "api/VersionReport.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"
#include "platform/Memory.h"
#include "platform/Module.h"
#include "platform/VersionInfo.h"

namespace {
constexpr int32_t kVersionInfoError = -51;
constexpr size_t kMaxPath = 260;
constexpr size_t kFirmwareTextSize = 64;

struct VersionLine {
    const char* name;
    const char* format;
};
constexpr VersionLine kLines[] = {
    {"ProductName", "ProductName \t = %s\n"}, {"ProductVersion", "ProductVersion \t = %s\n"},
    {"CompanyName", "CompanyName \t = %s\n"}, {"FileDescription", "FileDescription \t = %s\n"},
    {"Comments", "Comments \t = %s\n"},
};

std::string Trim(const std::string& text) {
    const char* blanks = " \t\r\n\v\f";
    size_t first = text.find_first_not_of(blanks);
    if (first == std::string::npos) return std::string();
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

std::string Field(const std::string& text, size_t first, size_t count) {
    return first < text.size() ? Trim(text.substr(first, count)) : std::string();
}

std::string Format(const char* format, const std::string& value) {
    std::vector<char> line(std::strlen(format) + value.size() + 1);
    std::snprintf(line.data(), line.size(), format, value.c_str());
    return line.data();
}
}  // namespace

int32_t GetVersionReport(CTesselCamera& camera, char* buffer, int32_t size) {
    std::string& modulePath = Process().ModulePath;
    if (modulePath.empty()) modulePath = platform::ModuleFilePath().substr(0, kMaxPath);
    bool usable =
        buffer != nullptr && size > 0 && platform::IsWritable(buffer, static_cast<size_t>(size));
    if (usable) std::memset(buffer, 0, static_cast<size_t>(size));

    platform::VersionInfo info;
    if (!info.Load(modulePath)) {
        platform::DebugTrace("Error found during GetFileVersionInfoSize with file %s\n",
                             modulePath.c_str());
        return kVersionInfoError;
    }
    std::string report = "Dll Version Info:\n";
    for (const VersionLine& line : kLines) {
        std::string value;
        if (info.Query(std::string("\\StringFileInfo\\040904e4\\") + line.name, value))
            report += Format(line.format, value);
    }
    std::string firmware;
    if (camera.IsInitialized()) {
        char text[kFirmwareTextSize + 1] = {};
        if (!camera.ReadVendorRequest("0xAB", "0x0", "0x0", reinterpret_cast<uint8_t*>(text),
                                      static_cast<int32_t>(kFirmwareTextSize)))
            return kVersionInfoError;
        firmware = text;
    }
    report += "Firmware \t\t = " + Field(firmware, 0, 8) + " - " + Field(firmware, 8, 16) + " - " +
              Field(firmware, 24, std::string::npos) + "\n";
    if (!usable) return 0;
    size_t count = std::min(static_cast<size_t>(size), report.size());
    std::memcpy(buffer, report.data(), count - 1);
    buffer[count - 1] = '\0';
    return 0;
}
