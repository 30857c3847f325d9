#pragma once
#include <cstdint>
#include <vector>

#include "sim/FrameSource.h"

namespace sim {

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
