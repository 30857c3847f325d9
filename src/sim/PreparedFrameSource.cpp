#include "sim/PreparedFrameSource.h"

#include <algorithm>
#include <cstring>

namespace sim {

bool PreparedFrameSource::Fill(uint8_t, uint8_t* buffer, uint32_t length, uint32_t& produced) {
    produced = static_cast<uint32_t>(std::min<size_t>(length, frame_.size()));
    if (produced > 0) std::memcpy(buffer, frame_.data(), produced);
    lastBuffer_ = buffer;
    return true;
}

}  // namespace sim
