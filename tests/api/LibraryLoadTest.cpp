// The library loaded by file name, as an application loads it, with none of
// its code linked into this program: its defaults on every load, its version
// report, its named events, and loads and unloads that leave nothing behind.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "Vela2UsbCameraDll.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "platform/Module.h"
#include "platform/VersionInfo.h"
#include "support/ChildProcess.h"
#include "support/Environment.h"
#include "support/ProcessResources.h"
#include "support/TempFolder.h"
#include "support/TextFiles.h"
#include "support/WindowMessages.h"

#ifdef _WIN32
#include <windows.h>
using Handle = HMODULE;
static Handle OpenFile(const std::string& path) { return LoadLibraryA(path.c_str()); }
static void* Symbol(Handle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
static void Unload(Handle library) { FreeLibrary(library); }
#else
#include <dlfcn.h>
#include <unistd.h>
using Handle = void*;
static Handle OpenFile(const std::string& path) {
    return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
static void* Symbol(Handle library, const char* name) { return dlsym(library, name); }
static void Unload(Handle library) { dlclose(library); }
#endif

namespace {
std::string LibraryPath() { return std::string(VELA2_LIBRARY_DIR) + "/" + VELA2_LIBRARY_PATH; }

// The library loaded by file name for as long as this object lives.
struct Library {
    explicit Library(const std::string& path = LibraryPath()) : handle(OpenFile(path)) {}
    ~Library() {
        if (handle) Unload(handle);
    }
    bool loaded() const { return handle != nullptr; }
    void* Find(const char* name) const { return Symbol(handle, name); }
    const Handle handle;
};

// The loaded file's export, typed like the header's declaration; decltype
// keeps this program from linking the function itself.
#define EXPORT(library, function) reinterpret_cast<decltype(function)*>((library).Find(#function))

std::string VersionOf(const std::string& path, int32_t size, int32_t& result) {
    Library library(path);
    if (!library.loaded()) return "<not loaded>";
    std::string text(static_cast<size_t>(size), '#');
    result = EXPORT(library, LD_GetVersion)(&text[0], size);
    return text;
}
}  // namespace

// Each load starts from the defaults again, however the previous one left them.
TEST(LibraryLoadTest, PlainNamesAnswerFromDefaultsOnEveryLoad) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("load " + std::to_string(round + 1));
        Library library;
        ASSERT_TRUE(library.loaded()) << LibraryPath();
        EXPECT_EQ(EXPORT(library, LD_GetStatus)(), ERROR_CAMERA_NOT_INITIALIZED);
        EXPECT_EQ(EXPORT(library, GetCameraState)(), 0x21);
        EXPECT_EQ(library.Find("_ZN13CTesselCamera5CloseEi"), nullptr) << "classes stay internal";
        // Commands without a camera fail cleanly, and leave a status behind.
        EXPECT_EQ(EXPORT(library, LD_Reset)(1), 0);
        EXPECT_EQ(EXPORT(library, LD_GetStatus)(), INVALID_USB_DEVICE);
        auto temperature = EXPORT(library, LD_GetCcdTemperature);
        double value = 7;
        EXPECT_EQ(temperature(&value), ERROR_TEMP_CONTROL_ENDPOINT_READ);
        EXPECT_EQ(value, 7);
        // The header's aliases are one function, each.
        EXPECT_EQ(library.Find("LD_GetTemperature"), reinterpret_cast<void*>(temperature));
        EXPECT_EQ(library.Find("LD_GetCameraTemperature"), reinterpret_cast<void*>(temperature));
        EXPECT_EQ(library.Find("LD_UpdateTemperature"), library.Find("LD_UpdateTempVolts"));
        EXPECT_NE(library.Find("LD_GetHeatSinkTemperature"), reinterpret_cast<void*>(temperature));
    }
}

