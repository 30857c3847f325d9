#include "platform/FileSystem.h"

#include <sys/stat.h>

namespace platform {

bool FileExists(const std::string& path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0;
}

}  // namespace platform
