#include "usb/CSubclassedWnd.h"

#include "platform/Clock.h"

namespace usb {

CSubclassedWnd::CSubclassedWnd(std::function<platform::UsbHandle()> deviceHandle,
                               std::function<void()> closeCamera)
    : deviceHandle_(std::move(deviceHandle)), closeCamera_(std::move(closeCamera)) {}

// The window's procedure calls this object: the window goes with it.
CSubclassedWnd::~CSubclassedWnd() { platform::DestroyNotificationWindow(window_); }

bool CSubclassedWnd::Create(const std::string& title) {
    if (IsAlive()) return true;
    window_ = platform::CreateNotificationWindow(
        title, [this](uint32_t message, uintptr_t wParam, intptr_t lParam) {
            return DefWindowProc(message, wParam, lParam);
        });
    return window_ != nullptr;
}

bool CSubclassedWnd::IsAlive() const {
    return window_ != nullptr && platform::IsNotificationWindow(window_);
}

void CSubclassedWnd::PostClose() {
    if (IsAlive()) platform::PostCloseMessage(window_);
}

intptr_t CSubclassedWnd::DefWindowProc(uint32_t message, uintptr_t wParam, intptr_t lParam) {
    struct Call {
        std::atomic<int>& calls;
        explicit Call(std::atomic<int>& counter) : calls(counter) { ++calls; }
        ~Call() { --calls; }
    } inside(procedureCalls_);
    uint32_t deviceType = 0;
    platform::UsbHandle handle = platform::kInvalidUsbHandle;
    if (message == platform::kWmDeviceChange && wParam == platform::kDbtDeviceRemoveComplete &&
        platform::ReadDeviceBroadcast(lParam, deviceType, handle) &&
        deviceType == platform::kDbtDevtypHandle && handle != platform::kInvalidUsbHandle &&
        handle == deviceHandle_()) {
        closeCamera_();
        platform::SleepMs(10);
    }
    try {
        return platform::DefaultWindowProcedure(window_, message, wParam, lParam);
    } catch (...) {
        return 0;
    }
}

}  // namespace usb
