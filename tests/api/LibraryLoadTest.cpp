#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "Vela2UsbCameraDll.h"
#include "platform/Clock.h"
#include "platform/Event.h"
#include "support/ChildProcess.h"

#ifdef _WIN32
#include <windows.h>
using LibraryHandle = HMODULE;
static LibraryHandle Load(const std::string& path) { return LoadLibraryA(path.c_str()); }
static void* Find(LibraryHandle library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(library, name));
}
static void Unload(LibraryHandle library) { FreeLibrary(library); }
#else
#include <dlfcn.h>
using LibraryHandle = void*;
static LibraryHandle Load(const std::string& path) { return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL); }
static void* Find(LibraryHandle library, const char* name) { return dlsym(library, name); }
static void Unload(LibraryHandle library) { dlclose(library); }
#endif

namespace {
std::string LibraryPath() { return std::string(VELA2_LIBRARY_DIR) + "/" + VELA2_LIBRARY_PATH; }

using GetStatusFn = int32_t(VELA2_CALL*)(void);
using GetErrorFn = void(VELA2_CALL*)(int32_t, char*);
using GetCameraStateFn = uint8_t(VELA2_CALL*)(void);
}  // namespace

TEST(LibraryLoadTest, PlainNamesAnswerFromDefaultsRightAfterLoad) {
    LibraryHandle library = Load(LibraryPath());
    ASSERT_NE(library, nullptr) << LibraryPath();

    auto getStatus = reinterpret_cast<GetStatusFn>(Find(library, "LD_GetStatus"));
    auto getError = reinterpret_cast<GetErrorFn>(Find(library, "LD_GetError"));
    auto getCameraState = reinterpret_cast<GetCameraStateFn>(Find(library, "GetCameraState"));
    ASSERT_NE(getStatus, nullptr);
    ASSERT_NE(getError, nullptr);
    ASSERT_NE(getCameraState, nullptr);

    EXPECT_EQ(getStatus(), -4);
    char name[VELA2_STATUS_NAME_SIZE] = "x";
    getError(-38, name);
    EXPECT_STREQ(name, "ERROR_CAMER_RESET");
    EXPECT_EQ(getCameraState(), 0x21);

    // Internal classes stay internal.
    EXPECT_EQ(Find(library, "_ZN13CTesselCamera5CloseEi"), nullptr);
    Unload(library);
}

TEST(LibraryLoadTest, SharedEntryPointsAreOneFunction) {
    LibraryHandle library = Load(LibraryPath());
    ASSERT_NE(library, nullptr);
    void* temperature = Find(library, "LD_GetTemperature");
    ASSERT_NE(temperature, nullptr);
    EXPECT_EQ(Find(library, "LD_GetCameraTemperature"), temperature);
    EXPECT_EQ(Find(library, "LD_GetCcdTemperature"), temperature);
    void* update = Find(library, "LD_UpdateTempVolts");
    ASSERT_NE(update, nullptr);
    EXPECT_EQ(Find(library, "LD_UpdateTemperature"), update);
    EXPECT_NE(Find(library, "LD_GetHeatSinkTemperature"), temperature);
    Unload(library);
}

TEST(LibraryLoadTest, CommandsWithoutACameraFailCleanly) {
    LibraryHandle library = Load(LibraryPath());
    ASSERT_NE(library, nullptr);
    using ResetFn = int32_t(VELA2_CALL*)(int32_t);
    using TemperatureFn = int32_t(VELA2_CALL*)(double*);
    auto reset = reinterpret_cast<ResetFn>(Find(library, "LD_Reset"));
    auto temperature = reinterpret_cast<TemperatureFn>(Find(library, "LD_GetCcdTemperature"));
    auto getStatus = reinterpret_cast<GetStatusFn>(Find(library, "LD_GetStatus"));
    ASSERT_TRUE(reset && temperature && getStatus);
    EXPECT_EQ(reset(1), 0);
    EXPECT_EQ(getStatus(), -33);
    double value = 7;
    EXPECT_EQ(temperature(&value), -49);
    EXPECT_EQ(value, 7);
    Unload(library);
}

namespace {
using GetVersionFn = int32_t(VELA2_CALL*)(char*, int32_t);

std::string VersionOf(const std::string& path, int32_t size, int32_t& result) {
    LibraryHandle library = Load(path);
    if (library == nullptr) return "<not loaded>";
    auto getVersion = reinterpret_cast<GetVersionFn>(Find(library, "LD_GetVersion"));
    std::string text(static_cast<size_t>(size), '#');
    result = getVersion(&text[0], size);
    Unload(library);
    return text;
}
}  // namespace

