#pragma once
// What produces the data of bulk IN transfers: the camera's readout model
// plugs in here.
#include <cstdint>
#include <vector>

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

// A frame prepared in advance, copied once into each transfer that asks.
class PreparedFrameSource : public FrameSource {
  public:
    explicit PreparedFrameSource(std::vector<uint8_t> frame) : frame_(std::move(frame)) {}
    bool Fill(uint8_t endpointAddress, uint8_t* buffer, uint32_t length,
              uint32_t& produced) override;
    // The buffer the last Fill wrote to, so tests can tell a direct transfer.
    const uint8_t* LastBuffer() const { return lastBuffer_; }

  private:
    std::vector<uint8_t> frame_;
    const uint8_t* lastBuffer_ = nullptr;
};

}  // namespace sim
