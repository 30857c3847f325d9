// Service work: the camera's memory blocks and raw vendor requests.

#include <cstdio>
#include <vector>

#include "CameraSession.h"
#include "Commands.h"
#include "Text.h"
#include "Vela2UsbCameraDll.h"
#include "platform/AtomicFile.h"

namespace vela2cam {

namespace {

// FPGA, clock voltages and offsets, calibration: 64 bytes each.
constexpr size_t kBlockImageSize = 192;

std::string Hex(const std::vector<uint8_t>& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        char byte[4];
        std::snprintf(byte, sizeof byte, "%02x", bytes[i]);
        if (i) text += (i % 16 == 0) ? '\n' : ' ';
        text += byte;
    }
    return text;
}

// A failed flag operation: the last status says why, when it says anything.
Failure FlagFailure(const std::string& what) {
    int32_t status = LD_GetStatus();
    if (status == CAMERA_SUCCESS || status == CAMERA_BUSY)
        return Failure::Plain(kExitCameraCommand, what);
    return Failure::WithStatus(kExitCameraCommand, what, status);
}

int Download(const Options& options, Report& report) {
    std::vector<uint8_t> blocks(kBlockImageSize, 0);
    if (!::Download(blocks.data(), static_cast<int32_t>(blocks.size())))
        return report.Fail(FlagFailure("cannot read the memory blocks"));
    if (int error =
            platform::WriteFileAtomically(options.file, std::string(blocks.begin(), blocks.end()),
                                          platform::Existing::Replace, platform::Access::Everyone))
        return report.Fail(
            Failure::Plain(kExitFile, FileErrorText("cannot write", options.file, error)));
    report.Field("file", "wrote", options.file, options.file);
    report.Field("bytes", "bytes", static_cast<int>(blocks.size()), std::to_string(blocks.size()));
    return report.Succeed();
}

int Upload(const Options& options, Report& report) {
    std::string content;
    if (int error = platform::ReadWholeFile(options.file, content))
        return report.Fail(
            Failure::Plain(kExitFile, FileErrorText("cannot read", options.file, error)));
    std::vector<uint8_t> blocks(content.begin(), content.end());
    if (blocks.size() != kBlockImageSize)
        return report.Fail(Failure::Plain(
            kExitFile, options.file + " holds " + std::to_string(blocks.size()) +
                           " bytes; a block image has " + std::to_string(kBlockImageSize)));
    if (!::Upload(blocks.data(), static_cast<int32_t>(blocks.size())))
        return report.Fail(FlagFailure("the camera did not take the memory blocks"));
    report.Field("file", "sent", options.file, options.file);
    return report.Succeed();
}

int VendorRead(const Options& options, Report& report) {
    std::vector<uint8_t> data(options.length, 0);
    if (!ReadVendorRequest(options.request.c_str(), options.value.c_str(), options.index.c_str(),
                           data.data(), static_cast<int32_t>(data.size())))
        return report.Fail(FlagFailure("the vendor read failed"));
    report.Field("data", "data", Hex(data), "\n" + Hex(data));
    return report.Succeed();
}

int VendorWrite(const Options& options, Report& report) {
    // Camera commands carry a data stage of at least one byte, and the
    // library refuses an empty one: a plain command sends a single zero.
    std::vector<uint8_t> data = options.data.empty() ? std::vector<uint8_t>{0} : options.data;
    const int32_t length = static_cast<int32_t>(data.size());
    if (!WriteVendorRequest(options.request.c_str(), options.value.c_str(), options.index.c_str(),
                            data.data(), length))
        return report.Fail(FlagFailure("the vendor write failed"));
    report.Field("sent", "sent", length, std::to_string(length) + " bytes");
    return report.Succeed();
}

}  // namespace

int RunBlocks(const Options& options, Report& report) {
    CameraSession session;
    Failure failure = session.Open(options);
    if (failure.failed()) return report.Fail(failure);
    return options.command == Command::BlocksDownload ? Download(options, report)
                                                      : Upload(options, report);
}

int RunVendor(const Options& options, Report& report) {
    CameraSession session;
    Failure failure = session.Open(options);
    if (failure.failed()) return report.Fail(failure);
    return options.command == Command::VendorRead ? VendorRead(options, report)
                                                  : VendorWrite(options, report);
}

}  // namespace vela2cam
