#pragma once
// The invisible window that receives device-change notifications for the
// open device and closes the camera when that device is removed. It knows
// the camera only through the two calls it is given.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/NotificationWindow.h"
#include "platform/UsbDriver.h"

namespace usb {

class CSubclassedWnd {
  public:
    // deviceHandle: the camera's open device handle (the invalid value when it
    // has none); closeCamera: the camera's close operation.
    CSubclassedWnd(std::function<platform::UsbHandle()> deviceHandle,
                   std::function<void()> closeCamera);
    ~CSubclassedWnd();
    CSubclassedWnd(const CSubclassedWnd&) = delete;
    CSubclassedWnd& operator=(const CSubclassedWnd&) = delete;

    // Creates the window unless it is alive. False when the system refuses.
    bool Create(const std::string& title);
    bool IsAlive() const;
    // Alive, or its procedure still runs (on POSIX a removal notice calls it
    // on a driver's thread, and it may outlive the window it closed): only
    // then may the object go.
    bool InUse() const { return IsAlive() || procedureCalls_.load() > 0; }
    platform::WindowHandle Handle() const { return window_; }
    // Asks the window to close; it goes away when the message is handled.
    void PostClose();

    // A removal of the open device closes the camera; everything else gets
    // the system's handling.
    intptr_t DefWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam);

  private:
    std::function<platform::UsbHandle()> deviceHandle_;
    std::function<void()> closeCamera_;
    platform::WindowHandle window_ = nullptr;
    std::atomic<int> procedureCalls_{0};
};

}  // namespace usb
