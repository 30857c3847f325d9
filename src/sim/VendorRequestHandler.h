#pragma once
// What answers the control transfers that are not standard descriptor
// requests: the camera firmware's model plugs in here.
#include <cstdint>

namespace sim {

struct SetupPacket {
    uint8_t RequestType;  // bmRequestType: bit 7 device to host, bits 6-5 type
    uint8_t Request;
    uint16_t Value;
    uint16_t Index;
    uint16_t Length;
    bool DeviceToHost() const { return (RequestType & 0x80) != 0; }
};

struct ControlOutcome {
    bool stall = false;   // the device refused the request
    uint32_t length = 0;  // bytes of the data stage moved
};

class VendorRequestHandler {
  public:
    virtual ~VendorRequestHandler() = default;
    // Runs on the device's thread before the transfer completes, so whatever
    // state a write changes is in place when the host sees it finish. data
    // holds length bytes: what the host sent, or room for the answer.
    virtual ControlOutcome HandleControl(const SetupPacket& setup, uint8_t* data,
                                         uint32_t length) = 0;
};

}  // namespace sim
