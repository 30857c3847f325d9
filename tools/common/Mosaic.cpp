#include "Mosaic.h"

#include <algorithm>

namespace vela2cam {

MosaicLayout Mosaic::LayoutFor(int quadrants) {
    if (quadrants <= 1) return {1, 1};
    if (quadrants == 2) return {2, 1};
    return {2, (quadrants + 1) / 2};
}

std::vector<uint16_t> Mosaic::Assemble(const std::vector<const uint16_t*>& images, int32_t width,
                                       int32_t height) {
    if (width <= 0 || height <= 0 || images.empty()) return {};
    MosaicLayout layout = LayoutFor(static_cast<int>(images.size()));
    size_t mosaicWidth = static_cast<size_t>(width) * layout.columns;
    std::vector<uint16_t> mosaic(mosaicWidth * static_cast<size_t>(height) * layout.rows, 0);
    for (size_t i = 0; i < images.size(); ++i) {
        if (!images[i]) continue;
        size_t left = (i % layout.columns) * static_cast<size_t>(width);
        size_t top = (i / layout.columns) * static_cast<size_t>(height);
        for (int32_t row = 0; row < height; ++row) {
            const uint16_t* source = images[i] + static_cast<size_t>(row) * width;
            std::copy(source, source + width, mosaic.begin() + (top + row) * mosaicWidth + left);
        }
    }
    return mosaic;
}

}  // namespace vela2cam
