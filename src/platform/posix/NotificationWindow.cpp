#include "platform/NotificationWindow.h"

#include <map>
#include <memory>
#include <mutex>

namespace platform {
namespace {

// The broadcast record a removal notice carries, laid out as the system's
// handle broadcast begins: size, device type, reserved, handle.
struct DeviceBroadcast {
    uint32_t size;
    uint32_t deviceType;
    uint32_t reserved;
    UsbHandle handle;
};

struct Windows {
    std::mutex mutex;
    std::map<WindowHandle, std::shared_ptr<WindowProcedure>> procedures;
    uintptr_t next = 1;
};

Windows& Table() {
    static Windows* windows = new Windows;  // outlives every static user
    return *windows;
}

std::shared_ptr<WindowProcedure> ProcedureOf(WindowHandle window) {
    std::lock_guard<std::mutex> lock(Table().mutex);
    auto found = Table().procedures.find(window);
    return found == Table().procedures.end() ? nullptr : found->second;
}

// Removal notices become the message the system would send the window.
void DeliverToWindow(const UsbRemovalNotice& notice) {
    std::shared_ptr<WindowProcedure> procedure = ProcedureOf(notice.window);
    if (!procedure) return;
    DeviceBroadcast broadcast{
        sizeof(DeviceBroadcast),
        notice.forHandle ? uint32_t(kDbtDevtypHandle) : uint32_t(kDbtDevtypDeviceInterface), 0,
        notice.forHandle ? notice.handle : kInvalidUsbHandle};
    (*procedure)(kWmDeviceChange, kDbtDeviceRemoveComplete, reinterpret_cast<intptr_t>(&broadcast));
}

}  // namespace

WindowHandle CreateNotificationWindow(const std::string&, WindowProcedure procedure) {
    static std::once_flag receiverInstalled;
    std::call_once(receiverInstalled, [] { SetUsbRemovalReceiver(DeliverToWindow); });
    std::lock_guard<std::mutex> lock(Table().mutex);
    WindowHandle window = reinterpret_cast<WindowHandle>(Table().next++);
    Table().procedures[window] = std::make_shared<WindowProcedure>(std::move(procedure));
    return window;
}

void DestroyNotificationWindow(WindowHandle window) {
    std::shared_ptr<WindowProcedure> procedure;  // released outside the lock
    std::lock_guard<std::mutex> lock(Table().mutex);
    auto found = Table().procedures.find(window);
    if (found == Table().procedures.end()) return;
    procedure = std::move(found->second);
    Table().procedures.erase(found);
}

bool IsNotificationWindow(WindowHandle window) { return ProcedureOf(window) != nullptr; }

bool PostCloseMessage(WindowHandle window) {
    std::shared_ptr<WindowProcedure> procedure = ProcedureOf(window);
    if (!procedure) return false;
    (*procedure)(kWmClose, 0, 0);
    return true;
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t, intptr_t) {
    if (message == kWmClose) {
        std::lock_guard<std::mutex> lock(Table().mutex);
        Table().procedures.erase(window);
    }
    return 0;
}

bool ReadDeviceBroadcast(intptr_t lParam, uint32_t& deviceType, UsbHandle& handle) {
    if (lParam == 0) return false;
    const DeviceBroadcast* broadcast = reinterpret_cast<const DeviceBroadcast*>(lParam);
    deviceType = broadcast->deviceType;
    handle = broadcast->handle;
    return true;
}

}  // namespace platform
