// vela2cam capture: pictures from the camera into FITS files.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "CameraSession.h"
#include "Commands.h"
#include "FitsWriter.h"
#include "FrameHeader.h"
#include "InterruptGuard.h"
#include "ModeFile.h"
#include "Mosaic.h"
#include "PictureBuffers.h"
#include "PngPreview.h"
#include "Progress.h"
#include "Setpoint.h"
#include "Text.h"
#include "Vela2UsbCameraDll.h"
#include "platform/AtomicFile.h"

namespace vela2cam {

namespace {

bool FileExists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

constexpr unsigned kPollMs = 20;
// Beyond the library's own capture timeout and readout time: only a camera
// that never reports completion runs into this.
constexpr uint32_t kWaitMarginMs = 5000;

using WallClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;

// A file-name stamp from the same clock: 20261206-034512-123.
std::string FileStamp(WallClock::time_point when) {
    std::string iso = FrameHeader::IsoUtc(when);
    std::string stamp;
    for (char c : iso) {
        if (c == 'T' || c == '.') {
            stamp += '-';
        } else if (c != '-' && c != ':') {
            stamp += c;
        }
    }
    return stamp;
}

uint32_t ElapsedMs(SteadyClock::time_point since) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

class CaptureCommand {
  public:
    CaptureCommand(const Options& options, Report& report, CameraSession& session)
        : options_(options),
          report_(report),
          session_(session),
          progress_(stderr, !options.json && Progress::IsTerminal(stderr)),
          frames_(JsonValue::Array()) {}

    Failure Run() {
        Failure failure = Prepare();
        for (uint32_t frame = 1; !failure.failed() && frame <= options_.frames; ++frame)
            failure = TakeFrame(frame);
        report_.root().Set("output_dir", options_.outputDir);
        report_.root().Set("frames", frames_);
        return failure;
    }

  private:
    Failure Prepare() {
        if (options_.png && !PngPreview::Available())
            return Failure::Plain(kExitUsage, "this build cannot write PNG previews (no libpng)");
        if (int error = platform::MakeDirectories(options_.outputDir))
            return Failure::Plain(
                kExitFile, FileErrorText("cannot create directory", options_.outputDir, error));
        Failure failure = SetUpCamera();
        if (failure.failed()) return failure;
        geometry_ = CameraSession::ReadGeometry();
        if (geometry_.width <= 0 || geometry_.height <= 0 || geometry_.quadrants <= 0)
            return Failure::Plain(kExitCapture, "the mode gives no image size");
        GatherFacts();
        prefix_ = options_.outputDir + "/vela2-" + FileStamp(WallClock::now());
        return {};
    }

    Failure SetUpCamera() {
        LD_SetEnableSoftwareTrigger(options_.trigger == Trigger::Software);
        Failure failure = ApplyExposure();
        if (failure.failed() || !options_.testPattern) return failure;
        int32_t status = LD_SetTestPatternMode(*options_.testPattern);
        if (status != CAMERA_SUCCESS)
            return Failure::WithStatus(kExitCameraCommand, "cannot set the test pattern", status);
        return {};
    }

    // What every frame's header repeats.
    void GatherFacts() {
        uint32_t pattern = 0;
        if (LD_GetTestPatternMode(&pattern) == CAMERA_SUCCESS) facts_.testPattern = pattern;
        facts_.mode = options_.mode;
        facts_.trigger = options_.trigger;
        facts_.binning = ModeFile::BinningFor(options_.modeFile, options_.mode);
        facts_.setpoint = Setpoint::Read();
        std::string version = CameraSession::VersionReport();
        facts_.libraryVersion = CameraSession::VersionField(version, "ProductVersion");
        if (facts_.libraryVersion.empty()) facts_.libraryVersion = VELA2_LIBRARY_VERSION;
        facts_.firmware = CameraSession::VersionField(version, "Firmware");
    }

