#pragma once
// A quick look at a picture: an 8-bit grey PNG, stretched linearly between
// two percentiles of the pixel values so faint detail and hot pixels both
// stay visible.

#include <cstdint>
#include <string>
#include <vector>

#include "FitsWriter.h"

namespace vela2cam {

struct StretchRange {
    uint16_t low = 0;
    uint16_t high = 0;
};

class PngPreview {
  public:
    static constexpr double kLowPercentile = 0.5;
    static constexpr double kHighPercentile = 99.5;

    // Whether this build can write previews (libpng was found).
    static bool Available();
    // The pixel values at the two percentiles.
    static StretchRange RangeOf(const ImageView& image, double lowPercentile,
                                double highPercentile);
    // 0 at or below low, 255 at or above high, linear between.
    static std::vector<uint8_t> Stretch(const ImageView& image, StretchRange range);
    // The preview, written atomically and never over an existing file; false
    // with a message.
    static bool Write(const std::string& path, const ImageView& image, std::string& error);
};

}  // namespace vela2cam
