#pragma once
// The library's process-wide objects. They are created together, in this
// order, the first time any of them is needed (in the shared library: while
// it loads), and destroyed in reverse order when the library unloads.

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "camera/CInterlockedScalar.h"
#include "camera/CTesselCamera.h"
#include "camera/CVidPid.h"
#include "camera/CaptureContext.h"
#include "platform/FileSystem.h"
#include "usb/CSubclassedWnd.h"

struct ProcessObjects {
    std::string HardwareRegistryLocation = "Software\\Quintaris Riravir\\USB\\VELA2_USB";
    const std::string IniFileName = std::string(1, platform::kPathSeparator) + "Vela2Usb.ini";
    CTesselCamera Camera;
    // The device-notification window, made by the first bring-up that wants it.
    std::unique_ptr<usb::CSubclassedWnd> NotificationWindow;
    // Windows that Close asked to close. A posted close is handled only when
    // the application next dispatches messages, so each object stays until
    // its window is gone: its procedure still runs until then.
    std::vector<std::unique_ptr<usb::CSubclassedWnd>> ClosingNotificationWindows;
    std::string ModulePath;
    CaptureContext Capture;
    CInterlockedScalar<int32_t> LastStatus{-4};
    // Filled once by the application object's start-up, read-only afterwards.
    std::map<int32_t, std::string> StatusNames;
    std::vector<CVidPid> VidPidList;
    int32_t OverscanColumns = 0;
    int32_t OverscanRows = 0;
};

ProcessObjects& Process();

// Destroys the objects; only the library's unload calls this.
void DestroyProcessObjects();

// Puts a fresh set of objects in place of the current ones, as a new load of
// the library would have them: the camera is closed, the objects destroyed
// as at unload and made again in the order of their first creation. What
// the library's start-up learned about its process (its module's path, the
// status names) carries over; the binning tables it fills are filled again.
// For tests, which would otherwise have to put back field by field what
// each one changed; nothing else may be running in the library meanwhile.
void RenewProcessObjects();

inline CInterlockedScalar<int32_t>& LastStatus() { return Process().LastStatus; }
inline CTesselCamera& TheCamera() { return Process().Camera; }
