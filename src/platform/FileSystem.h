#pragma once
// Paths and file status as the platform has them.

#include <string>

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

}  // namespace platform
