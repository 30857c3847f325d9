#pragma once
// Builds 400-byte EPAL block images for camera tests.

#include <cstdint>
#include <cstring>
#include <vector>

#include "platform/ByteOrder.h"
#include "reconstruction/BlockBuilder.h"

namespace cameratest {

struct EpalGeometry {
    uint16_t quadrantWidth = 8;
    uint16_t quadrantHeight = 4;
    uint16_t overscanColumns = 0;
    uint16_t overscanRows = 0;
    int quadrants = 4;  // enabled from quadrant 0 on, column-interleaved
    uint16_t fixedPrescan = 0;
    uint16_t exposure = 100;
};

inline std::vector<uint8_t> MakeEpalImage(const EpalGeometry& g) {
    std::vector<uint8_t> image(400, 0);
    image[18] = 1;  // column binning
    image[21] = 1;  // row binning
    platform::StoreLe16(
        &image[23], static_cast<uint16_t>(g.quadrantWidth + g.overscanColumns + g.fixedPrescan));
    platform::StoreLe16(&image[25], static_cast<uint16_t>(g.quadrantHeight + g.overscanRows));
    platform::StoreBe16(&image[56], g.exposure);
    platform::StoreLe16(&image[246], g.quadrantWidth);
    platform::StoreLe16(&image[248], g.quadrantHeight);
    platform::StoreLe16(&image[250], g.overscanColumns);
    platform::StoreLe16(&image[252], g.overscanRows);
    reconstruction::testing::BlockBuilder block;
    block.Prescan(1, 0, 0, g.fixedPrescan);
    for (int q = 0; q < g.quadrants; ++q)
        block.Enable(q).Quadrant(q, {static_cast<uint16_t>(q), 0, g.quadrants});
    std::memcpy(&image[256], block.Data(), 144);
    return image;
}

}  // namespace cameratest