TEST(LibraryLoadTest, VersionReportOfAnUninitializedCamera) {
    int32_t result = -1;
    std::string text = VersionOf(LibraryPath(), 1024, result);
    EXPECT_EQ(result, 0);
    std::string report = text.c_str();
    EXPECT_EQ(report.find("Dll Version Info:\nProductName \t = Vela2UsbCameraDll Dynamic Link Library\n"), 0u)
        << report;
    EXPECT_NE(report.find("ProductVersion \t = 4, 6, 0, 1\n"), std::string::npos);
    // The firmware fields are empty, and the report's final newline is cut.
    const std::string tail = "Firmware \t\t =  -  - ";
    ASSERT_GE(report.size(), tail.size());
    EXPECT_EQ(report.substr(report.size() - tail.size()), tail);
    EXPECT_EQ(text[report.size()], '\0');
    EXPECT_EQ(text[1023], '\0') << "the whole buffer is cleared first";
}

TEST(LibraryLoadTest, VersionReportIsCutToTheBuffer) {
    int32_t result = -1;
    std::string text = VersionOf(LibraryPath(), 10, result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(text, std::string("Dll Versi") + '\0');
}

#ifndef _WIN32
TEST(LibraryLoadTest, ACopyWithoutVersionDataReportsTheError) {
    std::string copy = ::testing::TempDir() + "libVela2UsbCameraDll-stripped.so";
    std::string command = "objcopy --remove-section .vela2_version '" + LibraryPath() + "' '" + copy + "'";
    ASSERT_EQ(std::system(command.c_str()), 0);
    int32_t result = 0;
    std::string text = VersionOf(copy, 64, result);
    EXPECT_EQ(result, -51);
    EXPECT_EQ(text, std::string(64, '\0'));
    std::remove(copy.c_str());
}
#endif

TEST(LibraryLoadTest, ReloadingStartsFromDefaultsAgain) {
    for (int round = 0; round < 2; ++round) {
        LibraryHandle library = Load(LibraryPath());
        ASSERT_NE(library, nullptr);
        auto getStatus = reinterpret_cast<GetStatusFn>(Find(library, "LD_GetStatus"));
        ASSERT_NE(getStatus, nullptr);
        EXPECT_EQ(getStatus(), -4);
        Unload(library);
    }
}

namespace {
// A client process: loads the library only to wait for the capture-complete
// event by name. Exit code 0 when it saw the event set, 2 when not, 3 when
// the event could not be opened.
testsupport::ChildMode g_eventClient("VELA2_EVENT_CLIENT", [](const std::string& name) {
    LibraryHandle library = Load(LibraryPath());
    if (library == nullptr) return 4;
    using OpenFn = LD_NamedEvent*(VELA2_CALL*)(const char*);
    using WaitFn = int32_t(VELA2_CALL*)(LD_NamedEvent*, uint32_t);
    using CloseFn = void(VELA2_CALL*)(LD_NamedEvent*);
    auto open = reinterpret_cast<OpenFn>(Find(library, "LD_OpenNamedEvent"));
    auto wait = reinterpret_cast<WaitFn>(Find(library, "LD_WaitNamedEvent"));
    auto close = reinterpret_cast<CloseFn>(Find(library, "LD_CloseNamedEvent"));
    LD_NamedEvent* event = open(name.c_str());
    if (event == nullptr) return 3;
    int32_t seen = wait(event, 20000);
    close(event);
    return seen == 1 ? 0 : 2;
});
}  // namespace

TEST(LibraryLoadTest, AnotherProcessWaitsForTheCaptureCompleteEventByName) {
    LibraryHandle library = Load(LibraryPath());  // creates the library's named events
    ASSERT_NE(library, nullptr);
    std::unique_ptr<platform::Event> complete = platform::Event::OpenNamed("TESSEL_CAPTURE_COMPLETE_EVENT");
    ASSERT_NE(complete, nullptr);
    complete->Reset();
    int code = testsupport::RunChild("VELA2_EVENT_CLIENT", "TESSEL_CAPTURE_COMPLETE_EVENT", [&] {
        platform::SleepMs(300);
        complete->Set();
    });
    EXPECT_EQ(code, 0);
    complete->Reset();
    Unload(library);
}

TEST(LibraryLoadTest, NamedEventFunctionsRefuseBadArguments) {
    LibraryHandle library = Load(LibraryPath());
    ASSERT_NE(library, nullptr);
    using OpenFn = LD_NamedEvent*(VELA2_CALL*)(const char*);
    using WaitFn = int32_t(VELA2_CALL*)(LD_NamedEvent*, uint32_t);
    auto open = reinterpret_cast<OpenFn>(Find(library, "LD_OpenNamedEvent"));
    auto wait = reinterpret_cast<WaitFn>(Find(library, "LD_WaitNamedEvent"));
    EXPECT_EQ(open(nullptr), nullptr);
    EXPECT_EQ(open("VELA2_NO_SUCH_EVENT_ANYWHERE"), nullptr);
    EXPECT_EQ(wait(nullptr, 0), -1);
    Unload(library);
}
