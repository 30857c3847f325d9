#include "QuadrantGeometry.h"

#include "Vela2UsbCameraDll.h"

namespace vela2cam {

namespace {

int32_t SizeOrZero(int32_t (*getter)(int32_t*)) {
    int32_t value = 0;
    return getter(&value) == CAMERA_SUCCESS && value > 0 ? value : 0;
}

}  // namespace

QuadrantGeometry QuadrantGeometry::Read() {
    QuadrantGeometry geometry;
    geometry.quadrants = GetNumberOfQuadrants();
    geometry.width = SizeOrZero(LD_GetQuadrantWidth);
    geometry.height = SizeOrZero(LD_GetQuadrantHeight);
    geometry.overscanWidth = SizeOrZero(LD_GetOverscanWidth);
    geometry.overscanHeight = SizeOrZero(LD_GetOverscanHeight);
    if (geometry.overscanWidth == 0 || geometry.overscanHeight == 0)
        geometry.overscanWidth = geometry.overscanHeight = 0;
    return geometry;
}

}  // namespace vela2cam
