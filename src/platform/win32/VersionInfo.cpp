#include "platform/VersionInfo.h"

#include <windows.h>

#include <vector>

namespace platform {
namespace {
constexpr DWORD kMaxVersionData = 65536;
const char* const kQueries[] = {"ProductName",     "ProductVersion", "CompanyName",
                                "FileDescription", "Comments",       "FileVersion",
                                "InternalName",    "LegalCopyright", "OriginalFilename"};
constexpr char kStringTable[] = "\\StringFileInfo\\040904e4\\";
}  // namespace

bool VersionInfo::Load(const std::string& modulePath) {
    values_.clear();
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(modulePath.c_str(), &ignored);
    if (size == 0) return false;
    if (size > kMaxVersionData) size = kMaxVersionData;
    std::vector<char> data(size);
    if (!GetFileVersionInfoA(modulePath.c_str(), 0, size, data.data())) return false;
    for (const char* name : kQueries) {
        std::string path = std::string(kStringTable) + name;
        char* value = nullptr;
        UINT length = 0;
        if (VerQueryValueA(data.data(), path.c_str(), reinterpret_cast<void**>(&value), &length) &&
            value != nullptr)
            values_[path] = std::string(value, length > 0 ? strnlen(value, length) : 0);
    }
    return true;
}

}  // namespace platform