// The report of an uninitialized camera comes from the file's version data,
// which files without it do not have.
TEST(LibraryLoadTest, VersionReportComesFromTheFilesVersionData) {
    int32_t result = -1;
    std::string text = VersionOf(LibraryPath(), 1024, result);
    EXPECT_EQ(result, 0);
    // The firmware fields are empty, and the report's final newline is cut.
    EXPECT_TRUE(std::regex_match(
        text.c_str(),
        std::regex("Dll Version Info:\nProductName \t = Vela2UsbCameraDll Dynamic Link "
                   "Library\n[\\s\\S]*ProductVersion \t = 4, 6, 0, 1\n[\\s\\S]*"
                   "Firmware \t\t =  -  - ")))
        << text.c_str();
    EXPECT_EQ(text[1023], '\0') << "the whole buffer is cleared first";
    // A short buffer gets the report's start and a terminator.
    EXPECT_EQ(VersionOf(LibraryPath(), 10, result), std::string("Dll Versi") + '\0');
    EXPECT_EQ(result, 0);

    const std::string table = "\\StringFileInfo\\040904e4\\";
    platform::VersionInfo info;
    ASSERT_TRUE(info.Load(LibraryPath()));
    std::string value;
    for (const char* name : {"CompanyName", "FileDescription", "Comments"}) {
        EXPECT_TRUE(info.Query(table + name, value)) << name;
        EXPECT_FALSE(value.empty()) << name;
    }
    EXPECT_FALSE(info.Query(table + "NoSuchString", value));
    platform::VersionInfo none;
    EXPECT_FALSE(none.Load(platform::ModuleFilePath()));  // this test program has none
    EXPECT_FALSE(none.Load(LibraryPath() + ".missing"));
    EXPECT_FALSE(none.Load(""));
#ifndef _WIN32
    testsupport::TempFolder folder{"vela2-stripped-"};
    const std::string copy = folder / "libVela2UsbCameraDll.so";
    ASSERT_EQ(std::system(
                  ("objcopy --remove-section .vela2_version '" + LibraryPath() + "' '" + copy + "'")
                      .c_str()),
              0);
    EXPECT_EQ(VersionOf(copy, 64, result), std::string(64, '\0'));
    EXPECT_EQ(result, ERROR_CAMERA_VERSION_INFO);
#endif
}

#ifndef _WIN32
namespace {
// A client process: loads the library only to wait for the capture-complete
// event by name. Exit code 0 when it saw the event set, 2 when not, 3 when
// the event could not be opened.
testsupport::ChildMode g_eventClient("VELA2_EVENT_CLIENT", [](const std::string& name) {
    Library library;
    if (!library.loaded()) return 4;
    LD_NamedEvent* event = EXPORT(library, LD_OpenNamedEvent)(name.c_str());
    if (event == nullptr) return 3;
    int32_t seen = EXPORT(library, LD_WaitNamedEvent)(event, 20000);
    EXPORT(library, LD_CloseNamedEvent)(event);
    return seen == 1 ? 0 : 2;
});
}  // namespace

TEST(LibraryLoadTest, NamedEventsReachAnotherProcessAndRefuseBadArguments) {
    Library library;  // creates the library's named events
    ASSERT_TRUE(library.loaded());
    EXPECT_EQ(EXPORT(library, LD_OpenNamedEvent)(nullptr), nullptr);
    EXPECT_EQ(EXPORT(library, LD_OpenNamedEvent)("VELA2_NO_SUCH_EVENT_ANYWHERE"), nullptr);
    EXPECT_EQ(EXPORT(library, LD_WaitNamedEvent)(nullptr, 0), -1);

    std::unique_ptr<platform::Event> complete =
        platform::Event::OpenNamed("TESSEL_CAPTURE_COMPLETE_EVENT");
    ASSERT_NE(complete, nullptr);
    complete->Reset();
    int code = testsupport::RunChild("VELA2_EVENT_CLIENT", "TESSEL_CAPTURE_COMPLETE_EVENT", [&] {
        platform::SleepMs(300);
        complete->Set();
    });
    EXPECT_EQ(code, 0);
    complete->Reset();
}
#endif

namespace {
// Brings the camera up through this copy's exports.
bool BringUpWith(const Library& library, const std::string& modes) {
    return EXPORT(library, LD_Initialize)(1, 0, modes.c_str(), 0) == CAMERA_SUCCESS &&
           EXPORT(library, IsInitialized)() == 1;
}

// A folder of two copies of the library, each its own module at its own
// address, with the simulated camera's settings (the notification window on
// or off) and a mode file for mode 1. While it lives, every copy loaded finds
// the simulated camera at once: no exposure time and no control round trip,
// which the many initializations here would pay thousands of times.
struct CameraCopies {
    explicit CameraCopies(bool window = false) {
        std::string settings =
            testsupport::ReadText(std::string(VELA2_SOURCE_CONFIG_DIR) + "/Vela2Usb.ini");
        const std::string off = "USB device notifications?=0";
        const size_t at = settings.find(off);
        if (at == std::string::npos) return;
        if (window) settings.replace(at, off.size(), "USB device notifications?=1");
        std::error_code error;
        ready =
            testsupport::WriteText(folder / "Vela2Usb.ini", settings) &&
            testsupport::WriteText(modes(), std::string("[Mode1]\nConfiguration File=") +
                                                VELA2_SOURCE_CONFIG_DIR + "/epal/mode1.hex\n") &&
            std::filesystem::copy_file(LibraryPath(), copy(1), error) &&
            std::filesystem::copy_file(LibraryPath(), copy(2), error);
    }
    std::string copy(int n) const {
        return folder / (std::to_string(n) + "-" + VELA2_LIBRARY_PATH);
    }
    std::string modes() const { return folder / "modes.ini"; }
    bool BringUp(const Library& library) const { return BringUpWith(library, modes()); }

