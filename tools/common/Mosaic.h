#pragma once
// All quadrant images of one picture in one image: cells in quadrant order,
// left to right, then top to bottom (the first row of the mosaic is the first
// row of quadrants 1 and 2). Four quadrants make 2x2 cells, two make 1x2.

#include <cstdint>
#include <vector>

namespace vela2cam {

struct MosaicLayout {
    int columns = 1;
    int rows = 1;
};

class Mosaic {
  public:
    static MosaicLayout LayoutFor(int quadrants);

    // The mosaic of the images (each width x height); cells without an image
    // are zero. Empty when the sizes give no pixels.
    static std::vector<uint16_t> Assemble(const std::vector<const uint16_t*>& images, int32_t width,
                                          int32_t height);
};

}  // namespace vela2cam
