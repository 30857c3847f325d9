// The library as an application uses it: a C program that loads a copy of
// the DLL by file name, finds every export with GetProcAddress and calls it
// through a pointer typed from the public header's own declaration, on the
// simulated camera. Prints one line per failed check; exits 1 on any.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <windows.h>

#include "Vela2UsbCameraDll.h"

// Every export this program calls, by name.
// clang-format off
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
// clang-format on
#define COUNT_ONE(name) +1
enum { kExportCount = 0 VELA2_EXPORTS(COUNT_ONE), kRounds = 20 };

// __typeof__ carries the header's calling convention into each pointer.
struct Api {
#define DECLARE_POINTER(name) __typeof__(name)* name;
    VELA2_EXPORTS(DECLARE_POINTER)
#undef DECLARE_POINTER
};

static int g_failures;

#define CHECK(condition, ...) \
    ((condition) ? (void)0 : (void)(printf(__VA_ARGS__), putchar('\n'), ++g_failures))
#define EXPECT_EQ(actual, expected, what)                                                    \
    CHECK((long)(actual) == (long)(expected), "%s: %ld, expected %ld", what, (long)(actual), \
          (long)(expected))

// A caller whose pointer has the wrong convention leaves the stack pointer
// off by the arguments' size after each call on i686. The readings go to
// globals, which a moved stack pointer cannot misplace, and the stack pointer
// is put back at once, so such a call is reported instead of crashing.
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
    // Deliberately without VELA2_CALL: the mistake STACK_KEPT must catch.
    typedef int32_t (*CdeclGetTimeout)(uint32_t*);
    CdeclGetTimeout wrong = (CdeclGetTimeout)api->LD_GetTimeout;
    uint32_t timeout;
    MEASURE_STACK(wrong(&timeout));
    EXPECT_EQ(g_spAfter - g_spBefore, sizeof(uint32_t*),
              "drift of a cdecl call to a stdcall export");
#else
    (void)api;  // one calling convention: nothing can drift
#endif
}

// Harmless on any camera: reads only.
static void CallReaders(const struct Api* api) {
    char text[1024];
    uint8_t block[192];
    double value;
    int32_t number;
    uint32_t a, b, c;
    // clang-format off
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
    // clang-format on
}

// Commands and setters: harmless only while no camera is initialized, where
// they fail at once or set what initialization sets again.
static void CallCommands(const struct Api* api) {
    const char* const missingModeFile = "no-such-modes.ini";
    uint8_t block[192] = {0};
    uint16_t pixels[256];
    // clang-format off
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
    // clang-format on
}

// The folder an application installs into: the library beside its
// settings. The modes come from the tests' mode file.
static const char* const kInstalled[][2] = {
    {VELA2_LIBRARY_FILE, "Vela2UsbCameraDll.dll"},
    {VELA2_SOURCE_CONFIG_DIR "/Vela2Usb.ini", "Vela2Usb.ini"}};
enum { kInstalledCount = sizeof kInstalled / sizeof kInstalled[0] };

static void InFolder(char* path, const char* folder, const char* name) {
    snprintf(path, MAX_PATH, "%s\\%s", folder, name);
}

