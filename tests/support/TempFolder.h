#pragma once
// A folder no other test uses, removed with all it holds at the end: test
// programs run side by side, and the library's files have fixed names.

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

namespace testsupport {

class TempFolder {
  public:
    explicit TempFolder(const std::string& prefix = "vela2-test-") {
        namespace fs = std::filesystem;
        std::random_device random;
        std::error_code error;
        do path_ = fs::temp_directory_path(error) / (prefix + std::to_string(random()));
        while (!error && !fs::create_directory(path_, error) && !error);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    std::string path() const { return path_.string(); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }

    // The names in the folder (or a folder below it), sorted.
    std::vector<std::string> Entries(const std::string& below = "") const {
        std::vector<std::string> names;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(path_ / below, error))
            names.push_back(entry.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    std::filesystem::path path_;
};

}  // namespace testsupport
