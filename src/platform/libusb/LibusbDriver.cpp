#include "platform/libusb/LibusbDriver.h"

#include <algorithm>
#include <cstdio>
#include <new>
#include <set>
#include <vector>

#include "platform/DebugTrace.h"
#include "platform/MessageSink.h"
#include "platform/SystemError.h"

namespace platform {

namespace {

bool Fail(uint32_t error) {
    SetLastSystemError(error);
    return false;
}

UsbHandle FailOpen(uint32_t error) {
    SetLastSystemError(error);
    return kInvalidUsbHandle;
}

// libusb's device list, released at the end of the scope.
class DeviceList {
  public:
    explicit DeviceList(libusb_context* context) {
        const ssize_t count = context ? libusb_get_device_list(context, &devices_) : 0;
        count_ = count > 0 ? static_cast<size_t>(count) : 0;
    }
    ~DeviceList() {
        if (devices_ != nullptr) libusb_free_device_list(devices_, 1);
    }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;
    libusb_device* const* begin() const { return devices_; }
    libusb_device* const* end() const { return devices_ + count_; }

  private:
    libusb_device** devices_ = nullptr;
    size_t count_ = 0;
};

bool Accepted(libusb_device* device, const std::vector<UsbDeviceId>& accepted) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) return false;
    const UsbDeviceId id{descriptor.idVendor, descriptor.idProduct};
    return std::find(accepted.begin(), accepted.end(), id) != accepted.end();
}

std::string DeviceNode(libusb_device* device) {
    char node[32];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return node;
}

// The camera's interface: the first one of its first configuration.
int CameraInterface(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_config_descriptor(device, 0, &config) != LIBUSB_SUCCESS) return 0;
    int number = 0;
    if (config->bNumInterfaces > 0 && config->interface[0].num_altsetting > 0)
        number = config->interface[0].altsetting[0].bInterfaceNumber;
    libusb_free_config_descriptor(config);
    return number;
}

// libusb's refusal in the driver's words; no access also tells the user how
// to get it, since nothing else would.
uint32_t OpenError(int result, const std::string& node, const char* step) {
    DebugTrace("Opening the USB device %s failed (%s): %s", node.c_str(), step,
               libusb_error_name(result));
    switch (result) {
        case LIBUSB_ERROR_ACCESS:
            ShowMessage("No permission to use the camera at " + node +
                            ". Install the udev rule 60-vela2-camera.rules (README: \"A real "
                            "camera on Linux\"), then plug the camera in again.",
                        ApplicationTitle(), MessageIcon::Error);
            return kErrorAccessDenied;
        case LIBUSB_ERROR_BUSY:
            return kErrorAccessDenied;  // another program has claimed it
        case LIBUSB_ERROR_NO_DEVICE:
        case LIBUSB_ERROR_NOT_FOUND:
            return kErrorFileNotFound;
        case LIBUSB_ERROR_NO_MEM:
            return kErrorNotEnoughMemory;
        default:
            return kErrorGenFailure;
    }
}

}  // namespace

std::string LibusbDevicePath(libusb_device* device) {
    uint8_t ports[8];
    const int depth = libusb_get_port_numbers(device, ports, sizeof ports);
    std::string path = "usb:" + std::to_string(libusb_get_bus_number(device));
    if (depth <= 0) return path + "-@" + std::to_string(libusb_get_device_address(device));
    for (int i = 0; i < depth; ++i) path += (i == 0 ? "-" : ".") + std::to_string(ports[i]);
    return path;
}

LibusbDriver::LibusbDriver() : context_([this](libusb_device* device) { DeviceLeft(device); }) {}

LibusbDriver::~LibusbDriver() { Shutdown(); }

void LibusbDriver::Shutdown() {
    std::map<UsbHandle, std::shared_ptr<LibusbDevice>> open;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open.swap(handles_);
    }
    open.clear();  // each closes as its last request returns
    context_.Shutdown();
}

std::unique_ptr<DeviceInterfaceList> LibusbDriver::OpenInterfaceList(const Guid&) {
    const std::vector<UsbDeviceId> accepted = AcceptedUsbDevices();
    std::vector<std::string> paths;
    if (!accepted.empty()) {
        DeviceList devices(context_.Get());
        for (libusb_device* device : devices)
            if (Accepted(device, accepted)) paths.push_back(LibusbDevicePath(device));
    }
    return MakeDeviceInterfaceList(std::move(paths));
}

UsbHandle LibusbDriver::Open(const std::string& devicePath) {
    try {
        return OpenListed(devicePath);
    } catch (const std::bad_alloc&) {
        return FailOpen(kErrorNotEnoughMemory);
    }
}

