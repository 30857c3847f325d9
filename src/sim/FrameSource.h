#pragma once
// What produces the data of bulk IN transfers: the camera's readout model
// plugs in here.
#include <cstdint>

namespace sim {

class FrameSource {
  public:
    virtual ~FrameSource() = default;
    // Asked on the device's thread for the oldest pending bulk IN transfer.
    // false keeps it pending (say, readout has not begun); the model calls
    // SimUsbDevice::Kick() when that may have changed. true: `produced` bytes
    // were written into buffer, which has room for length bytes and is the
    // caller's own buffer on a direct transfer.
    virtual bool Fill(uint8_t endpointAddress, uint8_t* buffer, uint32_t length,
                      uint32_t& produced) = 0;
};

}  // namespace sim
