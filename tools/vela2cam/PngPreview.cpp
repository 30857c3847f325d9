#include "PngPreview.h"

#include <algorithm>
#include <cmath>

#include "Text.h"
#include "platform/AtomicFile.h"

#ifdef VELA2CAM_HAVE_PNG
#include <png.h>
#endif

namespace vela2cam {

bool PngPreview::Available() {
#ifdef VELA2CAM_HAVE_PNG
    return true;
#else
    return false;
#endif
}

StretchRange PngPreview::RangeOf(const ImageView& image, double lowPercentile,
                                 double highPercentile) {
    size_t count = static_cast<size_t>(std::max(image.width, 0)) * std::max(image.height, 0);
    if (count == 0 || !image.pixels) return {};
    // A histogram finds both percentiles in one pass over any frame size.
    std::vector<size_t> histogram(65536, 0);
    for (size_t i = 0; i < count; ++i) ++histogram[image.pixels[i]];
    auto valueAt = [&](double percentile) {
        size_t rank = static_cast<size_t>(std::floor(percentile / 100.0 * (count - 1)));
        size_t seen = 0;
        for (size_t value = 0; value < histogram.size(); ++value) {
            seen += histogram[value];
            if (seen > rank) return static_cast<uint16_t>(value);
        }
        return static_cast<uint16_t>(65535);
    };
    return {valueAt(lowPercentile), valueAt(highPercentile)};
}

std::vector<uint8_t> PngPreview::Stretch(const ImageView& image, StretchRange range) {
    size_t count = static_cast<size_t>(std::max(image.width, 0)) * std::max(image.height, 0);
    std::vector<uint8_t> grey(count, 0);
    // A flat picture has no range to stretch: its pixels stay black.
    double span = range.high > range.low ? range.high - range.low : 1.0;
    for (size_t i = 0; i < count; ++i) {
        double scaled = (static_cast<double>(image.pixels[i]) - range.low) * 255.0 / span;
        grey[i] = static_cast<uint8_t>(std::clamp(std::lround(scaled), 0L, 255L));
    }
    return grey;
}

bool PngPreview::Write(const std::string& path, const ImageView& image, std::string& error) {
#ifdef VELA2CAM_HAVE_PNG
    if (image.width <= 0 || image.height <= 0 || !image.pixels) {
        error = "no image for the preview " + path;
        return false;
    }
    std::vector<uint8_t> grey = Stretch(image, RangeOf(image, kLowPercentile, kHighPercentile));
    platform::AtomicFile file(path);
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(image.width);
    png.height = static_cast<png_uint_32>(image.height);
    png.format = PNG_FORMAT_GRAY;
    if (!png_image_write_to_file(&png, file.TemporaryPath().c_str(), 0, grey.data(), 0, nullptr)) {
        error = "cannot write the preview " + path + ": " + png.message;
        png_image_free(&png);
        return false;
    }
    if (int failure = file.Commit(platform::Existing::Keep)) {
        error = FileErrorText("cannot write", path, failure);
        return false;
    }
    return true;
#else
    error = "this build of vela2cam cannot write PNG previews " + path;
    (void)image;
    return false;
#endif
}

}  // namespace vela2cam
