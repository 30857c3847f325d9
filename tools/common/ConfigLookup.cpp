#include "ConfigLookup.h"

#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vela2cam {
namespace {

std::string ProgramFolder() {
    char path[PATH_MAX];
    ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    std::string program(path, static_cast<size_t>(length));
    return program.substr(0, program.rfind('/'));
}

bool IsFile(const std::string& path) {
    struct stat status {};
    return stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// The library's own settings folders on this system.
std::vector<std::string> LibrarySettingsFolders() {
    std::vector<std::string> folders;
    if (const char* named = getenv("VELA2_CONFIG_DIR"); named && *named) folders.push_back(named);
    if (const char* config = getenv("XDG_CONFIG_HOME"); config && *config)
        folders.push_back(std::string(config) + "/vela2");
    else if (const char* home = getenv("HOME"); home && *home)
        folders.push_back(std::string(home) + "/.config/vela2");
    folders.push_back("/etc/vela2");
    return folders;
}

}  // namespace

std::vector<std::string> ConfigLookup::Folders(const std::string& chosen) {
    if (!chosen.empty()) return {chosen};
    std::vector<std::string> folders = LibrarySettingsFolders();
    // Installed as <prefix>/bin/<program> beside <prefix>/share/vela2; the
    // build tree keeps the same layout.
    if (std::string program = ProgramFolder(); !program.empty())
        folders.push_back(program + "/../share/vela2");
    return folders;
}

std::optional<std::string> ConfigLookup::FindFolder(const std::string& chosen) {
    for (const std::string& folder : Folders(chosen))
        if (IsFile(folder + "/modes.ini")) return folder;
    return std::nullopt;
}

void ConfigLookup::ShareWithLibrary(const std::string& folder, const std::string& chosen) {
    if (chosen.empty()) {
        for (const std::string& settings : LibrarySettingsFolders())
            if (IsFile(settings + "/Vela2Usb.ini")) return;
    }
    if (IsFile(folder + "/Vela2Usb.ini")) setenv("VELA2_CONFIG_DIR", folder.c_str(), 1);
}

}  // namespace vela2cam
