#include "platform/FileSystem.h"

#include <windows.h>

namespace platform {

bool FileExists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> SettingsFolders() { return {}; }

std::string ResolveNamedPath(const std::string& path, const std::string&) { return path; }

}  // namespace platform