    // The timeout margin depends on the trigger chosen, so the timeout is
    // set again even when the exposure stays as it is.
    Failure ApplyExposure() {
        uint32_t exposure = 0, length = 0, start = 0;
        int32_t status = LD_GetExposureTime(&exposure, &length, &start);
        if (status != CAMERA_SUCCESS)
            return Failure::WithStatus(kExitCameraCommand, "cannot read the exposure", status);
        if (options_.exposureMs) {
            exposure = *options_.exposureMs;
            status = LD_SetExposureTime(exposure, length, start);
            if (status != CAMERA_SUCCESS)
                return Failure::WithStatus(kExitCameraCommand, "cannot set the exposure", status);
        } else {
            LD_SetTimeout(exposure);
        }
        facts_.exposureMs = exposure;
        return {};
    }

    std::string FrameName(uint32_t frame) const {
        char number[16];
        std::snprintf(number, sizeof number, "-f%03u", static_cast<unsigned>(frame));
        return prefix_ + number;
    }

    Failure TakeFrame(uint32_t frame) {
        // Ctrl-C while the camera was being set up: no picture is started.
        if (InterruptGuard::Requested()) return Interrupted();
        facts_.frame = frame;
        // Read before the exposure: the reading waits while a capture runs.
        facts_.ccdTemperature = CameraSession::ReadTemperatures().ccd;
        std::string rawPath = FrameName(frame) + ".raw";
        if (options_.raw) {
            LD_SetRawImageFilename(rawPath.c_str());
            LD_SetCreateRawImageFile(1);
        }
        PictureBuffers buffers(geometry_);
        int32_t started = buffers.Start();
        WallClock::time_point exposureStart = WallClock::now();
        SteadyClock::time_point armed = SteadyClock::now();
        if (started != CAMERA_SUCCESS) {
            int32_t status = started == ERROR_TRIGGER_TIMEOUT ? LD_GetStatus() : started;
            if (status == CAMERA_SUCCESS || status == CAMERA_BUSY) status = started;
            return Failure::WithStatus(kExitCapture, "the capture did not start", status);
        }
        facts_.dateObs = FrameHeader::IsoUtc(exposureStart);
        Failure failure = WaitForCompletion(frame, armed);
        if (failure.failed()) return failure;
        int32_t status = LD_GetStatus();
        if (status != CAMERA_SUCCESS)
            return Failure::WithStatus(kExitCapture, "the capture failed", status);

        JsonValue files = JsonValue::Array();
        failure = WriteFrame(frame, buffers, files);
        if (!failure.failed() && options_.raw) {
            if (!FileExists(rawPath))
                return Failure::Plain(kExitFile, "the library wrote no raw image file " + rawPath);
            Wrote(rawPath, files);
        }
        JsonValue entry = JsonValue::Object();
        entry.Set("frame", frame);
        entry.Set("date_obs", facts_.dateObs);
        entry.Set("exposure_ms", facts_.exposureMs);
        entry.Set("ccd_temperature", OptionalNumber(facts_.ccdTemperature));
        entry.Set("files", files);
        frames_.Append(entry);
        return failure;
    }

    std::string Label(uint32_t frame) const {
        return "frame " + std::to_string(frame) + "/" + std::to_string(options_.frames);
    }

    Failure Interrupted() {
        session_.Abort();
        progress_.Finish();
        return Failure::Plain(kExitInterrupted,
                              "interrupted: the capture was stopped and the camera reset");
    }

    // The completion event is shared by every process of the user: another
    // program's capture can set it while this one still runs. Ours is over
    // only when the library's status is no longer busy.
    static int32_t CompletionState() {
        int32_t state = LD_IsCaptureComplete();
        if (state == RECONSTRUCTION_COMPLETED && LD_GetStatus() == CAMERA_BUSY)
            return RECONSTRUCTION_IN_PROGRESS;
        return state;
    }

