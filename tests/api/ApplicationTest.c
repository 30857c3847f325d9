/*
 * The library as an application uses it: a C program that loads a copy of
 * the DLL by file name, finds every export with GetProcAddress and calls it
 * through a pointer typed from the public header's own declaration, on the
 * simulated camera. Prints one line per failed check; exits 1 on any.
 */
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "Vela2UsbCameraDll.h"

/* Every export this program calls, by name. */
/* clang-format off */
#define VELA2_EXPORTS(X) \
    X(Close) X(Download) X(GetCameraState) X(GetDeviceHandle) X(GetHardwareRegistryLocation) \
    X(GetHeight) X(GetNumberOfQuadrants) X(GetWidth) X(IsInitialized) X(LD_Capture) \
    X(LD_GetActiveHeight) X(LD_GetActiveWidth) X(LD_GetBottomTecCurrent) X(LD_GetCameraStatus) \
    X(LD_GetCameraTemperature) X(LD_GetCameraType) X(LD_GetCcdTemperature) \
    X(LD_GetEnableSoftwareTrigger) X(LD_GetEpalQuadrantHeight) X(LD_GetEpalQuadrantWidth) \
    X(LD_GetError) X(LD_GetExposureTime) X(LD_GetHeatSinkTemperature) X(LD_GetOverscanHeight) \
    X(LD_GetOverscanWidth) X(LD_GetQuadrantHeight) X(LD_GetQuadrantWidth) \
    X(LD_GetRawImageHeight) X(LD_GetRawImageWidth) X(LD_GetReadoutTime) X(LD_GetSimulationMode) \
    X(LD_GetStatus) X(LD_GetTecCurrent) X(LD_GetTemperature) X(LD_GetTestPatternMode) \
    X(LD_GetTimeout) X(LD_GetTopTecCurrent) X(LD_GetVersion) X(LD_Initialize) \
    X(LD_InitializeWithStatus) X(LD_IsCaptureComplete) X(LD_IsInitialized) X(LD_Reset) \
    X(LD_SetCreateRawImageFile) X(LD_SetEnableSoftwareTrigger) X(LD_SetExposureTime) \
    X(LD_SetRawImageFilename) X(LD_SetSimulationMode) X(LD_SetTemperatureSetpoint) \
    X(LD_SetTestPatternMode) X(LD_SetTimeout) X(LD_StartPicture) X(LD_UpdateTempVolts) \
    X(LD_UpdateTemperature) X(LD_WaitForCapture) X(ReadCalibration) X(ReadClockVoltages) \
    X(ReadFpga) X(ReadOffsets) X(ReadProductInfo) X(ReadVendorRequest) X(SetCameraState) \
    X(SetHardwareTrigger) X(SetSoftwareTrigger) X(Upload) X(WriteCalibration) \
    X(WriteClockVoltages) X(WriteFpga) X(WriteOffsets) X(WriteProductInfo) X(WriteVendorRequest)
/* clang-format on */
#define COUNT_ONE(name) +1
enum { kExportCount = 0 VELA2_EXPORTS(COUNT_ONE), kRounds = 20 };

/* __typeof__ carries the header's calling convention into each pointer. */
struct Api {
#define DECLARE_POINTER(name) __typeof__(name)* name;
    VELA2_EXPORTS(DECLARE_POINTER)
#undef DECLARE_POINTER
};

static int g_failures;

static void Fail(const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    vprintf(format, arguments);
    va_end(arguments);
    putchar('\n');
    ++g_failures;
}

#define CHECK(condition, ...) ((condition) ? (void)0 : Fail(__VA_ARGS__))
#define EXPECT_EQ(actual, expected, what)                                                    \
    CHECK((long)(actual) == (long)(expected), "%s: %ld, expected %ld", what, (long)(actual), \
          (long)(expected))

/* A caller whose pointer has the wrong convention leaves the stack pointer
 * off by the arguments' size after each call on i686. The readings go to
 * globals, which a moved stack pointer cannot misplace, and the stack pointer
 * is put back at once, so such a call is reported instead of crashing. */
