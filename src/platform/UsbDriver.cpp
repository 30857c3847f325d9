#include "platform/UsbDriver.h"

#include <cstdlib>
#include <map>
#include <mutex>

#include "platform/SystemError.h"

namespace platform {

void UsbOverlapped::Complete(uint32_t bytes, uint32_t error) {
    bytes_ = bytes;
    error_ = error;
    complete_.store(true, std::memory_order_release);
    done_.Set();
}

bool UsbOverlapped::Completed(uint32_t& bytes, uint32_t& error) const {
    if (!complete_.load(std::memory_order_acquire)) return false;
    bytes = bytes_;
    error = error_;
    return true;
}

namespace {

class FixedInterfaceList : public DeviceInterfaceList {
  public:
    explicit FixedInterfaceList(std::vector<std::string> paths) : paths_(std::move(paths)) {}
    bool Enumerate(uint32_t index) override {
        if (index >= paths_.size()) {
            SetLastSystemError(kErrorNoMoreItems);
            return false;
        }
        if (!paths_[index].empty()) return true;
        SetLastSystemError(kErrorGenFailure);
        return false;
    }
    bool DevicePath(uint32_t index, std::string& path) override {
        if (!Enumerate(index)) return false;
        path = paths_[index];
        return true;
    }

  private:
    std::vector<std::string> paths_;
};

struct BackendRegistry {
    std::mutex mutex;
    std::map<std::string, std::shared_ptr<UsbDriverBackend>> backends;
    std::string selected;
    UsbRemovalReceiver removalReceiver;
    std::vector<UsbDeviceId> accepted;
};

BackendRegistry& Registry() {
    static BackendRegistry* registry = new BackendRegistry;  // outlives static devices
    return *registry;
}

// Caller holds the registry lock.
std::shared_ptr<UsbDriverBackend> Named(BackendRegistry& registry, const std::string& name) {
    auto it = registry.backends.find(name);
    return it == registry.backends.end() ? nullptr : it->second;
}

// The backend over the system's USB library, where one is built in.
constexpr const char* kSystemLibraryBackend = "libusb";

std::shared_ptr<UsbDriverBackend> Backend() {
    std::shared_ptr<UsbDriverBackend> backend = ActiveUsbDriverBackend();
    if (!backend) SetLastSystemError(kErrorGenFailure);
    return backend;
}

}  // namespace

void RegisterUsbDriverBackend(const std::string& name, std::shared_ptr<UsbDriverBackend> backend) {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.backends[name] = std::move(backend);
}

void SelectUsbDriverBackend(const std::string& name) {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.selected = name;
}

std::shared_ptr<UsbDriverBackend> ActiveUsbDriverBackend() {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    if (!registry.selected.empty()) return Named(registry, registry.selected);
    const char* fromEnvironment = std::getenv("VELA2_USB_BACKEND");
    if (fromEnvironment != nullptr && *fromEnvironment != '\0')
        return Named(registry, fromEnvironment);
    if (std::shared_ptr<UsbDriverBackend> os = OsUsbDriverBackend()) return os;
    if (std::shared_ptr<UsbDriverBackend> library = Named(registry, kSystemLibraryBackend))
        return library;
    // Without a way to the bus, a single in-process backend is the natural one.
    if (registry.backends.size() == 1) return registry.backends.begin()->second;
    return nullptr;
}

std::unique_ptr<DeviceInterfaceList> MakeDeviceInterfaceList(std::vector<std::string> paths) {
    return std::make_unique<FixedInterfaceList>(std::move(paths));
}

void SetAcceptedUsbDevices(std::vector<UsbDeviceId> devices) {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.accepted = std::move(devices);
}

std::vector<UsbDeviceId> AcceptedUsbDevices() {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    return registry.accepted;
}

std::unique_ptr<DeviceInterfaceList> OpenDeviceInterfaceList(const Guid& interfaceClass) {
    auto backend = Backend();
    return backend ? backend->OpenInterfaceList(interfaceClass) : nullptr;
}

UsbHandle OpenUsbDevice(const std::string& devicePath) {
    auto backend = Backend();
    return backend ? backend->Open(devicePath) : kInvalidUsbHandle;
}

bool CloseUsbDevice(UsbHandle handle) {
    auto backend = Backend();
    return backend && backend->Close(handle);
}

bool UsbDeviceRequest(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned, UsbOverlapped* overlapped) {
    auto backend = Backend();
    return backend &&
           backend->Request(handle, code, in, inSize, out, outSize, bytesReturned, overlapped);
}

bool UsbOverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes) {
    auto backend = Backend();
    return backend && backend->OverlappedResult(handle, overlapped, bytes);
}

NotificationHandle RegisterUsbInterfaceNotification(WindowHandle window,
                                                    const Guid& interfaceClass) {
    auto backend = Backend();
    return backend ? backend->RegisterInterfaceNotification(window, interfaceClass) : nullptr;
}

NotificationHandle RegisterUsbHandleNotification(WindowHandle window, UsbHandle handle) {
    auto backend = Backend();
    return backend ? backend->RegisterHandleNotification(window, handle) : nullptr;
}

bool UnregisterUsbNotification(NotificationHandle notification) {
    auto backend = Backend();
    return backend && backend->UnregisterNotification(notification);
}

void SetUsbRemovalReceiver(UsbRemovalReceiver receiver) {
    BackendRegistry& registry = Registry();
    std::lock_guard<std::mutex> lock(registry.mutex);
    registry.removalReceiver = std::move(receiver);
}

void DeliverUsbRemoval(const UsbRemovalNotice& notice) {
    UsbRemovalReceiver receiver;
    {
        BackendRegistry& registry = Registry();
        std::lock_guard<std::mutex> lock(registry.mutex);
        receiver = registry.removalReceiver;
    }
    // Called unlocked: the receiver may close the device, which reaches the backend.
    if (receiver) receiver(notice);
}

}  // namespace platform
