#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>

#include "Vela2UsbCameraDll.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "support/ChildProcess.h"
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
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;
    bool loaded() const { return handle != nullptr; }
    void* Find(const char* name) const { return Symbol(handle, name); }
    template <typename Function>
    Function* Get(const char* name) const {
        return reinterpret_cast<Function*>(Find(name));
    }
    const Handle handle;
};

// The loaded file's export, typed like the header's declaration; decltype
// keeps this program from linking the function itself.
#define EXPORT(library, function) (library).Get<decltype(function)>(#function)
}  // namespace

// Each load starts from the defaults again, however the previous one left them.
TEST(LibraryLoadTest, PlainNamesAnswerFromDefaultsOnEveryLoad) {
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE("load " + std::to_string(round + 1));
        Library library;
        ASSERT_TRUE(library.loaded()) << LibraryPath();
        auto getStatus = EXPORT(library, LD_GetStatus);
        auto getError = EXPORT(library, LD_GetError);
        auto getCameraState = EXPORT(library, GetCameraState);
        auto reset = EXPORT(library, LD_Reset);
        auto temperature = EXPORT(library, LD_GetCcdTemperature);
        ASSERT_TRUE(getStatus && getError && getCameraState && reset && temperature);

        EXPECT_EQ(getStatus(), -4);
        char name[VELA2_STATUS_NAME_SIZE] = "x";
        getError(-38, name);
        EXPECT_STREQ(name, "ERROR_CAMER_RESET");
        EXPECT_EQ(getCameraState(), 0x21);
        // Internal classes stay internal.
        EXPECT_EQ(library.Find("_ZN13CTesselCamera5CloseEi"), nullptr);

        // Commands without a camera fail cleanly, and leave a status behind.
        EXPECT_EQ(reset(1), 0);
        EXPECT_EQ(getStatus(), -33);
        double value = 7;
        EXPECT_EQ(temperature(&value), -49);
        EXPECT_EQ(value, 7);
    }
}

TEST(LibraryLoadTest, SharedEntryPointsAreOneFunction) {
    Library library;
    ASSERT_TRUE(library.loaded());
    void* temperature = library.Find("LD_GetTemperature");
    ASSERT_NE(temperature, nullptr);
    EXPECT_EQ(library.Find("LD_GetCameraTemperature"), temperature);
    EXPECT_EQ(library.Find("LD_GetCcdTemperature"), temperature);
    void* update = library.Find("LD_UpdateTempVolts");
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(library.Find("LD_UpdateTemperature"), update);
    EXPECT_NE(library.Find("LD_GetHeatSinkTemperature"), temperature);
}

namespace {
std::string VersionOf(const std::string& path, int32_t size, int32_t& result) {
    Library library(path);
    if (!library.loaded()) return "<not loaded>";
    std::string text(static_cast<size_t>(size), '#');
    result = EXPORT(library, LD_GetVersion)(&text[0], size);
    return text;
}
}  // namespace

TEST(LibraryLoadTest, VersionReportOfAnUninitializedCamera) {
    int32_t result = -1;
    std::string text = VersionOf(LibraryPath(), 1024, result);
    EXPECT_EQ(result, 0);
    std::string report = text.c_str();
    EXPECT_EQ(
        report.find("Dll Version Info:\nProductName \t = Vela2UsbCameraDll Dynamic Link Library\n"),
        0u)
        << report;
    EXPECT_NE(report.find("ProductVersion \t = 4, 6, 0, 1\n"), std::string::npos);
    // The firmware fields are empty, and the report's final newline is cut.
    const std::string tail = "Firmware \t\t =  -  - ";
    ASSERT_GE(report.size(), tail.size());
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
    EXPECT_EQ(text[report.size()], '\0');
    EXPECT_EQ(text[1023], '\0') << "the whole buffer is cleared first";

    // A short buffer gets the report's start and a terminator.
    EXPECT_EQ(VersionOf(LibraryPath(), 10, result), std::string("Dll Versi") + '\0');
    EXPECT_EQ(result, 0);
}

