#include "PictureBuffers.h"

#include "Vela2UsbCameraDll.h"

namespace vela2cam {

PictureBuffers::PictureBuffers(const Geometry& geometry) : geometry_(geometry) {
    size_t imagePixels = static_cast<size_t>(geometry.width) * geometry.height;
    size_t overscanPixels = static_cast<size_t>(geometry.overscanWidth) * geometry.overscanHeight;
    for (int i = 0; i < kSlots; ++i) {
        images_.emplace_back(imagePixels, 0);
        if (overscanPixels) overscans_.emplace_back(overscanPixels, 0);
    }
}

int32_t PictureBuffers::Start() {
    return LD_StartPicture(Image(0), Image(1), Image(2), Image(3), geometry_.width,
                           geometry_.height, Overscan(0), Overscan(1), Overscan(2), Overscan(3),
                           geometry_.overscanWidth, geometry_.overscanHeight);
}

}  // namespace vela2cam
