#include "platform/FileSystem.h"

#include <windows.h>

namespace platform {

bool FileExists(const std::string& path) {
    return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace platform
