#pragma once
// Where a client program finds the camera's configuration (modes.ini, the
// settings INI and the EPAL images): the folders the library searches for its
// settings, then the samples installed beside the program.

#include <optional>
#include <string>
#include <vector>

namespace vela2cam {

class ConfigLookup {
  public:
    // The folders searched, in order: the chosen one (a command-line option)
    // when given, else $VELA2_CONFIG_DIR, $XDG_CONFIG_HOME/vela2 (or
    // ~/.config/vela2), /etc/vela2, and the program's ../share/vela2.
    static std::vector<std::string> Folders(const std::string& chosen);
    // The first of those folders that holds a modes.ini.
    static std::optional<std::string> FindFolder(const std::string& chosen);
    // Points the library at the settings of the folder found when the user
    // chose it, or when the library's own settings folders hold none (the
    // installed samples then stand in). Call before the first library call.
    static void ShareWithLibrary(const std::string& folder, const std::string& chosen);
};

}  // namespace vela2cam
