#include "platform/FileSystem.h"

#include <sys/stat.h>

#include <cstdlib>

#include "posix/UserFolders.h"

namespace platform {

bool FileExists(const std::string& path) {
    struct stat status {};
    return !path.empty() && stat(path.c_str(), &status) == 0;
}

std::string UserConfigurationHome() {
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config) return config;
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.config";
}

std::vector<std::string> SettingsFolders() {
    std::vector<std::string> folders;
    if (const char* chosen = std::getenv("VELA2_CONFIG_DIR"); chosen && *chosen)
        folders.push_back(chosen);
    folders.push_back(UserConfigurationHome() + "/vela2");
    folders.push_back("/etc/vela2");
    return folders;
}

std::string ResolveNamedPath(const std::string& path, const std::string& namingFile) {
    if (path.empty() || path.front() == '/') return path;
    size_t slash = namingFile.rfind('/');
    if (slash == std::string::npos) return path;
    return namingFile.substr(0, slash + 1) + path;
}

}  // namespace platform