static int Install(char* folder) {
    char temp[MAX_PATH], path[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    snprintf(folder, MAX_PATH, "%svela2-application-%lu", temp, GetCurrentProcessId());
    CreateDirectoryA(folder, NULL);
    for (int i = 0; i < kInstalledCount; ++i) {
        InFolder(path, folder, kInstalled[i][1]);
        if (!CopyFileA(kInstalled[i][0], path, FALSE)) return 0;
    }
    return 1;
}

static void Uninstall(const char* folder) {
    char path[MAX_PATH];
    for (int i = 0; i < kInstalledCount; ++i) {
        InFolder(path, folder, kInstalled[i][1]);
        DeleteFileA(path);
    }
    RemoveDirectoryA(folder);
}

// True when every export was found.
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
// What config/make_epal.py lays out for the two modes.
static const struct Mode kModes[] = {{1, 4, 1024, 1024, 8}, {2, 2, 2048, 4096, 16}};
enum { kFixedPrescanColumns = 3, kUntouched = 0xDEAD };

// The simulated camera sends pixel i of a frame transfer as this value.
static uint16_t SentPixel(uint32_t i) { return (uint16_t)(i * 7u + (i >> 12)); }

// Outputs come interleaved column by column after their fixed pre-scan
// columns; each quadrant is read from its own corner of the sensor, so the
// second is mirrored left to right, the third top to bottom, the fourth both.
// Quadrants the mode does not read keep what the application put there.
// Pixel i counts through the four quadrant buffers one after the other.
static uint16_t ExpectedPixel(const struct Mode* mode, uint32_t rawWidth, int i) {
    const int n = mode->quadrants, q = i / (mode->width * mode->height);
    if (q >= n) return kUntouched;
    const int r = i / mode->width % mode->height, c = i % mode->width;
    const int row = (q & 2) ? mode->height - 1 - r : r;
    const int column = (q & 1) ? mode->width - 1 - c : c;
    return SentPixel((uint32_t)row * rawWidth + kFixedPrescanColumns * n + q + n * column);
}

// A mode brought up through the exports: its geometry, then one picture.
static void CheckMode(const struct Api* api, const struct Mode* mode) {
    int32_t width = 0, height = 0, overscanWidth = 0, overscanHeight = 0;
    EXPECT_EQ(api->LD_Initialize(mode->number, 0, VELA2_TEST_CONFIG_DIR "/modes.ini", 0),
              CAMERA_SUCCESS, "LD_Initialize");
    const int32_t status = api->LD_GetQuadrantWidth(&width) | api->LD_GetQuadrantHeight(&height) |
                           api->LD_GetOverscanWidth(&overscanWidth) |
                           api->LD_GetOverscanHeight(&overscanHeight);
    CHECK(status == 0 && width == mode->width && height == mode->height &&
              overscanWidth == mode->overscan && overscanHeight == mode->overscan,
          "mode %d: status %d, quadrants of %dx%d with %dx%d overscan", mode->number, status, width,
          height, overscanWidth, overscanHeight);
    EXPECT_EQ(api->GetNumberOfQuadrants(), mode->quadrants, "number of quadrants");
    EXPECT_EQ(api->LD_GetRawImageWidth(), mode->quadrants * api->GetWidth(), "raw image width");
    EXPECT_EQ(api->GetHeight(), mode->height + mode->overscan, "raw quadrant height");

    const int pixels = mode->width * mode->height;
    uint16_t* image = malloc(4 * (size_t)pixels * sizeof *image);
    for (int i = 0; i < 4 * pixels; ++i) image[i] = kUntouched;
    EXPECT_EQ(api->LD_StartPicture(image, image + pixels, image + 2 * pixels, image + 3 * pixels,
                                   mode->width, mode->height, NULL, NULL, NULL, NULL, 0, 0),
              CAMERA_SUCCESS, "LD_StartPicture");
    EXPECT_EQ(api->LD_WaitForCapture(10000), RECONSTRUCTION_COMPLETED, "LD_WaitForCapture");
    EXPECT_EQ(api->LD_GetStatus(), CAMERA_SUCCESS, "status of the picture");
    const uint32_t rawWidth = (uint32_t)api->LD_GetRawImageWidth();
    int i = 0;
    while (i < 4 * pixels && image[i] == ExpectedPixel(mode, rawWidth, i)) ++i;
    CHECK(i == 4 * pixels, "mode %d quadrant %d pixel (%d, %d): %u, expected %u", mode->number,
          i / pixels + 1, i / mode->width % mode->height, i % mode->width, image[i],
          ExpectedPixel(mode, rawWidth, i));
    free(image);
}

// The modes' calibration block asks for -20 C, which the sensor holds; the
// cooler "current" export has always answered the heat sink's temperature;
// with a camera up, the version report names the simulated firmware.
static void CheckReadings(const struct Api* api) {
    double sensor = 0, sink = 0, tec = 1;
    char report[1024];
    EXPECT_EQ(api->LD_GetTemperature(&sensor) | api->LD_GetHeatSinkTemperature(&sink) |
                  api->LD_GetTecCurrent(&tec) | api->LD_GetVersion(report, sizeof report),
              0, "readings");
    CHECK(sensor > -20.05 && sensor < -19.95, "sensor at %.2f C, expected -20", sensor);
    CHECK(tec == sink, "cooler reading %.2f differs from the heat sink's %.2f", tec, sink);
    CHECK(strstr(report, "Firmware \t\t = VELA2FW - 2.14.0003 - "), "no firmware in: %s", report);
}

static void UseTheCamera(const struct Api* api) {
    CheckTheMeasurementSeesAWrongConvention(api);
    for (size_t m = 0; m < sizeof kModes / sizeof kModes[0]; ++m) CheckMode(api, &kModes[m]);
    CheckReadings(api);
    for (int round = 0; round < kRounds; ++round) CallReaders(api);

    // Uninitialized again, with the last picture still complete: before the
    // first picture LD_WaitForCapture would poll for a minute each time.
    api->Close();
    EXPECT_EQ(api->IsInitialized(), 0, "IsInitialized after Close");
    for (int round = 0; round < kRounds; ++round) {
        CallReaders(api);
        CallCommands(api);
    }
}

int main(void) {
    char folder[MAX_PATH], library[MAX_PATH];
    struct Api api;
    EXPECT_EQ(kExportCount, 71, "exports listed");
    const int installed = Install(folder);
    CHECK(installed, "could not install the library and its settings in %s", folder);
    // The library reads these through the C runtime, which _putenv updates.
    _putenv("VELA2_USB_BACKEND=sim");
    _putenv("VELA2_SIM_TIME_SCALE=0");
    _putenv("VELA2_SIM_PICTURE=pattern");  // the pixels are checked against it
    InFolder(library, folder, kInstalled[0][1]);
    HMODULE module = installed ? LoadLibraryA(library) : NULL;
    CHECK(!installed || module, "LoadLibraryA(%s) failed with error %lu", library, GetLastError());
    if (module && Resolve(module, &api)) UseTheCamera(&api);
    if (module) CHECK(FreeLibrary(module), "FreeLibrary failed with error %lu", GetLastError());
    Uninstall(folder);
    if (g_failures) printf("%d checks failed\n", g_failures);
    return g_failures ? 1 : 0;
}
