// The EPAL parameter block: frame geometry, the reconstruction plan, and the
// size of one frame transfer, derived from the block image.

#include <algorithm>
#include <cstring>

#include "Vela2UsbCameraStatus.h"
#include "camera/CTesselCamera.h"
#include "camera/FailedAllocation.h"
#include "camera/ProcessObjects.h"
#include "platform/DebugTrace.h"
#include "reconstruction/CReconstructionController.h"
#include "reconstruction/EpalData.h"
#include "reconstruction/FrameGeometry.h"
#include "reconstruction/FrameReconstruction.h"
#include "reconstruction/Reconstruction.h"

using platform::DebugTrace;
using reconstruction::CReconstructionController;
// The camera's members EpalData and Reconstruction hold the bytes; these are
// the typed views over them.
using EpalView = reconstruction::EpalData;
using ReconstructionView = reconstruction::Reconstruction;

namespace {
constexpr char kConvertFailed[] =
    "Failed EpalData.Convert() in CTesselCamera::Initialize(). Returning FALSE.";

// The settings tables are read as a map lookup that adds a missing entry.
reconstruction::PrescanCounts CountsFromTables(CTesselCamera& camera, const EpalView& epal) {
    reconstruction::PrescanCounts counts;
    counts.columns = camera.PrescanColumnsByBinning[epal.ColumnBinning()];
    counts.rows = camera.PrescanRowsByBinning[epal.RowBinning()];
    counts.fixedColumns = camera.FixedPrescanColumnsByBinning[epal.ColumnBinning()];
    return counts;
}

reconstruction::PrescanCounts PrescanCountsFor(CTesselCamera& camera, const EpalView& epal) {
    reconstruction::PrescanCounts counts;
    ReconstructionView block = ReconstructionView::Convert(camera.Reconstruction.data());
    if (block && reconstruction::PrescanCountsFromBlock(block, counts)) return counts;
    return CountsFromTables(camera, epal);
}
}  // namespace

int32_t CTesselCamera::ConfigureFromHexfile(uint8_t* image, int32_t length) try {
    NumberOfQuadrants = 0;
    QuadrantWidth = 0;
    QuadrantHeight = 0;
    EpalView epal = EpalView::Convert(image);
    if (!epal) {
        DebugTrace(kConvertFailed);
        return 0;
    }
    ProcessObjects& process = Process();
    EpalQuadrantWidth = epal.ActivePixelsPerLine();
    EpalQuadrantHeight = epal.LinesPerFrame();
    QuadrantWidth = epal.QuadrantWidth();
    QuadrantHeight = epal.QuadrantHeight();
    RawQuadrantWidth = epal.RawQuadrantWidth();
    RawQuadrantHeight = epal.RawQuadrantHeight();
    process.OverscanColumns = epal.OverscanColumns();
    process.OverscanRows = epal.OverscanRows();
    ExposureTime = epal.ExposureTime();
    ApplyExposureTimeout();

    // The block starts at byte 256 of the image, whose 400 bytes hold only its
    // first 144 of the 272 its view spans; the view goes over a zero-filled
    // copy, so that nothing past the image is read or has to be mapped.
    uint8_t blockBytes[ReconstructionView::kSize] = {};
    const int64_t blockBytesInImage =
        std::clamp<int64_t>(int64_t{length} - int64_t{ReconstructionView::kOffsetInEpalBlock}, 0,
                            ReconstructionView::kSize);
    std::memcpy(blockBytes, image + ReconstructionView::kOffsetInEpalBlock,
                static_cast<size_t>(blockBytesInImage));
    ReconstructionView block = ReconstructionView::Convert(blockBytes);
    if (!block) {
        DebugTrace(
            "Failed Reconstruction.Convert() in CTesselCamera::Initialize(). Returning FALSE.");
        LastStatus().Set(ERROR_RECONSTRUCTION_VALUE);
        return 0;
    }
    std::fill(Reconstruction.begin(), Reconstruction.end(), 0);
    std::memcpy(Reconstruction.data(), block.Bytes(), ReconstructionView::kBlockImageSize);
    CReconstructionController& plan = CReconstructionController::Instance();
    // A block without quadrants or with a zero stride cannot be reconstructed
    // (the geometry would divide by the count); refuse it here, as a failed
    // plan, rather than fail every picture later.
    if (!plan.Configure(Reconstruction.data()) || !plan.IsReconstructible()) {
        DebugTrace(
            "Failed CReconstructionController::Configure in CTesselCamera::Initialize(). Returning "
            "FALSE.");
        LastStatus().Set(ERROR_RECONSTRUCTION_VALUE);
        return 0;
    }
    ActiveQuadrants = plan.ActiveQuadrants();
    NumberOfQuadrants = plan.QuadrantCount();
    if (!ComputeFrameGeometry()) return 0;
    WriteFrameGeometry();
    if (EpalQuadrantWidth < 1 || EpalQuadrantHeight < 1) {
        DebugTrace(
            "Invalid EPAL image dimensions in CTesselCamera::Initialize(). Returning FALSE.");
        DebugTrace("\t\tActivePixelsPerLine=%d  LinesPerFrame=%d", EpalQuadrantWidth,
                   EpalQuadrantHeight);
        LastStatus().Set(CAMERA_INVALID_VALUE);
        return 0;
    }
    return 1;
} catch (...) {
    ReportOperationException("Loading the EPAL block");
    return 0;
}