    testsupport::ScopedVariable backend{"VELA2_USB_BACKEND", "sim"};
    testsupport::ScopedVariable time{"VELA2_SIM_TIME_SCALE", "0"};
    testsupport::ScopedVariable latency{"VELA2_SIM_CONTROL_LATENCY_US", "0"};
    testsupport::TempFolder folder{"vela2-copies-"};
    bool ready = false;
};

// The buffers of one picture of the camera's current geometry, overscan
// included.
struct PictureBuffers {
    explicit PictureBuffers(const Library& library) {
        EXPORT(library, LD_GetQuadrantWidth)(&size[0]);
        EXPORT(library, LD_GetQuadrantHeight)(&size[1]);
        EXPORT(library, LD_GetOverscanWidth)(&size[2]);
        EXPORT(library, LD_GetOverscanHeight)(&size[3]);
        for (int q = 0; q < 4; ++q) {
            buffers[q].assign(size_t(size[0]) * size[1], 0);
            buffers[4 + q].assign(size_t(size[2]) * size[3], 0);
        }
    }
    int32_t Start(const Library& library) {
        auto& b = buffers;
        return EXPORT(library, LD_StartPicture)(b[0].data(), b[1].data(), b[2].data(), b[3].data(),
                                                size[0], size[1], b[4].data(), b[5].data(),
                                                b[6].data(), b[7].data(), size[2], size[3]);
    }
    // Its status once it completed, or the completion state when it did not.
    int32_t Take(const Library& library) {
        if (int32_t started = Start(library)) return started;
        const int32_t completion = EXPORT(library, LD_WaitForCapture)(5000);
        return completion == RECONSTRUCTION_COMPLETED ? EXPORT(library, LD_GetStatus)()
                                                      : completion;
    }
    std::vector<uint16_t> buffers[8];  // the images, then their overscans
    int32_t size[4] = {};
};

// Runs `unload` and fails the whole program if it has not returned in time:
// a hung unload holds the system's loader lock, which nothing can take back.
void UnloadWithin(std::chrono::seconds limit, const std::function<void()>& unload) {
    platform::Event returned(platform::EventReset::Manual);
    std::thread watchdog([&] {
        if (returned.Wait(uint32_t(limit.count()) * 1000) == platform::WaitStatus::Signaled) return;
        std::fprintf(stderr, "unloading the library did not return within %d s\n",
                     static_cast<int>(limit.count()));
        std::fflush(stderr);
#ifdef _WIN32
        TerminateProcess(GetCurrentProcess(), 3);
#else
        _exit(3);
#endif
    });
    unload();
    returned.Set();
    watchdog.join();
}
}  // namespace

// Each round unloads without Close a camera that took a picture, with or
// without its notification window; the first one without waits for its
// trigger as it goes. The unload stops the capture, the workers and the
// simulated device and takes the window along: no thread of the library runs
// afterwards, not even after the first load, the host goes on dispatching its
// messages, and fifty rounds leave no handle or memory behind.
TEST(LibraryLoadTest, UnloadsWithoutCloseLeaveNoThreadWindowHandleOrMemoryBehind) {
    for (bool window : {false, true}) {
        SCOPED_TRACE(window ? "notification window" : "capture waiting for its trigger");
        CameraCopies copies(window);
        ASSERT_TRUE(copies.ready) << copies.folder.path();
        auto round = [&](bool waitForTrigger) {
            auto library = std::make_unique<Library>(copies.copy(1));
            if (!library->loaded() || !copies.BringUp(*library)) return false;
            PictureBuffers waiting(*library);
            if (waiting.Take(*library) != CAMERA_SUCCESS) return false;
            if (waitForTrigger) {
                EXPORT(*library, SetHardwareTrigger)(1);
                if (waiting.Start(*library) != CAMERA_SUCCESS ||
                    EXPORT(*library, LD_IsCaptureComplete)() != RECONSTRUCTION_IN_PROGRESS)
                    return false;
            }
            UnloadWithin(std::chrono::seconds(5), [&] { library.reset(); });
            testsupport::DispatchMessages();
            return true;
        };
        const int threadsBefore = testsupport::ThreadCount();
        ASSERT_TRUE(round(!window));
        EXPECT_EQ(testsupport::ThreadCountSettledAt(threadsBefore), threadsBefore);
        // The first rounds fill the system's and the runtime's own caches.
#ifdef _WIN32
        const bool waits = false;
#else
        // An unload here once leaked a descriptor per capture still
        // checking its buffers, so every round leaves one waiting.
        const bool waits = !window;
#endif
        for (int warmUp = 0; warmUp < 4; ++warmUp) ASSERT_TRUE(round(waits));
        const int threads = testsupport::ThreadCountSettledAt(testsupport::ThreadCount());
        const int handles = testsupport::OpenHandleCount();
        const int64_t memory = testsupport::PrivateBytes();
        for (int n = 0; n < 45; ++n) ASSERT_TRUE(round(waits)) << "round " << n;
        EXPECT_EQ(testsupport::ThreadCountSettledAt(threads), threads);
        EXPECT_LE(testsupport::OpenHandleCount(), handles);
#ifndef __SANITIZE_ADDRESS__  // its quarantine keeps what the library frees
        // A load that kept its camera's threads used to keep megabytes each time.
        EXPECT_LT(testsupport::PrivateBytes() - memory, int64_t{4} << 20);
#else
        (void)memory;
#endif
    }
}

