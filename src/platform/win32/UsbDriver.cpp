#include "platform/UsbDriver.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
// clang-format on

#include <atomic>
#include <cstring>
#include <vector>

#include "platform/SystemError.h"
#include "win32/EventImpl.h"
#include "win32/UsbIoControl.h"

namespace platform {

struct UsbOverlapped::OsState {
    OVERLAPPED overlapped;
};

UsbOverlapped::UsbOverlapped(Event& done) : done_(done) {}
UsbOverlapped::~UsbOverlapped() = default;

UsbOverlapped::OsState& UsbOverlapped::os() {
    if (!os_) {
        os_ = std::make_unique<OsState>();
        std::memset(&os_->overlapped, 0, sizeof os_->overlapped);
        os_->overlapped.hEvent = done_.impl().handle;
    }
    return *os_;
}

namespace {

std::atomic<IoControlCall> ioControlCall{&DeviceIoControl};

// A request that finished at once says so itself: the system leaves the last
// error undefined on success, and callers tell completion from a pending
// request by it.
BOOL IssueIoControl(HANDLE device, DWORD code, const void* in, DWORD inSize, void* out,
                    DWORD outSize, DWORD* returned, OVERLAPPED* overlapped) {
    const BOOL ok = ioControlCall.load()(device, code, const_cast<void*>(in), inSize, out, outSize,
                                         returned, overlapped);
    if (ok) SetLastError(ERROR_SUCCESS);
    return ok;
}

GUID ToSystem(const Guid& guid) {
    GUID system;
    static_assert(sizeof system == sizeof guid, "GUID layouts differ");
    std::memcpy(&system, &guid, sizeof system);
    return system;
}

HANDLE ToSystem(UsbHandle handle) { return reinterpret_cast<HANDLE>(handle); }

// Owns one SetupDi device-information set.
class SetupDiInterfaceList : public DeviceInterfaceList {
  public:
    SetupDiInterfaceList(HDEVINFO set, const GUID& interfaceClass)
        : set_(set), class_(interfaceClass) {}
    ~SetupDiInterfaceList() override { SetupDiDestroyDeviceInfoList(set_); }

    bool Enumerate(uint32_t index) override {
        SP_DEVICE_INTERFACE_DATA data;
        return Interface(index, data);
    }

    bool DevicePath(uint32_t index, std::string& path) override {
        SP_DEVICE_INTERFACE_DATA data;
        if (!Interface(index, data)) return false;
        DWORD required = 0;
        SetupDiGetDeviceInterfaceDetailA(set_, &data, nullptr, 0, &required, nullptr);
        if (required <= sizeof(DWORD)) return false;
        std::vector<char> storage(required + sizeof(DWORD), 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        SP_DEVINFO_DATA info;
        info.cbSize = sizeof info;
        if (!SetupDiGetDeviceInterfaceDetailA(set_, &data, detail, required, nullptr, &info))
            return false;
        path = detail->DevicePath;
        return true;
    }

  private:
    bool Interface(uint32_t index, SP_DEVICE_INTERFACE_DATA& data) {
        data.cbSize = sizeof data;
        return SetupDiEnumDeviceInterfaces(set_, nullptr, &class_, index, &data) != FALSE;
    }

    HDEVINFO set_;
    GUID class_;
};

class Win32UsbDriver : public UsbDriverBackend {
  public:
    std::unique_ptr<DeviceInterfaceList> OpenInterfaceList(const Guid& interfaceClass) override {
        GUID system = ToSystem(interfaceClass);
        HDEVINFO set =
            SetupDiGetClassDevsA(&system, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
        if (set == INVALID_HANDLE_VALUE) return nullptr;
        return std::make_unique<SetupDiInterfaceList>(set, system);
    }

    UsbHandle Open(const std::string& devicePath) override {
        HANDLE handle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_FLAG_OVERLAPPED, nullptr);
        return handle == INVALID_HANDLE_VALUE ? kInvalidUsbHandle
                                              : reinterpret_cast<UsbHandle>(handle);
    }

    bool Close(UsbHandle handle) override { return CloseHandle(ToSystem(handle)) != FALSE; }

    bool Request(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize, void* out,
                 uint32_t outSize, uint32_t* bytesReturned, UsbOverlapped* overlapped) override {
        if (overlapped == nullptr)
            return RequestAndWait(handle, code, in, inSize, out, outSize, bytesReturned);
        DWORD returned = 0;
        BOOL ok = IssueIoControl(ToSystem(handle), code, in, inSize, out, outSize, &returned,
                                 &overlapped->os().overlapped);
        if (bytesReturned) *bytesReturned = returned;
        return ok != FALSE;
    }

    bool OverlappedResult(UsbHandle handle, UsbOverlapped& overlapped, uint32_t& bytes) override {
        DWORD count = 0;
        BOOL ok = GetOverlappedResult(ToSystem(handle), &overlapped.os().overlapped, &count, FALSE);
        bytes = count;
        return ok != FALSE;
    }

    NotificationHandle RegisterInterfaceNotification(WindowHandle window,
                                                     const Guid& interfaceClass) override {
        DEV_BROADCAST_DEVICEINTERFACE_A filter;
        std::memset(&filter, 0, sizeof filter);
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = ToSystem(interfaceClass);
        return RegisterDeviceNotificationA(static_cast<HWND>(window), &filter,
                                           DEVICE_NOTIFY_WINDOW_HANDLE);
    }

    NotificationHandle RegisterHandleNotification(WindowHandle window, UsbHandle handle) override {
        DEV_BROADCAST_HANDLE filter;
        std::memset(&filter, 0, sizeof filter);
        filter.dbch_size = sizeof filter;
        filter.dbch_devicetype = DBT_DEVTYP_HANDLE;
        filter.dbch_handle = ToSystem(handle);
        return RegisterDeviceNotificationA(static_cast<HWND>(window), &filter,
                                           DEVICE_NOTIFY_WINDOW_HANDLE);
    }

    bool UnregisterNotification(NotificationHandle notification) override {
        return UnregisterDeviceNotification(static_cast<HDEVNOTIFY>(notification)) != FALSE;
    }

  private:
    // The handle is opened for overlapped I/O, where a request without an
    // OVERLAPPED may report completion before the driver has written its
    // answer; a private one and a wait keep the synchronous contract.
    static bool RequestAndWait(UsbHandle handle, uint32_t code, const void* in, uint32_t inSize,
                               void* out, uint32_t outSize, uint32_t* bytesReturned) {
        OVERLAPPED overlapped;
        std::memset(&overlapped, 0, sizeof overlapped);
        overlapped.hEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        if (overlapped.hEvent == nullptr) return false;
        DWORD returned = 0;
        BOOL ok = IssueIoControl(ToSystem(handle), code, in, inSize, out, outSize, &returned,
                                 &overlapped);
        if (!ok && GetLastError() == ERROR_IO_PENDING)
            ok = GetOverlappedResult(ToSystem(handle), &overlapped, &returned, TRUE);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        CloseHandle(overlapped.hEvent);
        SetLastError(error);
        if (bytesReturned) *bytesReturned = returned;
        return ok != FALSE;
    }
};

}  // namespace

IoControlCall ReplaceIoControlCall(IoControlCall call) {
    return ioControlCall.exchange(call != nullptr ? call : &DeviceIoControl);
}

std::shared_ptr<UsbDriverBackend> OsUsbDriverBackend() {
    static std::shared_ptr<UsbDriverBackend> backend = std::make_shared<Win32UsbDriver>();
    return backend;
}

}  // namespace platform