int32_t CTesselCamera::ComputeFrameGeometry() try {
    EpalView epal =
        EpalView::Convert(EpalData.size() >= EpalView::kSize ? EpalData.data() : nullptr);
    if (!epal) {
        DebugTrace(kConvertFailed);
        return 0;
    }
    ProcessObjects& process = Process();
    reconstruction::FrameGeometryInput input;
    input.quadrantWidth = QuadrantWidth;
    input.quadrantHeight = QuadrantHeight;
    input.overscanColumns = process.OverscanColumns;
    input.overscanRows = process.OverscanRows;
    input.blockQuadrantWidth = epal.QuadrantWidth();
    input.blockQuadrantHeight = epal.QuadrantHeight();
    input.numberOfQuadrants = NumberOfQuadrants;
    input.prescan = PrescanCountsFor(*this, epal);
    // Deliberate hardening: sizes the block's 16-bit fields cannot carry, or
    // a raw frame beyond 1 GiB, are refused before they reach the camera or
    // size the frame buffer of a picture.
    if (!reconstruction::WithinFrameLimits(input)) {
        DebugTrace("Frame geometry beyond 65535 pixels a side or 1 GiB a frame. Returning FALSE.");
        LastStatus().Set(CAMERA_INVALID_VALUE);
        return 0;
    }
    reconstruction::FrameGeometry geometry = reconstruction::ComputeFrameGeometry(input);
    FixedPrescanColumns = geometry.fixedPrescanColumns;
    RawQuadrantWidth = geometry.rawQuadrantWidth;
    RawQuadrantHeight = geometry.rawQuadrantHeight;
    RawImageWidth = geometry.rawImageWidth;
    RawImageHeight = geometry.rawImageHeight;
    EpalQuadrantWidth = geometry.epalQuadrantWidth;
    EpalQuadrantHeight = geometry.epalQuadrantHeight;
    return 1;
} catch (...) {
    ReportOperationException("Computing the frame geometry");
    return 0;
}

int32_t CTesselCamera::WriteFrameGeometry() try {
    uint8_t scratch[EpalView::kSize] = {};
    if (SimulationMode) {
        std::memcpy(scratch, EpalData.data(), std::min(EpalData.size(), sizeof scratch));
    } else if (!ReadFpga(scratch, EpalView::kFpgaBlockSize, 0)) {
        return ERROR_CONTROL_ENDPOINT_READ;
    }
    EpalView view = EpalView::Convert(scratch);
    if (!view) {
        DebugTrace(kConvertFailed);
        return ERROR_UNINITIALIZED_BUFFER;
    }
    ProcessObjects& process = Process();
    view.SetActivePixelsPerLine(static_cast<uint16_t>(EpalQuadrantWidth));
    view.SetLinesPerFrame(static_cast<uint16_t>(EpalQuadrantHeight));
    view.SetRawQuadrantWidth(static_cast<uint16_t>(RawQuadrantWidth));
    view.SetRawQuadrantHeight(static_cast<uint16_t>(RawQuadrantHeight));
    view.SetOverscanColumns(static_cast<uint16_t>(process.OverscanColumns));
    view.SetOverscanRows(static_cast<uint16_t>(process.OverscanRows));
    if (SimulationMode) {
        EnsureImage(EpalView::kSize);
        std::memcpy(EpalData.data(), scratch, EpalView::kSize);
    } else if (!WriteFpga(scratch, EpalView::kFpgaBlockSize, 0)) {
        return ERROR_CONTROL_ENDPOINT_WRITE;
    }
    ComputeTransferSize();
    return 0;
} catch (...) {
    ReportOperationException("Writing the frame geometry");
    return 0;
}