UsbHandle LibusbDriver::OpenListed(const std::string& devicePath) {
    const std::vector<UsbDeviceId> accepted = AcceptedUsbDevices();
    DeviceList devices(context_.Get());
    auto found = std::find_if(devices.begin(), devices.end(), [&](libusb_device* device) {
        return LibusbDevicePath(device) == devicePath && Accepted(device, accepted);
    });
    if (found == devices.end()) return FailOpen(kErrorFileNotFound);
    libusb_device* device = *found;
    const std::string node = DeviceNode(device);

    libusb_device_handle* handle = nullptr;
    int result = libusb_open(device, &handle);
    if (result != LIBUSB_SUCCESS) return FailOpen(OpenError(result, node, "open"));
    libusb_set_auto_detach_kernel_driver(handle, 1);  // unsupported: nothing to detach
    const int interfaceNumber = CameraInterface(device);
    result = libusb_claim_interface(handle, interfaceNumber);
    if (result != LIBUSB_SUCCESS) {
        libusb_close(handle);
        return FailOpen(OpenError(result, node, "claim"));
    }
    // From here the device object owns the handle and lets it go on every path.
    std::unique_ptr<LibusbDevice> claimed(new (std::nothrow)
                                              LibusbDevice(handle, interfaceNumber, node));
    if (!claimed) {
        libusb_release_interface(handle, interfaceNumber);
        libusb_close(handle);
        return FailOpen(kErrorNotEnoughMemory);
    }
    if (!context_.Retain()) return FailOpen(kErrorGenFailure);
    // The event thread stops only after the device's last transfer ended.
    std::shared_ptr<LibusbDevice> opened(claimed.release(), [this](LibusbDevice* closing) {
        delete closing;
        context_.Release();
    });
    opened->OnGone([this](LibusbDevice& gone) { context_.ReportRemoval(gone.Device()); });
    std::lock_guard<std::mutex> lock(mutex_);
    const UsbHandle token = nextHandle_;
    nextHandle_ += 4;
    handles_[token] = std::move(opened);
    return token;
}

bool LibusbDriver::Close(UsbHandle handle) {
    std::shared_ptr<LibusbDevice> device;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = handles_.find(handle);
        if (it == handles_.end()) return Fail(kErrorInvalidHandle);
        device = std::move(it->second);
        handles_.erase(it);
    }
    return true;  // the device closes as the last request on it returns
}

std::shared_ptr<LibusbDevice> LibusbDriver::DeviceOf(UsbHandle handle) const {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = handles_.find(handle);
    return it == handles_.end() ? nullptr : it->second;
}

bool LibusbDriver::Request(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize,
                           void* out, uint32_t outSize, uint32_t* bytesReturned,
                           UsbOverlapped* overlapped) {
    std::shared_ptr<LibusbDevice> device = DeviceOf(handle);
    if (!device) {
        if (bytesReturned) *bytesReturned = 0;
        return Fail(kErrorInvalidHandle);
    }
    try {
        return device->Request(code, in, inSize, out, outSize, bytesReturned, overlapped);
    } catch (const std::bad_alloc&) {
        return Fail(kErrorNotEnoughMemory);  // nothing was submitted
    }
}

bool LibusbDriver::OverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes) {
    bytes = 0;
    if (!DeviceOf(handle)) return Fail(kErrorInvalidHandle);
    uint32_t error = 0;
    if (!overlapped.Completed(bytes, error)) return Fail(kErrorIoIncomplete);
    return error == 0 || Fail(error);
}

NotificationHandle LibusbDriver::RegisterInterfaceNotification(WindowHandle window,
                                                               const Guid& interfaceClass) {
    return notifications_.AddForClass(window, interfaceClass);
}

NotificationHandle LibusbDriver::RegisterHandleNotification(WindowHandle window, UsbHandle handle) {
    if (!DeviceOf(handle)) {
        Fail(kErrorInvalidHandle);
        return nullptr;
    }
    return notifications_.AddForHandle(window, handle);
}

bool LibusbDriver::UnregisterNotification(NotificationHandle notification) {
    return notifications_.Remove(notification);
}

void LibusbDriver::DeviceLeft(libusb_device* device) {
    std::vector<UsbHandle> handles;
    std::vector<std::shared_ptr<LibusbDevice>> devices;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& [handle, open] : handles_)
            if (open->Device() == device && !open->RemovalNoticed()) {
                handles.push_back(handle);
                devices.push_back(open);
            }
    }
    if (handles.empty()) return;
    for (const auto& gone : devices) gone->MarkGone();
    // Let go before the notices: a notice may close the camera, and the
    // device should close within that Close, not when this returns.
    devices.clear();
    // Delivered unlocked and off libusb's thread: a window may close the device.
    for (const auto& notice : notifications_.RemovalNotices(handles, nullptr))
        DeliverUsbRemoval(notice);
}

}  // namespace platform