#if defined(__i386__)
#define READ_STACK_POINTER(sp) __asm__ volatile("movl %%esp, %0" : "=r"(sp) : : "memory")
#define RESTORE_STACK_POINTER(sp) __asm__ volatile("movl %0, %%esp" : : "m"(sp) : "memory")
#elif defined(__x86_64__)
#define READ_STACK_POINTER(sp) __asm__ volatile("movq %%rsp, %0" : "=r"(sp) : : "memory")
#define RESTORE_STACK_POINTER(sp) __asm__ volatile("movq %0, %%rsp" : : "m"(sp) : "memory")
#else
#error "no way to read the stack pointer on this processor"
#endif
static volatile uintptr_t g_spBefore, g_spAfter;
#define MEASURE_STACK(call)         \
    READ_STACK_POINTER(g_spBefore); \
    call;                           \
    READ_STACK_POINTER(g_spAfter);  \
    RESTORE_STACK_POINTER(g_spBefore)
#define STACK_KEPT(call)                                                                 \
    do {                                                                                 \
        MEASURE_STACK(call);                                                             \
        CHECK(g_spAfter == g_spBefore, "%s moved the stack pointer by %ld bytes", #call, \
              (long)(g_spAfter - g_spBefore));                                           \
    } while (0)

static void CheckTheMeasurementSeesAWrongConvention(const struct Api* api) {
#if defined(__i386__)
    /* Deliberately without VELA2_CALL: the mistake STACK_KEPT must catch. */
    typedef int32_t (*CdeclGetTimeout)(uint32_t*);
    CdeclGetTimeout wrong = (CdeclGetTimeout)api->LD_GetTimeout;
    uint32_t timeout;
    MEASURE_STACK(wrong(&timeout));
    EXPECT_EQ(g_spAfter - g_spBefore, sizeof(uint32_t*),
              "drift of a cdecl call to a stdcall export");
#else
    (void)api; /* one calling convention: nothing can drift */
#endif
}

/* Harmless on any camera: reads only. */
static void CallReaders(const struct Api* api) {
    char text[1024];
    uint8_t block[192];
    double value;
    int32_t number;
    uint32_t a, b, c;
    /* clang-format off */
    STACK_KEPT(api->IsInitialized()); STACK_KEPT(api->LD_IsInitialized());
    STACK_KEPT(api->LD_GetStatus()); STACK_KEPT(api->LD_GetError(0, text));
    STACK_KEPT(api->LD_GetVersion(text, sizeof text));
    STACK_KEPT(api->LD_IsCaptureComplete()); STACK_KEPT(api->LD_WaitForCapture(0));
    STACK_KEPT(api->GetWidth()); STACK_KEPT(api->GetHeight());
    STACK_KEPT(api->GetNumberOfQuadrants());
    STACK_KEPT(api->LD_GetActiveWidth()); STACK_KEPT(api->LD_GetActiveHeight());
    STACK_KEPT(api->LD_GetRawImageWidth()); STACK_KEPT(api->LD_GetRawImageHeight());
    STACK_KEPT(api->LD_GetQuadrantWidth(&number)); STACK_KEPT(api->LD_GetQuadrantHeight(&number));
    STACK_KEPT(api->LD_GetOverscanWidth(&number)); STACK_KEPT(api->LD_GetOverscanHeight(&number));
    STACK_KEPT(api->LD_GetEpalQuadrantWidth(&number));
    STACK_KEPT(api->LD_GetEpalQuadrantHeight(&number));
    STACK_KEPT(api->LD_GetReadoutTime()); STACK_KEPT(api->GetDeviceHandle());
    STACK_KEPT(api->GetHardwareRegistryLocation()); STACK_KEPT(api->GetCameraState());
    STACK_KEPT(api->LD_GetEnableSoftwareTrigger()); STACK_KEPT(api->LD_GetSimulationMode(&number));
    STACK_KEPT(api->LD_GetTimeout(&a)); STACK_KEPT(api->LD_GetExposureTime(&a, &b, &c));
    STACK_KEPT(api->LD_GetTestPatternMode(&a)); STACK_KEPT(api->LD_GetCameraType(&a));
    STACK_KEPT(api->LD_GetTemperature(&value)); STACK_KEPT(api->LD_GetCameraTemperature(&value));
    STACK_KEPT(api->LD_GetCcdTemperature(&value));
    STACK_KEPT(api->LD_GetHeatSinkTemperature(&value)); STACK_KEPT(api->LD_GetTecCurrent(&value));
    STACK_KEPT(api->LD_GetTopTecCurrent(&value)); STACK_KEPT(api->LD_GetBottomTecCurrent(&value));
    STACK_KEPT(api->LD_UpdateTempVolts(block, 64));
    STACK_KEPT(api->LD_UpdateTemperature(block, 64));
    STACK_KEPT(api->LD_GetCameraStatus(block, 32));
    STACK_KEPT(api->ReadVendorRequest("0xAB", "0x0", "0x0", block, 64));
    STACK_KEPT(api->ReadFpga(block, 64, 0)); STACK_KEPT(api->ReadClockVoltages(block, 32));
    STACK_KEPT(api->ReadOffsets(block, 64)); STACK_KEPT(api->ReadCalibration(block, 64));
    STACK_KEPT(api->ReadProductInfo(block, 64)); STACK_KEPT(api->Download(block, sizeof block));
    /* clang-format on */
}

