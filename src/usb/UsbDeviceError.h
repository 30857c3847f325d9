#pragma once
// What the device raises when the system refuses to close its handle or one
// of its notification registrations; the text says which.
#include <stdexcept>

namespace usb {

class UsbDeviceError : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

}  // namespace usb
