#include "platform/NotificationWindow.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on

#include <memory>
#include <mutex>

#include "win32/LibraryModule.h"

namespace platform {
namespace {

constexpr char kClassName[] = "Vela2NotificationWindow";

LRESULT CALLBACK Dispatch(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        SetWindowLongPtrA(window, GWLP_USERDATA,
                          reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* procedure = reinterpret_cast<WindowProcedure*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        LRESULT result = DefWindowProcA(window, message, wParam, lParam);
        delete procedure;
        return result;
    }
    if (procedure && message != WM_NCCREATE) return (*procedure)(message, wParam, lParam);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Window classes belong to the module that registers them and outlive a
// DLL's unloading, so one registered under the program's handle would send a
// later load of the library (another copy, or the same file at another
// address) to the procedure of an unloaded one.
HINSTANCE OwnModule() { return LibraryModule(); }

// Guards the class's registration, and the windows made of it, against a
// window being destroyed and its class unregistered on another thread.
std::mutex& ClassMutex() {
    static std::mutex mutex;
    return mutex;
}
bool g_classRegistered = false;

// Registers the class unless it is; a failure is tried again next time.
// Called with ClassMutex held.
bool EnsureClassRegistered() {
    if (g_classRegistered) return true;
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = Dispatch;
    windowClass.hInstance = OwnModule();
    windowClass.lpszClassName = kClassName;
    if (!RegisterClassA(&windowClass)) {
        if (GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
        // Left by an earlier load at this same address, whose procedure this
        // load's replaces; with windows of it still open it cannot be
        // replaced, but then its procedure is this very code.
        if (UnregisterClassA(kClassName, windowClass.hInstance) && !RegisterClassA(&windowClass))
            return false;
    }
    g_classRegistered = true;
    return true;
}

// An in-process driver backend (the simulated device) cannot make the system
// send WM_DEVICECHANGE; its notices reach the window's procedure directly, on
// the delivering thread, as a broadcast record of the system's own layout.
void DeliverToWindow(const UsbRemovalNotice& notice) {
    HWND window = static_cast<HWND>(notice.window);
    if (!IsWindow(window)) return;
    auto* procedure = reinterpret_cast<WindowProcedure*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (procedure == nullptr) return;
    DEV_BROADCAST_HANDLE broadcast{};
    broadcast.dbch_size = sizeof broadcast;
    broadcast.dbch_devicetype = notice.forHandle ? DBT_DEVTYP_HANDLE : DBT_DEVTYP_DEVICEINTERFACE;
    broadcast.dbch_handle = notice.forHandle ? reinterpret_cast<HANDLE>(notice.handle) : nullptr;
    WindowProcedure call = *procedure;
    call(WM_DEVICECHANGE, DBT_DEVICEREMOVECOMPLETE, reinterpret_cast<LPARAM>(&broadcast));
}

}  // namespace

WindowHandle CreateNotificationWindow(const std::string& title, WindowProcedure procedure) {
    static const bool receiverInstalled = (SetUsbRemovalReceiver(DeliverToWindow), true);
    (void)receiverInstalled;
    std::lock_guard<std::mutex> lock(ClassMutex());
    if (!EnsureClassRegistered()) return nullptr;
    auto* held = new WindowProcedure(std::move(procedure));
    HWND window = CreateWindowExA(0x308, kClassName, title.c_str(), 0xCF0000 & ~WS_VISIBLE,
                                  CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                  nullptr, nullptr, OwnModule(), held);
    if (!window) delete held;
    return window;
}

void DestroyNotificationWindow(WindowHandle handle) {
    std::lock_guard<std::mutex> lock(ClassMutex());
    HWND window = static_cast<HWND>(handle);
    if (window != nullptr && IsWindow(window)) {
        if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
            DestroyWindow(window);  // its last message frees the procedure
        } else {
            // Only the window's own thread may destroy it, and it may
            // dispatch the window's next message after this library is
            // gone: the system's procedure takes over and closes it then.
            SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(DefWindowProcA));
            delete reinterpret_cast<WindowProcedure*>(SetWindowLongPtrA(window, GWLP_USERDATA, 0));
            PostMessageA(window, WM_CLOSE, 0, 0);
        }
    }
    // A class outlives the library that registered it: it goes once no
    // window of it is left, and the next window registers it again.
    if (g_classRegistered && UnregisterClassA(kClassName, OwnModule())) g_classRegistered = false;
}

bool IsNotificationWindow(WindowHandle window) {
    return window != nullptr && IsWindow(static_cast<HWND>(window));
}

bool PostCloseMessage(WindowHandle window) {
    return PostMessageA(static_cast<HWND>(window), WM_CLOSE, 0, 0) != FALSE;
}

intptr_t DefaultWindowProcedure(WindowHandle window, uint32_t message, uintptr_t wParam,
                                intptr_t lParam) {
    return DefWindowProcA(static_cast<HWND>(window), message, wParam, lParam);
}

bool ReadDeviceBroadcast(intptr_t lParam, uint32_t& deviceType, UsbHandle& handle) {
    if (lParam == 0) return false;
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    deviceType = header->dbch_devicetype;
    handle = kInvalidUsbHandle;
    if (deviceType == DBT_DEVTYP_HANDLE)
        handle = reinterpret_cast<UsbHandle>(
            reinterpret_cast<const DEV_BROADCAST_HANDLE*>(lParam)->dbch_handle);
    return true;
}

}  // namespace platform
