#include "platform/UsbNotificationRegistry.h"

#include <algorithm>

#include "platform/SystemError.h"

namespace platform {

NotificationHandle UsbNotificationRegistry::AddForClass(WindowHandle window,
                                                        const Guid& interfaceClass) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t token = next_++;
    registrations_[token] = {window, kInvalidUsbHandle, interfaceClass};
    return reinterpret_cast<NotificationHandle>(token);
}

NotificationHandle UsbNotificationRegistry::AddForHandle(WindowHandle window, UsbHandle handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    const uintptr_t token = next_++;
    registrations_[token] = {window, handle, Guid{}};
    return reinterpret_cast<NotificationHandle>(token);
}

bool UsbNotificationRegistry::Remove(NotificationHandle notification) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (registrations_.erase(reinterpret_cast<uintptr_t>(notification)) == 1) return true;
    SetLastSystemError(kErrorInvalidHandle);
    return false;
}

void UsbNotificationRegistry::Clear() {
    std::lock_guard<std::mutex> lock(mutex_);
    registrations_.clear();
}

std::vector<UsbRemovalNotice> UsbNotificationRegistry::RemovalNotices(
    const std::vector<UsbHandle>& handles, const Guid* interfaceClass) const {
    std::vector<UsbRemovalNotice> forHandles;
    std::vector<UsbRemovalNotice> forClass;
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [token, r] : registrations_) {
        if (r.handle == kInvalidUsbHandle) {
            if (interfaceClass == nullptr || r.interfaceClass == *interfaceClass)
                forClass.push_back({r.window, false, r.handle, r.interfaceClass});
        } else if (std::find(handles.begin(), handles.end(), r.handle) != handles.end()) {
            forHandles.push_back(
                {r.window, true, r.handle, interfaceClass ? *interfaceClass : Guid{}});
        }
    }
    forHandles.insert(forHandles.end(), forClass.begin(), forClass.end());
    return forHandles;
}

}  // namespace platform
