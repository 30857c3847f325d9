#pragma once
// What the tool needs from a mode that the library does not report: the
// binning factors in the mode's EPAL file, found through the mode file's
// "Mode<n>" section as the library finds it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace vela2cam {

struct Binning {
    int columns = 1;
    int rows = 1;
};

class ModeFile {
  public:
    // The numbers of the file's Mode<n> sections, in the file's order.
    static std::vector<int32_t> Modes(const std::string& modeFile);
    // The "Configuration File" of section Mode<mode>; empty when absent.
    static std::string EpalFileFor(const std::string& modeFile, int32_t mode);
    // The binning of the mode's EPAL file; nothing when it cannot be read.
    static std::optional<Binning> BinningFor(const std::string& modeFile, int32_t mode);
    // The binning bytes of an EPAL block image (bytes 18 and 21).
    static std::optional<Binning> BinningOf(const std::string& epalBytes);
};

}  // namespace vela2cam
