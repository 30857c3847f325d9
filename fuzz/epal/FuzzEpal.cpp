// EPAL hex files through the camera's loader: the first 400 bytes of the file
// become the block image, from which the camera derives its frame geometry,
// reconstruction plan and transfer size. A block the loader accepts must give
// a geometry that holds together, and one frame of that geometry must
// reconstruct into picture buffers sized as an application sizes them from
// the geometry getters, without touching a byte outside any buffer.

#include <cstdint>
#include <cstdlib>
#include <memory>

#include "camera/CTesselCamera.h"
#include "camera/ProcessObjects.h"
#include "reconstruction/GuardedBuffer.h"

using reconstruction::testing::GuardedBuffer;

namespace {

// The loader reads this much of the file and refuses shorter files.
constexpr size_t kImageSize = 400;
// Frames and pictures above these sizes keep their geometry checks but are
// not reconstructed: the run stays fast and within the fuzzer's memory.
constexpr int64_t kMaxFrameBytes = int64_t{1} << 20;
constexpr int64_t kMaxPictureBytes = int64_t{1} << 20;

void Check(bool condition) {
    if (!condition) std::abort();
}

int64_t Pixels(int32_t width, int32_t height) {
    return width > 0 && height > 0 ? int64_t{width} * height : 0;
}

int64_t FrameBytes(const CTesselCamera& camera) {
    return 2 * int64_t{camera.NumberOfQuadrants} * camera.RawQuadrantWidth *
           camera.RawQuadrantHeight;
}

CTesselCamera& LoaderCamera() {
    static CTesselCamera camera;
    camera.FillBinningTables();
    // No device to read the FPGA block back from: the geometry goes into the
    // block image only, as in the simulated-data mode.
    camera.SimulationMode = 1;
    return camera;
}

void CheckGeometry(const CTesselCamera& camera) {
    const int32_t quadrants = camera.NumberOfQuadrants;
    Check(quadrants >= 1 && quadrants <= 4);
    Check(camera.ActiveQuadrants.size() == static_cast<size_t>(quadrants));
    for (size_t k = 0; k < camera.ActiveQuadrants.size(); ++k) {
        Check(camera.ActiveQuadrants[k] >= 0 && camera.ActiveQuadrants[k] < 4);
        Check(k == 0 || camera.ActiveQuadrants[k] > camera.ActiveQuadrants[k - 1]);
    }
    Check(camera.EpalQuadrantWidth >= 1 && camera.EpalQuadrantHeight >= 1);
    Check(camera.RawQuadrantWidth % quadrants == 0);
    Check(int64_t{camera.RawImageWidth} == int64_t{quadrants} * camera.RawQuadrantWidth);
    Check(camera.RawImageHeight == camera.RawQuadrantHeight);

    const int64_t frameBytes = FrameBytes(camera);
    if (frameBytes < 0 || frameBytes > INT32_MAX - 511) return;
    const int32_t window = Process().Capture.WindowImageSize;
    Check(window % 512 == 0 && window >= frameBytes && window - frameBytes < 512);
    Check(int64_t{Process().Capture.NumberOfBlocks} * 65536 >= frameBytes);
}

// One frame of the loaded geometry, as the simulated-data capture hands it
// over: exactly the raw frame's bytes, into the four pictures of the request.
void ReconstructOneFrame(CTesselCamera& camera) {
    ProcessObjects& process = Process();
    const int64_t frameBytes = FrameBytes(camera);
    const int32_t width = camera.GetActiveWidth(), height = camera.GetActiveHeight();
    const int32_t overscanWidth = process.OverscanColumns, overscanHeight = process.OverscanRows;
    const int64_t pictureBytes =
        8 * (Pixels(width, height) + Pixels(overscanWidth, overscanHeight));
    if (frameBytes <= 0 || frameBytes > kMaxFrameBytes || pictureBytes > kMaxPictureBytes) return;

    GuardedBuffer frame(static_cast<size_t>(frameBytes / 2));
    for (int64_t i = 0; i < frameBytes / 2; ++i) frame.Data()[i] = static_cast<uint16_t>(i);
    std::unique_ptr<GuardedBuffer> images[4], overscans[4];
    SPictureRequest& request = process.Capture.PictureRequest;
    for (int q = 0; q < 4; ++q) {
        images[q] = std::make_unique<GuardedBuffer>(static_cast<size_t>(Pixels(width, height)));
        overscans[q] = std::make_unique<GuardedBuffer>(
            static_cast<size_t>(Pixels(overscanWidth, overscanHeight)));
        request.Images[q] = images[q]->Data();
        request.Overscans[q] = overscans[q]->Data();
    }
    request.ImageWidth = width;
    request.ImageHeight = height;
    request.OverscanWidth = overscanWidth;
    request.OverscanHeight = overscanHeight;
    camera.ReconstructFrame(frame.Data(), camera.EpalData);
    for (int q = 0; q < 4; ++q) request.Images[q] = request.Overscans[q] = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The camera's process objects include the named events, which every
    // process of the user shares unless told otherwise.
    setenv("VELA2_EVENT_NAMESPACE", "vela2fuzz", 0);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kImageSize) return 0;
    static CTesselCamera& camera = LoaderCamera();
    camera.EpalData.assign(data, data + kImageSize);
    if (!camera.ConfigureFromHexfile(camera.EpalData.data(), static_cast<int32_t>(kImageSize)))
        return 0;
    CheckGeometry(camera);
    ReconstructOneFrame(camera);
    return 0;
}
