#pragma once
// A simulated camera published for one test, with its driver selected.
#include <memory>
#include <vector>

#include "sim/SimUsbDriver.h"
#include "usb/CCyUSBDevice.h"
#include "usb/DriverProtocol.h"

namespace usbtest {

struct SimCamera {
    explicit SimCamera(sim::UsbDescriptorSet descriptors = sim::UsbDescriptorSet::Camera())
        : device(std::make_shared<sim::SimUsbDevice>(std::move(descriptors))) {
        session.driver().Publish(device);
    }

    // Opens device 0 of the camera's class.
    std::unique_ptr<usb::CCyUSBDevice> Open() {
        return std::make_unique<usb::CCyUSBDevice>(nullptr, sim::CameraInterfaceClass(), true);
    }

    // The requests with this code, oldest first.
    std::vector<sim::RequestTrace> Requests(uint32_t code) const {
        std::vector<sim::RequestTrace> matching;
        for (auto& trace : device->Requests())
            if (trace.code == code) matching.push_back(trace);
        return matching;
    }

    sim::SimUsbSession session;
    std::shared_ptr<sim::SimUsbDevice> device;
};

// The record a request sent in front of its data.
inline usb::SUsbTransferRecord HeaderOf(const std::vector<uint8_t>& input) {
    return usb::LoadRecord<usb::SUsbTransferRecord>(input.data());
}

// Its type, request, value, length, timeout in seconds, endpoint, data offset
// and data length.
inline std::vector<uint32_t> SetupOf(const std::vector<uint8_t>& input) {
    const usb::SUsbTransferRecord h = HeaderOf(input);
    return {h.RequestType,    h.Request,         h.Value,      h.Length,
            h.TimeoutSeconds, h.EndpointAddress, h.DataOffset, h.DataLength};
}

}  // namespace usbtest
