// vela2cam capture: pictures from the camera into FITS files.

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <vector>

#include "AtomicFile.h"
#include "CameraSession.h"
#include "Commands.h"
#include "FitsWriter.h"
#include "Interrupt.h"
#include "ModeFile.h"
#include "Mosaic.h"
#include "PngPreview.h"
#include "Progress.h"
#include "Vela2UsbCameraDll.h"

namespace vela2cam {

namespace {

constexpr int kBufferSlots = 4;  // LD_StartPicture always takes four images
constexpr unsigned kPollMs = 20;
// Beyond the library's own capture timeout and readout time: only a camera
// that never reports completion runs into this.
constexpr uint32_t kWaitMarginMs = 5000;

using WallClock = std::chrono::system_clock;
using SteadyClock = std::chrono::steady_clock;

// FITS dates: UTC, ISO 8601, milliseconds.
std::string IsoUtc(WallClock::time_point when) {
    auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
    std::time_t seconds = static_cast<std::time_t>(ms / 1000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03d", text, static_cast<int>(ms % 1000));
    return full;
}

// A file-name stamp from the same clock: 20261206-034512-123.
std::string FileStamp(WallClock::time_point when) {
    std::string iso = IsoUtc(when);
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

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

uint32_t ElapsedMs(SteadyClock::time_point since) {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - since).count());
}

// The caller's buffers for one picture: four quadrant images and, when the
// mode has overscan, four overscan images.
class PictureBuffers {
  public:
    explicit PictureBuffers(const Geometry& geometry) : geometry_(geometry) {
        size_t imagePixels = static_cast<size_t>(geometry.width) * geometry.height;
        size_t overscanPixels =
            static_cast<size_t>(geometry.overscanWidth) * geometry.overscanHeight;
        for (int i = 0; i < kBufferSlots; ++i) {
            images_.emplace_back(imagePixels, 0);
            if (overscanPixels) overscans_.emplace_back(overscanPixels, 0);
        }
    }

    int32_t Start() {
        return LD_StartPicture(Image(0), Image(1), Image(2), Image(3), geometry_.width,
                               geometry_.height, Overscan(0), Overscan(1), Overscan(2), Overscan(3),
                               geometry_.overscanWidth, geometry_.overscanHeight);
    }

    uint16_t* Image(int i) { return images_[i].data(); }
    uint16_t* Overscan(int i) { return overscans_.empty() ? nullptr : overscans_[i].data(); }
    bool hasOverscan() const { return !overscans_.empty(); }