int32_t CTesselCamera::SetFrameSize(int32_t enable, int32_t width, int32_t height,
                                    int32_t overscanColumns, int32_t overscanRows) {
    ConvertOption = enable;
    if (!Initialized) return 0;
    if (enable) {
        int32_t newWidth = overscanColumns > 0 ? width - overscanColumns : width;
        int32_t newHeight = overscanRows > 0 ? height - overscanRows : height;
        if (newWidth > 0) QuadrantWidth = newWidth;
        if (newHeight > 0) QuadrantHeight = newHeight;
        Process().OverscanColumns = overscanColumns;
        Process().OverscanRows = overscanRows;
        if (!ComputeFrameGeometry()) return 0;
    }
    return WriteFrameGeometry() == 0 ? 1 : 0;
}

int32_t CTesselCamera::ComputeTransferSize() {
    reconstruction::TransferSize size =
        reconstruction::ComputeTransferSize(NumberOfQuadrants, RawQuadrantWidth, RawQuadrantHeight);
    CaptureContext& capture = Process().Capture;
    capture.NumberOfBlocks = size.numberOfBlocks;
    capture.WindowImageSize = size.windowImageSize;
    DebugTrace("Quadrant Width + Overscan = %d, Quadrant Height + Overscan = %d.", RawQuadrantWidth,
               RawQuadrantHeight);
    DebugTrace("Number of blocks: %d", size.numberOfBlocks);
    DebugTrace("Window image size: %d", size.windowImageSize);
    return size.windowImageSize;
}

int32_t CTesselCamera::ReconstructFrame(const uint16_t* rawFrame,
                                        std::vector<uint8_t>& blockImage) {
    ProcessObjects& process = Process();
    LastStatus().Set(CAMERA_BUSY);
    reconstruction::ReconstructionInput input;
    input.rawFrame = rawFrame;
    input.block = ReconstructionView::Convert(Reconstruction.data());
    const SPictureRequest& request = process.Capture.PictureRequest;
    for (int q = 0; q < 4; ++q) {
        input.picture.images[q] = request.Images[q];
        input.picture.overscans[q] = request.Overscans[q];
    }
    input.picture.width = request.ImageWidth;
    input.picture.height = request.ImageHeight;
    input.picture.overscanWidth = request.OverscanWidth;
    input.picture.overscanHeight = &process.Capture.PictureRequest.OverscanHeight;
    EpalView epal =
        EpalView::Convert(blockImage.size() >= EpalView::kSize ? blockImage.data() : nullptr);
    input.epalConverted = static_cast<bool>(epal);
    // The fixed pre-scan follows the current binning (or the block's own count).
    if (epal) FixedPrescanColumns = PrescanCountsFor(*this, epal).fixedColumns;
    input.geometry.numberOfQuadrants = NumberOfQuadrants;
    input.geometry.rawQuadrantWidth = RawQuadrantWidth;
    input.geometry.rawQuadrantHeight = RawQuadrantHeight;
    input.geometry.overscanColumns = process.OverscanColumns;
    input.geometry.fixedPrescanColumns = FixedPrescanColumns;
    input.activeQuadrants = &ActiveQuadrants;
    reconstruction::ReconstructionResult result = reconstruction::ReconstructFrame(input);
    if (!result.reconstructed) {
        if (!input.epalConverted) DebugTrace(kConvertFailed);
        LastStatus().Set(result.failureStatus);
        LastStatus().Set(CAMERA_SUCCESS);
        return 0;
    }
    LastStatus().Set(CAMERA_SUCCESS);
    return 1;
}
