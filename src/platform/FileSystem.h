#pragma once
// Paths and file status as the platform has them.

#include <string>
#include <vector>

namespace platform {

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
// Windows paths name the same file whatever their case.
constexpr bool kCaseInsensitivePaths = true;
#else
constexpr char kPathSeparator = '/';
constexpr bool kCaseInsensitivePaths = false;
#endif

// True when the path names an existing file or directory. Never blocks for
// long; no error is reported beyond the answer.
bool FileExists(const std::string& path);

// Folders holding the camera's settings, searched in this order before the
// library's own folder. On Windows none: the settings sit beside the library.
// On POSIX systems, where libraries are installed into system folders nobody
// edits, they are $VELA2_CONFIG_DIR, the user's configuration folder
// ($XDG_CONFIG_HOME/vela2 or ~/.config/vela2) and /etc/vela2. Reads only the
// environment; never blocks.
std::vector<std::string> SettingsFolders();

// The path a settings file names, as the platform resolves it. Windows opens
// the path exactly as written; on POSIX systems a relative path is taken
// relative to the folder of the file that names it, so a configuration folder
// can be moved or installed whole.
std::string ResolveNamedPath(const std::string& path, const std::string& namingFile);

}  // namespace platform
