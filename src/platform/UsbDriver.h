#pragma once
// The USB kernel driver as the library sees it: device interfaces of a class,
// a handle per opened device, and I/O control requests on that handle.
//
// Every operation goes to the active driver backend. On Windows that is the
// system's driver, reached through SetupDi, CreateFileA and DeviceIoControl;
// elsewhere a backend over the system's USB library ("libusb") is built in;
// an in-process backend (the simulated camera, "sim") can be registered and
// chosen instead, by the environment variable VELA2_USB_BACKEND=<name> or by
// a test through SelectUsbDriverBackend. Without a selection the OS driver is
// used where there is one, then the "libusb" backend when it is registered,
// otherwise the only registered backend.
//
// Errors are reported as on Windows: a false (or invalid) result with the
// reason in LastSystemError(), in Windows numbering.

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/Event.h"
#include "platform/Guid.h"
#include "platform/SystemError.h"

namespace platform {

// An open device: the system's file handle, or a backend's own token.
using UsbHandle = uintptr_t;
constexpr UsbHandle kInvalidUsbHandle = ~static_cast<UsbHandle>(0);

// A window that receives device-change messages, and a registration of one.
using WindowHandle = void*;
using NotificationHandle = void*;

// One overlapped request: the caller's event, signalled when the request
// completes, and the completion the backend records for the no-wait result
// query. Must outlive the request it is given to.
class UsbOverlapped {
  public:
    explicit UsbOverlapped(Event& done);
    ~UsbOverlapped();
    UsbOverlapped(const UsbOverlapped&) = delete;
    UsbOverlapped& operator=(const UsbOverlapped&) = delete;

    Event& done() const { return done_; }

    // For in-process backends, once per request from any thread: records the
    // byte count and error (0 for success), then sets the event. Never blocks.
    void Complete(uint32_t bytes, uint32_t error);
    // True once Complete ran; then bytes and error are its values.
    bool Completed(uint32_t& bytes, uint32_t& error) const;

    // What the OS backend keeps per request (the system's OVERLAPPED).
    struct OsState;
    OsState& os();

  private:
    Event& done_;
    std::atomic<bool> complete_{false};
    uint32_t bytes_ = 0;
    uint32_t error_ = 0;
    std::unique_ptr<OsState> os_;
};

// A snapshot of the present device interfaces of one class, with the
// semantics of a SetupDi device-information set.
class DeviceInterfaceList {
  public:
    virtual ~DeviceInterfaceList() = default;
    // True when member `index` exists. False with kErrorNoMoreItems past the
    // last member, or with another error for a member that cannot be read
    // (callers skip it). Never blocks.
    virtual bool Enumerate(uint32_t index) = 0;
    // The device path of member `index`, for OpenUsbDevice. False with the
    // reason in LastSystemError().
    virtual bool DevicePath(uint32_t index, std::string& path) = 0;
};

// A list of fixed paths, as in-process backends give it; an empty path stands
// for a member that cannot be read.
std::unique_ptr<DeviceInterfaceList> MakeDeviceInterfaceList(std::vector<std::string> paths);

// What a driver backend provides; the free functions below dispatch to it.
// Implementations must be thread-safe: requests arrive from several threads.
class UsbDriverBackend {
  public:
    virtual ~UsbDriverBackend() = default;
    virtual std::unique_ptr<DeviceInterfaceList> OpenInterfaceList(const Guid& interfaceClass) = 0;
    virtual UsbHandle Open(const std::string& devicePath) = 0;
    virtual bool Close(UsbHandle handle) = 0;
    virtual bool Request(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize,
                         void* out, uint32_t outSize, uint32_t* bytesReturned,
                         UsbOverlapped* overlapped) = 0;
    virtual bool OverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes) = 0;
    virtual NotificationHandle RegisterInterfaceNotification(WindowHandle window,
                                                             const Guid& interfaceClass) = 0;
    virtual NotificationHandle RegisterHandleNotification(WindowHandle window,
                                                          UsbHandle handle) = 0;
    virtual bool UnregisterNotification(NotificationHandle notification) = 0;
};

