#include <gtest/gtest.h>

#include <string>

#include "Vela2UsbCameraDll.h"

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
