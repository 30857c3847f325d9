#pragma once
// An invisible window that exists to receive device-change notifications.
//
// Windows: a real hidden window; its messages arrive on the thread that
// created it, while that thread dispatches messages. POSIX has no windows: a
// window is a registered procedure, and the removal notices that a driver
// backend delivers reach it at once on the delivering thread.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/UsbDriver.h"

namespace platform {

enum : uint32_t {
    kWmClose = 0x0010,
    kWmDeviceChange = 0x0219,
    kDbtDeviceRemoveComplete = 0x8004,
    kDbtDevtypDeviceInterface = 5,
    kDbtDevtypHandle = 6,
};

using WindowProcedure =
    std::function<intptr_t(uint32_t message, uintptr_t wParam, intptr_t lParam)>;

// Creates the window (extended style 0x308, style 0xCF0000, never shown).
// Null on failure, with the reason in LastSystemError().
WindowHandle CreateNotificationWindow(const std::string& title, WindowProcedure procedure);

// Destroys the window now when called on the thread that created it; from
// another thread, hands the window to the system's own procedure, which
// closes it when that thread next dispatches its messages. Either way the
// procedure given at creation is released and never called again, so the
// window may outlive the library. Nothing happens for a window that is gone.
void DestroyNotificationWindow(WindowHandle window);

// True while the window exists.
bool IsNotificationWindow(WindowHandle window);

// Asks the window to close; it is destroyed when the message is handled
// (POSIX: before this returns). Never blocks on the window's thread.
bool PostCloseMessage(WindowHandle window);

// The system's handling of a message the procedure does not handle itself.
intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam);

// Reads the device broadcast record of a WM_DEVICECHANGE message: its device
// type and, for a handle notice, the handle. False when lParam holds none.
bool ReadDeviceBroadcast(intptr_t lParam, uint32_t& deviceType, UsbHandle& handle);

}  // namespace platform
