#pragma once
// The version data that a module file carries: its string table, queried by
// path such as "\StringFileInfo\040904e4\ProductName".

#include <map>
#include <string>

namespace platform {

class VersionInfo {
  public:
    // Reads the version data of the file. False when the file cannot be read
    // or carries none (the caller's "version data size is 0"). Blocks on file
    // I/O only; reads at most 65536 bytes of version data.
    bool Load(const std::string& modulePath);

    // False when the loaded data has no such value.
    bool Query(const std::string& path, std::string& value) const;

  private:
    std::map<std::string, std::string> values_;
};

}  // namespace platform