/* Commands and setters: harmless only while no camera is initialized, where
 * they fail at once or set what initialization sets again. */
static void CallCommands(const struct Api* api, const char* missingModeFile) {
    uint8_t block[192] = {0};
    uint16_t pixels[256];
    /* clang-format off */
    STACK_KEPT(api->Close()); STACK_KEPT(api->LD_Reset(1));
    STACK_KEPT(api->LD_Initialize(1, 0, missingModeFile, 0));
    STACK_KEPT(api->LD_InitializeWithStatus(1, 0, missingModeFile, 0, 0));
    STACK_KEPT(api->LD_Capture(pixels));
    STACK_KEPT(api->LD_StartPicture(pixels, pixels, pixels, pixels, 8, 8, NULL, NULL, NULL, NULL,
                                    0, 0));
    STACK_KEPT(api->LD_SetTimeout(0)); STACK_KEPT(api->SetCameraState(0x21));
    STACK_KEPT(api->SetSoftwareTrigger(1)); STACK_KEPT(api->SetHardwareTrigger(0));
    STACK_KEPT(api->LD_SetEnableSoftwareTrigger(1)); STACK_KEPT(api->LD_SetSimulationMode(0));
    STACK_KEPT(api->LD_SetRawImageFilename("")); STACK_KEPT(api->LD_SetCreateRawImageFile(0));
    STACK_KEPT(api->LD_SetExposureTime(50, 256, 16)); STACK_KEPT(api->LD_SetTestPatternMode(0));
    STACK_KEPT(api->LD_SetTemperatureSetpoint(25315));
    STACK_KEPT(api->WriteFpga(block, 64, 0)); STACK_KEPT(api->WriteClockVoltages(block, 64));
    STACK_KEPT(api->WriteOffsets(block, 64)); STACK_KEPT(api->WriteCalibration(block, 64));
    STACK_KEPT(api->WriteProductInfo(block, 64)); STACK_KEPT(api->Upload(block, sizeof block));
    STACK_KEPT(api->WriteVendorRequest("0xAB", "0x5", "0x0", block, 1));
    /* clang-format on */
}

/* The folder an application installs into: the library, its settings and
 * the modes' EPAL files side by side. */
static const char* const kInstalledFiles[] = {"Vela2UsbCameraDll.dll", "Vela2Usb.ini", "mode1.hex",
                                              "mode2.hex", "modes.ini"};
static const char* const kSources[] = {VELA2_LIBRARY_FILE, VELA2_SOURCE_CONFIG_DIR "/Vela2Usb.ini",
                                       VELA2_SOURCE_CONFIG_DIR "/epal/mode1.hex",
                                       VELA2_SOURCE_CONFIG_DIR "/epal/mode2.hex"};

static void InFolder(char* path, const char* folder, const char* name) {
    snprintf(path, MAX_PATH, "%s\\%s", folder, name);
}

