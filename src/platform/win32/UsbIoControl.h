#pragma once
// The one call through which the Windows driver backend hands a request to
// the driver. Everything around it (the OVERLAPPED and its event, the
// result query, the synchronous wrapper) stays the backend's own, so a test
// that issues the request on an overlapped object of its own, such as a pipe
// whose other end plays the driver, runs the backend's real path. Internal to
// the library: the DLL exports only the names of its definition file.
#include <windows.h>

namespace platform {

// DeviceIoControl's shape; whatever is installed must keep its contract
// (pending requests complete through the OVERLAPPED the caller gives).
using IoControlCall = BOOL(WINAPI*)(HANDLE device, DWORD code, void* in, DWORD inSize, void* out,
                                    DWORD outSize, DWORD* returned, OVERLAPPED* overlapped);

// Installs `call` for every later request (null: DeviceIoControl again) and
// returns the one it replaces. Change it only while no request is under way.
IoControlCall ReplaceIoControlCall(IoControlCall call);

// Keeps a replacement for one scope, then puts the earlier call back.
class ScopedIoControlCall {
  public:
    explicit ScopedIoControlCall(IoControlCall call) : previous_(ReplaceIoControlCall(call)) {}
    ~ScopedIoControlCall() { ReplaceIoControlCall(previous_); }
    ScopedIoControlCall(const ScopedIoControlCall&) = delete;
    ScopedIoControlCall& operator=(const ScopedIoControlCall&) = delete;

  private:
    IoControlCall previous_;
};

}  // namespace platform