#ifndef _WIN32
TEST(LibraryLoadTest, ACopyWithoutVersionDataReportsTheError) {
    // A name of its own: test programs run side by side.
    std::string copy = ::testing::TempDir() + "libVela2UsbCameraDll-stripped-" +
                       std::to_string(std::random_device{}()) + ".so";
    std::string command =
        "objcopy --remove-section .vela2_version '" + LibraryPath() + "' '" + copy + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int32_t result = 0;
    std::string text = VersionOf(copy, 64, result);
    EXPECT_EQ(result, -51);
    EXPECT_EQ(text, std::string(64, '\0'));
    std::remove(copy.c_str());
}
#endif

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

#ifdef _WIN32
namespace {
// A folder of two copies of the library, two modules at two addresses, with
// the simulated camera's settings asking for the notification window.
struct TwoCopies {
    TwoCopies() {
        folder = ::testing::TempDir() + "vela2-two-copies-" + std::to_string(GetCurrentProcessId());
        CreateDirectoryA(folder.c_str(), nullptr);
        std::string settings =
            testsupport::ReadText(std::string(VELA2_SOURCE_CONFIG_DIR) + "/Vela2Usb.ini");
        const std::string off = "USB device notifications?=0";
        const size_t at = settings.find(off);
        ready = at != std::string::npos;
        if (!ready) return;
        settings.replace(at, off.size(), "USB device notifications?=1");
        ready =
            testsupport::WriteText(folder + "\\Vela2Usb.ini", settings) &&
            testsupport::WriteText(modes(), std::string("[Mode1]\nConfiguration File=") +
                                                VELA2_SOURCE_CONFIG_DIR + "/epal/mode1.hex\n") &&
            CopyFileA(LibraryPath().c_str(), copy(1).c_str(), FALSE) &&
            CopyFileA(LibraryPath().c_str(), copy(2).c_str(), FALSE);
    }
    ~TwoCopies() {
        for (const std::string& file : {copy(1), copy(2), modes(), folder + "\\Vela2Usb.ini"})
            DeleteFileA(file.c_str());
        RemoveDirectoryA(folder.c_str());
    }
    std::string copy(int n) const { return folder + "\\copy" + std::to_string(n) + ".dll"; }
    std::string modes() const { return folder + "\\modes.ini"; }

    std::string folder;
    bool ready = false;
};

// The simulated camera, at once, for every copy of the library loaded while
// this lives. The library reads these through the C runtime, which _putenv
// updates.
struct SimulatedCameraEnvironment {
    SimulatedCameraEnvironment() {
        _putenv("VELA2_USB_BACKEND=sim");
        _putenv("VELA2_SIM_TIME_SCALE=0");
    }
    ~SimulatedCameraEnvironment() {
        _putenv("VELA2_USB_BACKEND=");
        _putenv("VELA2_SIM_TIME_SCALE=");
    }
};

// Brings the camera up through this copy's exports, with its notification
// window, and closes it again; false when it did not come up.
bool BringUpAndClose(const Library& library, const std::string& modes) {
    const bool up = EXPORT(library, LD_Initialize)(1, 0, modes.c_str(), 0) == CAMERA_SUCCESS &&
                    EXPORT(library, IsInitialized)() == 1;
    EXPORT(library, Close)();
    testsupport::DispatchMessages();
    return up;
}
}  // namespace

// Window classes outlive the library that registered them. A copy loaded
// beside another, so at another address, and brought up after the other was
// unloaded must make its window with its own procedure, not the unloaded
// copy's (which took the process down).
TEST(LibraryLoadTest, ACopyBroughtUpAfterAnotherWasUnloadedMakesItsOwnWindow) {
    const SimulatedCameraEnvironment simulated;
    TwoCopies copies;
    ASSERT_TRUE(copies.ready) << copies.folder;
    auto first = std::make_unique<Library>(copies.copy(1));
    Library second(copies.copy(2));
    ASSERT_TRUE(first->loaded() && second.loaded());
    ASSERT_TRUE(BringUpAndClose(*first, copies.modes()));
    first.reset();
    EXPECT_TRUE(BringUpAndClose(second, copies.modes()));
}
#endif