namespace {
// A process that ends while its camera waits for a trigger, without Close or
// unloading. Exit code 0 once the capture waited; the test then sees whether
// the process ends at all.
testsupport::ChildMode g_exitWhileWaiting("VELA2_EXIT_WHILE_WAITING", [](const std::string& modes) {
    auto* library = new Library(std::filesystem::path(modes)
                                    .replace_filename("1-" + std::string(VELA2_LIBRARY_PATH))
                                    .string());
    if (!library->loaded() || !BringUpWith(*library, modes)) return 4;
    EXPORT(*library, SetHardwareTrigger)(1);
    PictureBuffers* waiting = new PictureBuffers(*library);
    if (waiting->Start(*library) != CAMERA_SUCCESS) return 5;
    std::exit(0);  // the library's shut-down runs as the process ends
});
}  // namespace

TEST(LibraryLoadTest, AProcessEndsWhileItsCameraWaitsForATrigger) {
    CameraCopies copies;
    ASSERT_TRUE(copies.ready) << copies.folder.path();
    EXPECT_EQ(testsupport::RunChild("VELA2_EXIT_WHILE_WAITING", copies.modes(), [] {}), 0);
}

// Window classes outlive the library that registered them. A copy loaded
// beside another, so at another address, and brought up after the other was
// unloaded must make its window with its own procedure, not the unloaded
// copy's (which took the process down).
TEST(LibraryLoadTest, ACopyBroughtUpAfterAnotherWasUnloadedMakesItsOwnWindow) {
    CameraCopies copies(true);
    ASSERT_TRUE(copies.ready) << copies.folder.path();
    auto first = std::make_unique<Library>(copies.copy(1));
    Library second(copies.copy(2));
    ASSERT_TRUE(first->loaded() && second.loaded());
    auto bringUpAndClose = [&](const Library& library) {
        const bool up = copies.BringUp(library);
        EXPORT(library, Close)();
        testsupport::DispatchMessages();
        return up;
    };
    ASSERT_TRUE(bringUpAndClose(*first));
    first.reset();
    EXPECT_TRUE(bringUpAndClose(second));
}

#ifdef _WIN32
// The window belongs to the thread that brought the camera up; unloaded from
// another thread, the library cannot destroy it, and that thread dispatches
// the window's messages after the library is gone.
TEST(LibraryLoadTest, AWindowOfAnotherThreadOutlivesTheUnloadHarmlessly) {
    CameraCopies copies(true);
    ASSERT_TRUE(copies.ready) << copies.folder.path();
    auto library = std::make_unique<Library>(copies.copy(1));
    ASSERT_TRUE(library->loaded());
    platform::Event up(platform::EventReset::Manual), unloaded(platform::EventReset::Manual);
    bool broughtUp = false;
    HWND window = nullptr;
    std::thread owner([&] {
        broughtUp = copies.BringUp(*library);
        window = FindWindowA(nullptr, "Tamberlin Notification Window");
        up.Set();
        unloaded.Wait(20000);
        testsupport::DispatchMessages();
    });
    up.Wait(20000);
    EXPECT_TRUE(broughtUp);
    EXPECT_NE(window, nullptr);
    UnloadWithin(std::chrono::seconds(5), [&] { library.reset(); });
    unloaded.Set();
    owner.join();
    EXPECT_FALSE(IsWindow(window));
}
#endif