// A device the library may open: its vendor and product IDs.
struct UsbDeviceId {
    uint16_t vendorId;
    uint16_t productId;
    bool operator==(const UsbDeviceId& other) const {
        return vendorId == other.vendorId && productId == other.productId;
    }
};

// --- The operations, on the active backend -------------------------------

// SetupDiGetClassDevs for present device interfaces of the class. Null when
// the system refuses or no backend is available (LastSystemError() says why).
std::unique_ptr<DeviceInterfaceList> OpenDeviceInterfaceList(const Guid& interfaceClass);

// CreateFileA for reading and writing, shared, overlapped. kInvalidUsbHandle
// on failure. May block briefly while the driver opens the device.
UsbHandle OpenUsbDevice(const std::string& devicePath);

// CloseHandle. False for an unknown handle.
bool CloseUsbDevice(UsbHandle handle);

// DeviceIoControl. Without `overlapped` the call blocks until the driver has
// finished and returns its result; *bytesReturned (when given) holds the
// count. With `overlapped` it may instead return false with kErrorIoPending:
// the request then runs on, and its completion sets overlapped.done().
// The buffers must stay valid until the request has completed.
bool UsbDeviceRequest(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                      uint32_t outSize, uint32_t* bytesReturned, UsbOverlapped* overlapped);

// GetOverlappedResult without waiting: true with the count of a request that
// succeeded; false with kErrorIoIncomplete while it runs, or with the
// request's error (the count is still given).
bool UsbOverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes);

// RegisterDeviceNotificationA for arrival and removal of the class's device
// interfaces, or for events on one open handle. Null on failure.
NotificationHandle RegisterUsbInterfaceNotification(WindowHandle window,
                                                    const Guid& interfaceClass);
NotificationHandle RegisterUsbHandleNotification(WindowHandle window, UsbHandle handle);
// UnregisterDeviceNotification. False on failure.
bool UnregisterUsbNotification(NotificationHandle notification);

// Tells the driver layer which devices the library may enumerate and open,
// before it enumerates. A backend that reaches a whole bus (libusb) lists
// only these, so nothing else on the bus is ever opened; backends whose
// driver publishes only cameras (Windows, the simulated one) may ignore it.
// Thread-safe; the list holds until the next call.
void SetAcceptedUsbDevices(std::vector<UsbDeviceId> devices);
std::vector<UsbDeviceId> AcceptedUsbDevices();

// --- Backends -------------------------------------------------------------

// Makes an in-process backend available under a name ("sim"). Registering a
// name again replaces the earlier backend. Thread-safe.
void RegisterUsbDriverBackend(const std::string& name, std::shared_ptr<UsbDriverBackend> backend);

// A test's choice of backend, ahead of the environment; "" returns to the
// default rule. Change it only while no device is open.
void SelectUsbDriverBackend(const std::string& name);

// The backend the operations use now; null when none is available.
std::shared_ptr<UsbDriverBackend> ActiveUsbDriverBackend();

// The OS driver backend; null where the system has none (POSIX for now).
std::shared_ptr<UsbDriverBackend> OsUsbDriverBackend();

// How an in-process backend reports a removal where the system sends no
// window message: one notice per matching registration, as the system would
// send DBT_DEVICEREMOVECOMPLETE. The receiver (the notification window's
// stand-in) is installed once; backends call DeliverUsbRemoval from their own
// thread, holding no lock.
struct UsbRemovalNotice {
    WindowHandle window;
    bool forHandle;       // a handle registration (DBT_DEVTYP_HANDLE) ...
    UsbHandle handle;     // ... for this open handle;
    Guid interfaceClass;  // otherwise the class registration (DBT_DEVTYP_DEVICEINTERFACE)
};
using UsbRemovalReceiver = std::function<void(const UsbRemovalNotice& notice)>;
void SetUsbRemovalReceiver(UsbRemovalReceiver receiver);
void DeliverUsbRemoval(const UsbRemovalNotice& notice);

}  // namespace platform
