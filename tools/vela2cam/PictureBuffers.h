#pragma once
// The client's buffers for one picture: four quadrant images, whatever the
// mode's quadrant count (LD_StartPicture takes four and tests all four), and
// four overscan images when the mode has overscan.

#include <cstdint>
#include <vector>

#include "CameraSession.h"

namespace vela2cam {

class PictureBuffers {
  public:
    static constexpr int kSlots = 4;

    explicit PictureBuffers(const Geometry& geometry);

    // LD_StartPicture into these buffers.
    int32_t Start();

    uint16_t* Image(int i) { return images_[i].data(); }
    uint16_t* Overscan(int i) { return overscans_.empty() ? nullptr : overscans_[i].data(); }
    bool hasOverscan() const { return !overscans_.empty(); }

  private:
    Geometry geometry_;
    std::vector<std::vector<uint16_t>> images_;
    std::vector<std::vector<uint16_t>> overscans_;
};

}  // namespace vela2cam