static int Install(char* folder) {
    char temp[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(folder, MAX_PATH, "%svela2-application-%lu", temp, GetCurrentProcessId());
    CreateDirectoryA(folder, NULL);
    for (size_t i = 0; i < sizeof kSources / sizeof kSources[0]; ++i) {
        InFolder(path, folder, kInstalledFiles[i]);
        if (!CopyFileA(kSources[i], path, FALSE)) return 0;
    }
    InFolder(path, folder, "modes.ini");
    FILE* modes = fopen(path, "wb");
    if (!modes) return 0;
    for (int mode = 1; mode <= 2; ++mode)
        fprintf(modes, "[Mode%d]\nConfiguration File=%s\\mode%d.hex\n", mode, folder, mode);
    return fclose(modes) == 0;
}

static void Uninstall(const char* folder) {
    char path[MAX_PATH];
    for (size_t i = 0; i < sizeof kInstalledFiles / sizeof kInstalledFiles[0]; ++i) {
        InFolder(path, folder, kInstalledFiles[i]);
        DeleteFileA(path);
    }
    RemoveDirectoryA(folder);
}

/* True when every export was found. */
static int Resolve(HMODULE library, struct Api* api) {
    const int failuresBefore = g_failures;
#define RESOLVE(name)                                                                  \
    api->name = (__typeof__(api->name))(void (*)(void))GetProcAddress(library, #name); \
    CHECK(api->name, "export %s is missing", #name);
    VELA2_EXPORTS(RESOLVE)
#undef RESOLVE
    return g_failures == failuresBefore;
}

struct Mode {
    int number, quadrants, width, height, overscan;
};
/* What config/make_epal.py lays out for the two modes. */
static const struct Mode kModes[] = {{1, 4, 1024, 1024, 8}, {2, 2, 2048, 4096, 16}};
enum { kFixedPrescanColumns = 3, kUntouched = 0xDEAD };

static void CheckGeometry(const struct Api* api, const struct Mode* mode) {
    int32_t width = 0, height = 0, overscanWidth = 0, overscanHeight = 0;
    EXPECT_EQ(api->LD_GetQuadrantWidth(&width) | api->LD_GetQuadrantHeight(&height) |
                  api->LD_GetOverscanWidth(&overscanWidth) |
                  api->LD_GetOverscanHeight(&overscanHeight),
              0, "quadrant geometry getters");
    CHECK(width == mode->width && height == mode->height && overscanWidth == mode->overscan &&
              overscanHeight == mode->overscan,
          "mode %d: quadrants of %dx%d with %dx%d overscan", mode->number, width, height,
          overscanWidth, overscanHeight);
    EXPECT_EQ(api->GetNumberOfQuadrants(), mode->quadrants, "number of quadrants");
    EXPECT_EQ(api->LD_GetRawImageWidth(), mode->quadrants * api->GetWidth(), "raw image width");
    EXPECT_EQ(api->GetHeight(), mode->height + mode->overscan, "raw quadrant height");
}

/* The simulated camera sends pixel i of a frame transfer as this value. */
static uint16_t SentPixel(uint32_t i) { return (uint16_t)(i * 7u + (i >> 12)); }

/* Outputs come interleaved column by column after their fixed pre-scan
 * columns; each quadrant is read from its own corner of the sensor, so the
 * second is mirrored left to right, the third top to bottom, the fourth both.
 * Quadrants the mode does not read keep what the application put there. */
static uint16_t ExpectedPixel(const struct Mode* mode, uint32_t rawWidth, int q, int r, int c) {
    if (q >= mode->quadrants) return kUntouched;
    const int row = (q & 2) ? mode->height - 1 - r : r;
    const int column = (q & 1) ? mode->width - 1 - c : c;
    const int n = mode->quadrants;
    return SentPixel((uint32_t)row * rawWidth + kFixedPrescanColumns * n + q + n * column);
}

static void CheckPicture(const struct Api* api, const struct Mode* mode) {
    const size_t pixels = (size_t)mode->width * mode->height;
    uint16_t* image = malloc(4 * pixels * sizeof *image);
    for (size_t i = 0; i < 4 * pixels; ++i) image[i] = kUntouched;
    EXPECT_EQ(api->LD_StartPicture(image, image + pixels, image + 2 * pixels, image + 3 * pixels,
                                   mode->width, mode->height, NULL, NULL, NULL, NULL, 0, 0),
              CAMERA_SUCCESS, "LD_StartPicture");
    EXPECT_EQ(api->LD_WaitForCapture(10000), RECONSTRUCTION_COMPLETED, "LD_WaitForCapture");
    EXPECT_EQ(api->LD_GetStatus(), CAMERA_SUCCESS, "status of the picture");
    const uint32_t rawWidth = (uint32_t)api->LD_GetRawImageWidth();
    for (int q = 0; q < 4; ++q) {
        const uint16_t* quadrant = image + q * pixels;
        int wrong = 0;
        for (int r = 0; r < mode->height && !wrong; ++r)
            for (int c = 0; c < mode->width && !wrong; ++c) {
                const uint16_t expected = ExpectedPixel(mode, rawWidth, q, r, c);
                wrong = quadrant[r * mode->width + c] != expected;
                CHECK(!wrong, "mode %d quadrant %d pixel (%d, %d): %u, expected %u", mode->number,
                      q + 1, r, c, quadrant[r * mode->width + c], expected);
            }
    }
    free(image);
}

/* The modes' calibration block asks for -20 C, which the sensor holds; the
 * cooler "current" export has always answered the heat sink's temperature. */
static void CheckTemperatures(const struct Api* api) {
    double sensor = 0, sink = 0, tec = 1;
    EXPECT_EQ(api->LD_GetTemperature(&sensor) | api->LD_GetHeatSinkTemperature(&sink) |
                  api->LD_GetTecCurrent(&tec),
              0, "temperature readings");
    CHECK(sensor > -20.05 && sensor < -19.95, "sensor at %.2f C, expected -20", sensor);
    CHECK(tec == sink, "cooler reading %.2f differs from the heat sink's %.2f", tec, sink);
}

/* With a camera up, the version report names the simulated firmware. */
static void CheckVersion(const struct Api* api) {
    char report[1024];
    EXPECT_EQ(api->LD_GetVersion(report, sizeof report), 0, "LD_GetVersion");
    CHECK(strstr(report, "ProductVersion \t = 4, 6, 0, 1\n"), "no product version in: %s", report);
    CHECK(strstr(report, "Firmware \t\t = VELA2FW - 2.14.0003 - "), "no firmware in: %s", report);
}

static void UseTheCamera(const struct Api* api, const char* folder) {
    char modes[MAX_PATH], missing[MAX_PATH];
    InFolder(modes, folder, "modes.ini");
    InFolder(missing, folder, "no-such-modes.ini");
    CheckTheMeasurementSeesAWrongConvention(api);

    for (size_t m = 0; m < sizeof kModes / sizeof kModes[0]; ++m) {
        EXPECT_EQ(api->LD_Initialize(kModes[m].number, 0, modes, 0), CAMERA_SUCCESS,
                  "LD_Initialize");
        EXPECT_EQ(api->IsInitialized(), 1, "IsInitialized after LD_Initialize");
        CheckGeometry(api, &kModes[m]);
        CheckPicture(api, &kModes[m]);
    }
    CheckTemperatures(api);
    CheckVersion(api);
    for (int round = 0; round < kRounds; ++round) CallReaders(api);

    /* Uninitialized again, with the last picture still complete: before the
     * first picture LD_WaitForCapture would poll for a minute each time. */
    api->Close();
    EXPECT_EQ(api->IsInitialized(), 0, "IsInitialized after Close");
    EXPECT_EQ(api->LD_GetStatus(), ERROR_CAMERA_NOT_INITIALIZED, "status after Close");
    for (int round = 0; round < kRounds; ++round) {
        CallReaders(api);
        CallCommands(api, missing);
    }
}

int main(void) {
    char folder[MAX_PATH], library[MAX_PATH];
    EXPECT_EQ(kExportCount, 71, "exports listed");
    if (!Install(folder)) {
        Fail("could not install the library and its files in %s", folder);
    } else {
        /* The library reads these through the C runtime, which _putenv updates. */
        _putenv("VELA2_USB_BACKEND=sim");
        _putenv("VELA2_SIM_TIME_SCALE=0");
        _putenv("VELA2_SIM_PICTURE=pattern"); /* the pixels are checked against it */
        InFolder(library, folder, kInstalledFiles[0]);
        HMODULE module = LoadLibraryA(library);
        struct Api api;
        if (!module)
            Fail("LoadLibraryA(%s) failed with error %lu", library, GetLastError());
        else if (Resolve(module, &api))
            UseTheCamera(&api, folder);
        if (module) CHECK(FreeLibrary(module), "FreeLibrary failed with error %lu", GetLastError());
    }
    Uninstall(folder);
    if (g_failures) printf("%d checks failed\n", g_failures);
    return g_failures ? 1 : 0;
}