    // The exposure is timed here from the moment the camera is armed; the
    // camera-status read would wait behind the capture, so only the
    // completion test is polled.
    Failure WaitForCompletion(uint32_t frame, SteadyClock::time_point armed) {
        uint32_t timeout = 0;
        LD_GetTimeout(&timeout);
        uint32_t limit = timeout + static_cast<uint32_t>(LD_GetReadoutTime()) + kWaitMarginMs;
        const uint32_t exposure = facts_.exposureMs;
        bool exposing = true;
        for (;;) {
            if (InterruptGuard::Requested()) return Interrupted();
            int32_t state = CompletionState();
            uint32_t elapsed = ElapsedMs(armed);
            if (exposing && (elapsed >= exposure || state == RECONSTRUCTION_COMPLETED)) {
                progress_.Finish(Progress::RenderBar(Label(frame) + " exposing", exposure, exposure,
                                                     Progress::kBarWidth));
                exposing = false;
            }
            if (state == RECONSTRUCTION_COMPLETED) break;
            if (state != RECONSTRUCTION_IN_PROGRESS)
                return Failure::WithStatus(kExitCapture, "cannot wait for the capture", state);
            if (elapsed > limit) {
                session_.Abort();
                progress_.Finish();
                return Failure::WithStatus(kExitCapture,
                                           "no picture after " + std::to_string(elapsed) + " ms",
                                           ERROR_CAMERA_TIMEOUT);
            }
            if (exposing) {
                progress_.Exposure(Label(frame) + " exposing", elapsed, exposure);
            } else {
                progress_.Readout(Label(frame) + " reading out");
            }
            SleepUnlessInterrupted(kPollMs);
        }
        progress_.Finish(Label(frame) + " read out");
        return {};
    }

    Failure WriteFrame(uint32_t frame, PictureBuffers& buffers, JsonValue& files) {
        std::vector<const uint16_t*> images, overscans;
        for (int i = 0; i < geometry_.quadrants && i < PictureBuffers::kSlots; ++i) {
            images.push_back(buffers.Image(i));
            overscans.push_back(buffers.Overscan(i));
        }
        std::string base = FrameName(frame);
        Failure failure = WriteSet(base, images, geometry_.width, geometry_.height, false, files);
        if (!failure.failed() && options_.overscan && buffers.hasOverscan())
            failure = WriteSet(base, overscans, geometry_.overscanWidth, geometry_.overscanHeight,
                               true, files);
        return failure;
    }

    // One mosaic file, or one file per quadrant.
    Failure WriteSet(const std::string& base, const std::vector<const uint16_t*>& images,
                     int32_t width, int32_t height, bool overscan, JsonValue& files) {
        std::string suffix = overscan ? "-overscan.fits" : ".fits";
        if (options_.mosaic) {
            MosaicLayout layout = Mosaic::LayoutFor(static_cast<int>(images.size()));
            std::vector<uint16_t> mosaic = Mosaic::Assemble(images, width, height);
            ImageView view{width * layout.columns, height * layout.rows, mosaic.data()};
            return WriteOne(base + suffix, view, 0, overscan, files);
        }
        for (size_t i = 0; i < images.size(); ++i) {
            ImageView view{width, height, images[i]};
            std::string path = base + "-q" + std::to_string(i + 1) + suffix;
            Failure failure = WriteOne(path, view, static_cast<int>(i + 1), overscan, files);
            if (failure.failed()) return failure;
        }
        return {};
    }

    Failure WriteOne(const std::string& path, const ImageView& view, int quadrant, bool overscan,
                     JsonValue& files) {
        std::string error;
        // The writers never replace a file, so files of earlier runs survive.
        if (!FitsWriter::Write(path, view, FrameHeader::Cards(facts_, quadrant, overscan), error))
            return Failure::Plain(kExitFile, error);
        Wrote(path, files);
        if (options_.png && !overscan) {
            std::string preview =
                path.substr(0, path.size() - std::string(".fits").size()) + ".png";
            if (!PngPreview::Write(preview, view, error)) return Failure::Plain(kExitFile, error);
            Wrote(preview, files);
        }
        return {};
    }

    void Wrote(const std::string& path, JsonValue& files) {
        files.Append(path);
        report_.Note("wrote " + path);
    }

    const Options& options_;
    Report& report_;
    CameraSession& session_;
    Progress progress_;
    Geometry geometry_;
    FrameFacts facts_;
    std::string prefix_;
    JsonValue frames_;
};

}  // namespace

int RunCapture(const Options& options, Report& report) {
    InterruptGuard interrupts;
    CameraSession session;
    Failure failure = session.Open(options);
    if (failure.failed()) return report.Fail(failure);
    failure = CaptureCommand(options, report, session).Run();
    if (failure.failed()) return report.Fail(failure);
    report.Note("files are in " + options.outputDir);
    return report.Succeed();
}

}  // namespace vela2cam
