#include "api/StressRig.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "Vela2UsbCameraDll.h"

namespace stress {

const std::string& ModeFile() {
    static const std::string file = std::string(VELA2_TEST_CONFIG_DIR) + "/modes.ini";
    return file;
}

int32_t Initialize() { return LD_Initialize(kMode, 0, ModeFile().c_str(), 0); }

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
    uint16_t* buffers[4];
    for (int q = 0; q < 4; ++q) buffers[q] = images[q].data();
    CallSlot ignored;
    CallSlot& watch = slot ? *slot : ignored;
    width = pictureWidth;
    height = pictureHeight;
    watch.Enter("LD_StartPicture");
    const int32_t started = LD_StartPicture(buffers[0], buffers[1], buffers[2], buffers[3], width,
                                            height, nullptr, nullptr, nullptr, nullptr, 0, 0);
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
            found = CornerMatches(smaller, q, corner & 1, corner & 2);
            if (found) bottom_[q] = corner & 1, right_[q] = corner & 2;
        }
        if (!found) return false;
    }
    return true;
}

bool Reference::CornerMatches(const Picture& picture, int q, bool bottom, bool right) const {
    if (picture.width > full_.width || picture.height > full_.height) return false;
    const size_t firstRow = bottom ? full_.height - picture.height : 0;
    const size_t firstColumn = right ? full_.width - picture.width : 0;
    const uint16_t* got = picture.images[q].data();
    const uint16_t* want = full_.images[q].data() + firstRow * full_.width + firstColumn;
    for (int32_t row = 0; row < picture.height; ++row) {
        if (std::memcmp(got, want, size_t(picture.width) * 2) != 0) return false;
        got += picture.width;
        want += full_.width;
    }
    return true;
}

bool Reference::Matches(const Picture& picture) const {
    for (int q = 0; q < 4; ++q)
        if (!CornerMatches(picture, q, bottom_[q], right_[q])) return false;
    return true;
}

std::string Reference::Difference(const Picture& picture) const {
    for (int q = 0; q < 4; ++q) {
        const size_t firstRow = bottom_[q] ? full_.height - picture.height : 0;
        const size_t firstColumn = right_[q] ? full_.width - picture.width : 0;
        for (int32_t row = 0; row < picture.height; ++row) {
            for (int32_t column = 0; column < picture.width; ++column) {
                const uint16_t got = picture.images[q][size_t(row) * picture.width + column];
                const uint16_t want =
                    full_.images[q][(firstRow + row) * full_.width + firstColumn + column];
                if (got != want)
                    return "image " + std::to_string(q) + " row " + std::to_string(row) +
                           " column " + std::to_string(column) + ": " + std::to_string(got) +
                           " instead of " + std::to_string(want);
            }
        }
    }
    return "";
}

void Caller::CallSomething(std::mt19937& random, CallSlot* slot) {
    uint8_t block[192] = {};
    double value = 0;
    uint32_t a = 0, b = 0, c = 0;
    int32_t number = 0;
    char text[1024];
    CallSlot ignored;
    CallSlot& watch = slot ? *slot : ignored;
    const uint32_t pick = random() % 200;
    switch (pick < 4 ? 20 + pick : pick % 20) {
        case 0:
            watch.Enter("LD_GetTemperature");
            LD_GetTemperature(&value);
            break;
        case 1:
            watch.Enter("LD_GetHeatSinkTemperature");
            LD_GetHeatSinkTemperature(&value);
            break;
        case 2:
            watch.Enter("LD_GetTopTecCurrent");
            LD_GetTopTecCurrent(&value);
            break;
        case 3:
            watch.Enter("LD_UpdateTempVolts");
            LD_UpdateTempVolts(block, 64);
            break;
        case 4:
            watch.Enter("LD_GetCameraStatus");
            LD_GetCameraStatus(block, 32);
            break;
        case 5:
            watch.Enter("ReadFpga");
            ReadFpga(block, 64, 0);
            break;
        case 6:
            watch.Enter("ReadCalibration");
            ReadCalibration(block, 64);
            break;
        case 7:
            watch.Enter("Download");
            Download(block, 192);
            break;
        case 8:
            watch.Enter("ReadVendorRequest");
            ReadVendorRequest("0xAB", "0x5", "0x0", block, 64);
            break;
        case 9:
            watch.Enter("LD_GetExposureTime, LD_SetExposureTime");
            if (LD_GetExposureTime(&a, &b, &c) == 0) LD_SetExposureTime(a, b, c);
            break;
        case 10:
            watch.Enter("LD_GetTestPatternMode, LD_SetTestPatternMode");
            if (LD_GetTestPatternMode(&a) == 0) LD_SetTestPatternMode(a);
            break;
        case 11:
            watch.Enter("LD_GetCameraType");
            LD_GetCameraType(&a);
            break;
        case 12:
            watch.Enter("the geometry getters");
            LD_GetQuadrantWidth(&number), LD_GetOverscanWidth(&number), GetWidth(), GetHeight(),
                LD_GetRawImageWidth(), GetNumberOfQuadrants();
            break;
        case 13:
            watch.Enter("IsInitialized, GetDeviceHandle, LD_GetEpalQuadrantHeight");
            IsInitialized(), GetDeviceHandle(), LD_GetEpalQuadrantHeight(&number);
            break;
        case 14:
            watch.Enter("LD_GetVersion");
            LD_GetVersion(text, sizeof text);
            break;
        case 15:
            watch.Enter("LD_GetError");
            LD_GetError(LD_GetStatus(), text);
            break;
        case 16:
            watch.Enter("SetCameraState, SetSoftwareTrigger, LD_GetTimeout");
            SetCameraState(0x21), SetSoftwareTrigger(1), LD_GetTimeout(&a);
            break;
        case 17:
            watch.Enter("ReadFpga, WriteFpga");
            if (ReadFpga(block, 64, 0) == 0) WriteFpga(block, 64, 0);
            break;
        case 18:
            watch.Enter("LD_SetTemperatureSetpoint");
            LD_SetTemperatureSetpoint(25315);
            break;
        case 19:
            watch.Enter("LD_GetSimulationMode, LD_GetEnableSoftwareTrigger");
            LD_GetSimulationMode(&number), LD_GetEnableSoftwareTrigger();
            break;
        case 20:
        case 22:
            watch.Enter("LD_Reset");
            Lifecycle([&] { LD_Reset(random() % 2); });
            break;
        case 21:
            watch.Enter("Close");
            Lifecycle([&] { Close(); });
            break;
        case 23:
            watch.Enter("LD_Initialize");
            Lifecycle([&] { Initialize(); });
            break;
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
    if (reference.Matches(picture)) return Verdict::Right;
    // Another call left status 0 after the picture ended.
    return quiet ? Verdict::Wrong : Verdict::Overtaken;
}

void Caller::Recover(int32_t status) {
    if (status == 8 || status == -4) Initialize();
    if (status == -50) Lifecycle([] { LD_Reset(1); });
}

}  // namespace stress
