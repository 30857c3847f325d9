#pragma once
// The picture geometry of the initialized camera's mode, as the library's
// getters give it.

#include <cstdint>

namespace vela2cam {

struct QuadrantGeometry {
    int32_t quadrants = 0;
    int32_t width = 0, height = 0;                  // one quadrant image; 0 when not given
    int32_t overscanWidth = 0, overscanHeight = 0;  // 0 when the mode has none

    // Read from the library; an overscan needs both of its sizes.
    static QuadrantGeometry Read();
};

}  // namespace vela2cam