  private:
    Geometry geometry_;
    std::vector<std::vector<uint16_t>> images_;
    std::vector<std::vector<uint16_t>> overscans_;
};

// What the headers of one frame's files say.
struct FrameFacts {
    uint32_t frame = 0;
    std::string dateObs;
    uint32_t exposureMs = 0;
    std::optional<double> ccdTemperature;
    std::optional<double> setpoint;
    std::optional<Binning> binning;
    Trigger trigger = Trigger::Software;
    int32_t mode = 0;
    uint32_t testPattern = 0;
    std::string libraryVersion;
    std::string firmware;
};

std::vector<FitsCard> HeaderCards(const FrameFacts& facts, int quadrant, bool overscan) {
    std::vector<FitsCard> cards;
    cards.push_back(FitsCard::Text("INSTRUME", "Vela2 USB CCD", "instrument"));
    cards.push_back(FitsCard::Text("IMAGETYP", overscan ? "OVERSCAN" : "LIGHT", "image type"));
    cards.push_back(FitsCard::Real("EXPTIME", facts.exposureMs / 1000.0, "[s] exposure time"));
    cards.push_back(FitsCard::Text("DATE-OBS", facts.dateObs, "UTC start of the exposure"));
    if (facts.ccdTemperature)
        cards.push_back(
            FitsCard::Real("CCD-TEMP", *facts.ccdTemperature, "[C] sensor, before exposure"));
    if (facts.setpoint)
        cards.push_back(FitsCard::Real("SET-TEMP", *facts.setpoint, "[C] cooler setpoint"));
    if (facts.binning) {
        cards.push_back(FitsCard::Integer("XBINNING", facts.binning->columns, "column binning"));
        cards.push_back(FitsCard::Integer("YBINNING", facts.binning->rows, "row binning"));
    }
    cards.push_back(FitsCard::Integer("QUADRANT", quadrant,
                                      quadrant ? "sensor quadrant" : "0: mosaic of all quadrants"));
    cards.push_back(FitsCard::Text(
        "TRIGGER", facts.trigger == Trigger::Software ? "SOFTWARE" : "HARDWARE", "trigger mode"));
    cards.push_back(FitsCard::Integer("READMODE", facts.mode, "readout mode number"));
    cards.push_back(FitsCard::Integer("TESTPAT", facts.testPattern, "sensor test pattern, 0 none"));
    cards.push_back(FitsCard::Integer("FRAMENUM", facts.frame, "frame of this run"));
    cards.push_back(FitsCard::Text("LIBVER", facts.libraryVersion, "camera library version"));
    if (!facts.firmware.empty())
        cards.push_back(FitsCard::Text("FIRMWARE", facts.firmware, "camera firmware"));
    return cards;
}

class CaptureRun {
  public:
    CaptureRun(const Options& options, Report& report, CameraSession& session)
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
        std::string error;
        if (!MakeDirectories(options_.outputDir, error)) return Failure::Plain(kExitFile, error);
        LD_SetEnableSoftwareTrigger(options_.trigger == Trigger::Software);
        Failure failure = ApplyExposure();
        if (failure.failed()) return failure;
        if (options_.testPattern) {
            int32_t status = LD_SetTestPatternMode(*options_.testPattern);
            if (status != CAMERA_SUCCESS)
                return Failure::WithStatus(kExitCameraCommand, "cannot set the test pattern",
                                           status);
        }
        uint32_t pattern = 0;
        if (LD_GetTestPatternMode(&pattern) == CAMERA_SUCCESS) facts_.testPattern = pattern;
        geometry_ = CameraSession::ReadGeometry();
        if (geometry_.width <= 0 || geometry_.height <= 0 || geometry_.quadrants <= 0)
            return Failure::Plain(kExitCapture, "the mode gives no image size");
        facts_.mode = options_.mode;
        facts_.trigger = options_.trigger;
        facts_.binning = ModeFile::BinningFor(options_.modeFile, options_.mode);
        facts_.setpoint = CameraSession::ReadSetpoint();
        std::string version = CameraSession::VersionReport();
        facts_.libraryVersion = CameraSession::VersionField(version, "ProductVersion");
        if (facts_.libraryVersion.empty()) facts_.libraryVersion = VELA2_LIBRARY_VERSION;
        facts_.firmware = CameraSession::VersionField(version, "Firmware");
        prefix_ = options_.outputDir + "/vela2-" + FileStamp(WallClock::now());
        return {};
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
        facts_.dateObs = IsoUtc(exposureStart);
        Failure failure = WaitForCompletion(frame, armed);
        if (failure.failed()) return failure;
        int32_t status = LD_GetStatus();
        if (status != CAMERA_SUCCESS)
            return Failure::WithStatus(kExitCapture, "the capture failed", status);

        JsonValue files = JsonValue::Array();
        failure = WriteFrame(frame, buffers, files);
        if (!failure.failed() && options_.raw) {
            if (!Exists(rawPath))
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
            int32_t state = LD_IsCaptureComplete();
            uint32_t elapsed = ElapsedMs(armed);
            if (exposing && (elapsed >= exposure || state == RECONSTRUCTION_COMPLETED)) {
                progress_.Finish(
                    Progress::RenderBar(Label(frame) + " exposing", exposure, exposure, 30));
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
        for (int i = 0; i < geometry_.quadrants && i < kBufferSlots; ++i) {
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
        // Files of earlier runs are never replaced.
        if (Exists(path)) return Failure::Plain(kExitFile, path + " exists already");
        if (!FitsWriter::Write(path, view, HeaderCards(facts_, quadrant, overscan), error))
            return Failure::Plain(kExitFile, error);
        Wrote(path, files);
        if (options_.png && !overscan) {
            std::string preview =
                path.substr(0, path.size() - std::string(".fits").size()) + ".png";
            if (Exists(preview)) return Failure::Plain(kExitFile, preview + " exists already");
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
    failure = CaptureRun(options, report, session).Run();
    if (failure.failed()) return report.Fail(failure);
    report.Note("files are in " + options.outputDir);
    return report.Succeed();
}

}  // namespace vela2cam
