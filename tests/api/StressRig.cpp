#include "api/StressRig.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Vela2UsbCameraDll.h"

namespace stress {

int32_t Initialize() {
    static const std::string modes = std::string(VELA2_TEST_CONFIG_DIR) + "/modes.ini";
    return LD_Initialize(kMode, 0, modes.c_str(), 0);
}

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void CallSlot::Enter(const char* call, int64_t limit) {
    sinceMs = NowMs();
    limitMs = limit;
    name = call;
}

Picture::Picture(int32_t width, int32_t height)
    : images(4, std::vector<uint16_t>(size_t(width) * height)), width(width), height(height) {}

int32_t Picture::Take(int32_t pictureWidth, int32_t pictureHeight, CallSlot* slot) {
    const size_t pixels = size_t(pictureWidth) * pictureHeight;
    for (auto& image : images) std::fill_n(image.begin(), pixels, 0xDEAD);
    CallSlot ignored;
    CallSlot& watch = slot ? *slot : ignored;
    width = pictureWidth;
    height = pictureHeight;
    watch.Enter("LD_StartPicture");
    const int32_t started =
        LD_StartPicture(images[0].data(), images[1].data(), images[2].data(), images[3].data(),
                        width, height, nullptr, nullptr, nullptr, nullptr, 0, 0);
    watch.Leave();
    if (started != CAMERA_SUCCESS) return started;
    // The wait's own bound: the wait on the event, then a minute of polls.
    constexpr uint32_t kWaitMs = 10000;
    watch.Enter("LD_WaitForCapture", kWaitMs + 60000 + 60000);
    const int32_t completion = LD_WaitForCapture(kWaitMs);
    watch.Leave();
    if (completion != RECONSTRUCTION_COMPLETED) return completion;
    watch.Enter("LD_GetStatus");
    const int32_t status = LD_GetStatus();
    watch.Leave();
    return status;
}

bool Reference::Take() {
    int32_t width = 0, height = 0;
    LD_GetQuadrantWidth(&width), LD_GetQuadrantHeight(&height);
    if (width < 2 || height < 2) return false;
    full_ = Picture(width, height);
    Picture smaller(width, height);
    if (full_.Take() != CAMERA_SUCCESS || smaller.Take(width - 1, height - 1) != CAMERA_SUCCESS)
        return false;
    for (int q = 0; q < 4; ++q) {
        bool found = false;
        for (int corner = 0; corner < 4 && !found; ++corner) {
            found = Mismatch(smaller, q, corner & 1, corner & 2).empty();
            if (found) bottom_[q] = corner & 1, right_[q] = corner & 2;
        }
        if (!found) return false;
    }
    return true;
}

std::string Reference::Mismatch(const Picture& picture, int q, bool bottom, bool right) const {
    if (picture.width > full_.width || picture.height > full_.height) return "larger than the mode";
    const size_t firstRow = bottom ? full_.height - picture.height : 0;
    const size_t firstColumn = right ? full_.width - picture.width : 0;
    for (int32_t row = 0; row < picture.height; ++row) {
        const uint16_t* got = picture.images[q].data() + size_t(row) * picture.width;
        const uint16_t* want =
            full_.images[q].data() + (firstRow + row) * full_.width + firstColumn;
        if (std::memcmp(got, want, size_t(picture.width) * 2) == 0) continue;
        const auto column = std::mismatch(got, got + picture.width, want).first - got;
        return "image " + std::to_string(q) + " row " + std::to_string(row) + " column " +
               std::to_string(column) + ": " + std::to_string(got[column]) + " instead of " +
               std::to_string(want[column]);
    }
    return "";
}

std::string Reference::Difference(const Picture& picture) const {
    for (int q = 0; q < 4; ++q)
        if (std::string mismatch = Mismatch(picture, q, bottom_[q], right_[q]); !mismatch.empty())
            return mismatch;
    return "";
}

namespace {
// What the calls of the mix write into; none of it is looked at.
struct Scratch {
    uint8_t block[192] = {};
    double value = 0;
    uint32_t a = 0, b = 0, c = 0;
    int32_t number = 0;
    char text[1024];
};
struct MixCall {
    const char* name;
    void (*call)(Scratch&);
};
// clang-format off
const MixCall kMix[] = {
    {"LD_GetTemperature", [](Scratch& s) { LD_GetTemperature(&s.value); }},
    {"LD_GetHeatSinkTemperature", [](Scratch& s) { LD_GetHeatSinkTemperature(&s.value); }},
    {"LD_GetTopTecCurrent", [](Scratch& s) { LD_GetTopTecCurrent(&s.value); }},
    {"LD_UpdateTempVolts", [](Scratch& s) { LD_UpdateTempVolts(s.block, 64); }},
    {"LD_GetCameraStatus", [](Scratch& s) { LD_GetCameraStatus(s.block, 32); }},
    {"ReadFpga", [](Scratch& s) { ReadFpga(s.block, 64, 0); }},
    {"ReadCalibration", [](Scratch& s) { ReadCalibration(s.block, 64); }},
    {"Download", [](Scratch& s) { Download(s.block, 192); }},
    {"ReadVendorRequest", [](Scratch& s) { ReadVendorRequest("0xAB", "0x5", "0x0", s.block, 64); }},
    {"LD_GetExposureTime, LD_SetExposureTime", [](Scratch& s) {
        if (LD_GetExposureTime(&s.a, &s.b, &s.c) == 0) LD_SetExposureTime(s.a, s.b, s.c); }},
    {"LD_GetTestPatternMode, LD_SetTestPatternMode", [](Scratch& s) {
        if (LD_GetTestPatternMode(&s.a) == 0) LD_SetTestPatternMode(s.a); }},
    {"LD_GetCameraType", [](Scratch& s) { LD_GetCameraType(&s.a); }},
    {"the geometry getters", [](Scratch& s) {
        LD_GetQuadrantWidth(&s.number), LD_GetOverscanWidth(&s.number), GetWidth(), GetHeight(),
            LD_GetRawImageWidth(), GetNumberOfQuadrants(); }},
    {"IsInitialized, GetDeviceHandle, LD_GetEpalQuadrantHeight", [](Scratch& s) {
        IsInitialized(), GetDeviceHandle(), LD_GetEpalQuadrantHeight(&s.number); }},
    {"LD_GetVersion", [](Scratch& s) { LD_GetVersion(s.text, sizeof s.text); }},
    {"LD_GetError", [](Scratch& s) { LD_GetError(LD_GetStatus(), s.text); }},
    {"SetCameraState, SetSoftwareTrigger, LD_GetTimeout", [](Scratch& s) {
        SetCameraState(0x21), SetSoftwareTrigger(1), LD_GetTimeout(&s.a); }},
    {"ReadFpga, WriteFpga", [](Scratch& s) {
        if (ReadFpga(s.block, 64, 0) == 0) WriteFpga(s.block, 64, 0); }},
    {"LD_SetTemperatureSetpoint", [](Scratch&) { LD_SetTemperatureSetpoint(25315); }},
    {"LD_GetSimulationMode, LD_GetEnableSoftwareTrigger", [](Scratch& s) {
        LD_GetSimulationMode(&s.number), LD_GetEnableSoftwareTrigger(); }},
};
// clang-format on
}  // namespace

void Caller::CallSomething(std::mt19937& random, CallSlot* slot) {
    CallSlot ignored;
    CallSlot& watch = slot ? *slot : ignored;
    // Four in 200 calls are lifecycle calls: two resets, a Close, an initialization.
    const uint32_t pick = random() % 200;
    if (pick == 0 || pick == 2) {
        watch.Enter("LD_Reset");
        Lifecycle([&] { LD_Reset(random() % 2); });
    } else if (pick == 1) {
        watch.Enter("Close");
        Lifecycle([&] { Close(); });
    } else if (pick == 3) {
        watch.Enter("LD_Initialize");
        Lifecycle([&] { Initialize(); });
    } else {
        Scratch scratch;
        const MixCall& mix = kMix[pick % 20];
        watch.Enter(mix.name);
        mix.call(scratch);
    }
    watch.Leave();
}

Verdict Caller::TakeAndCheck(Picture& picture, int32_t width, int32_t height,
                             const Reference& reference, int32_t& status, CallSlot* slot) {
    const uint64_t before = started_.load();
    const bool noneRunning = ended_.load() == before;
    status = picture.Take(width, height, slot);
    const bool quiet = noneRunning && started_.load() == before;
    if (status != CAMERA_SUCCESS) return Verdict::Failed;
    if (reference.Difference(picture).empty()) return Verdict::Right;
    // Another call left status 0 after the picture ended.
    return quiet ? Verdict::Wrong : Verdict::Overtaken;
}

void Caller::Recover(int32_t status) {
    if (status == ERROR_CAMERA_CAPTURE || status == ERROR_CAMERA_NOT_INITIALIZED) Initialize();
    if (status == ERROR_TRIGGER_TIMEOUT) Lifecycle([] { LD_Reset(1); });
}

}  // namespace stress
