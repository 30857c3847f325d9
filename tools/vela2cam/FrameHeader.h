#pragma once
// The FITS header of one frame's files: what a FITS reader expects of a CCD
// picture, from the facts the capture gathered.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "FitsWriter.h"
#include "ModeFile.h"
#include "Options.h"

namespace vela2cam {

struct FrameFacts {
    uint32_t frame = 0;
    std::string dateObs;
    uint32_t exposureMs = 0;
    std::optional<double> ccdTemperature;
    std::optional<double> setpoint;
    std::optional<Binning> binning;
    Trigger trigger = Trigger::Software;
    int32_t mode = 0;
    uint32_t testPattern = 0;
    std::string libraryVersion;
    std::string firmware;
};

class FrameHeader {
  public:
    // Cards for a quadrant's image (quadrant 1 to 4) or a mosaic (0).
    static std::vector<FitsCard> Cards(const FrameFacts& facts, int quadrant, bool overscan);
    // FITS dates: UTC, ISO 8601, milliseconds.
    static std::string IsoUtc(std::chrono::system_clock::time_point when);
};

}  // namespace vela2cam
