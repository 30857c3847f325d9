#include "Vela2Ccd.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

#include "ConfigLookup.h"
#include "ModeFile.h"
#include "Mosaic.h"
#include "Setpoint.h"
#include "Status.h"
#include "Text.h"
#include "Vela2UsbCameraDll.h"

namespace vela2indi {

namespace {

using vela2cam::StatusName;
using SteadyClock = std::chrono::steady_clock;

// The camera counts the exposure in 16 bits of milliseconds.
constexpr double kLongestExposure = 65.535;
constexpr uint32_t kPollMs = 20;
// Beyond the library's capture timeout and readout time: only a camera that
// never reports completion runs into it.
constexpr uint32_t kWaitMarginMs = 5000;
constexpr int32_t kAborted = INT32_MIN;
constexpr const char* kCameraTab = "Camera";
constexpr int kDefaultPollMs = 1000;
constexpr uint32_t kShortestPollMs = 100;

// $VELA2_MODE_FILE, else the modes.ini of the configuration folder vela2cam
// finds too; that folder also gives the library its settings when it has
// none of its own. Before the library's first call.
std::string DefaultModeFile() {
    if (const char* named = std::getenv("VELA2_MODE_FILE"); named && *named) return named;
    std::optional<std::string> folder = vela2cam::ConfigLookup::FindFolder("");
    if (!folder) return "";
    vela2cam::ConfigLookup::ShareWithLibrary(*folder, "");
    return *folder + "/modes.ini";
}

std::string VersionReport() {
    std::vector<char> text(4096, '\0');
    if (LD_GetVersion(text.data(), static_cast<int32_t>(text.size())) != CAMERA_SUCCESS) return "";
    text.back() = '\0';
    return text.data();
}

// The completion event is shared with other processes of the user, so ours
// is over only when the library's status is no longer busy.
int32_t CompletionState() {
    int32_t state = LD_IsCaptureComplete();
    if (state == RECONSTRUCTION_COMPLETED && LD_GetStatus() == CAMERA_BUSY)
        return RECONSTRUCTION_IN_PROGRESS;
    return state;
}

const char* ImageType(INDI::CCDChip::CCD_FRAME type) {
    switch (type) {
        case INDI::CCDChip::BIAS_FRAME:
            return "Bias Frame";
        case INDI::CCDChip::DARK_FRAME:
            return "Dark Frame";
        case INDI::CCDChip::FLAT_FRAME:
            return "Flat Field";
        default:
            return "Light Frame";
    }
}

}  // namespace

Vela2Ccd::Vela2Ccd() {
    setVersion(1, 0);
    SetCCDCapability(CCD_CAN_ABORT | CCD_HAS_COOLER);
}

// A capture still waited for ends at once; the worker finishes its queue.
Vela2Ccd::~Vela2Ccd() { abortedId_ = UINT64_MAX; }

const char* Vela2Ccd::getDefaultName() { return "Vela2 CCD"; }

bool Vela2Ccd::initProperties() {
    INDI::CCD::initProperties();
    addAuxControls();
    setDefaultPollingPeriod(kDefaultPollMs);

    PrimaryCCD.setMinMaxStep("CCD_EXPOSURE", "CCD_EXPOSURE_VALUE", 0.0, kLongestExposure, 0.001,
                             false);
    // The camera's documented cooler range is not known; the library takes
    // any count of 0.01 K.
    TemperatureN[0].min = -60;
    TemperatureN[0].max = 40;
    addCaptureFormat({"INDI_MONO", "Mono", 16, true});

    IUFillText(&modeFileT_[0], "PATH", "Mode file", DefaultModeFile().c_str());
    IUFillTextVector(&modeFileTP_, modeFileT_, 1, getDeviceName(), "VELA2_MODE_FILE", "Modes",
                     OPTIONS_TAB, IP_RW, 60, IPS_IDLE);
    registerProperty(&modeFileTP_);
    BuildModeSwitch();
    registerProperty(&modeSP_);

    IUFillSwitch(&triggerS_[0], "SOFTWARE", "Software", ISS_ON);
    IUFillSwitch(&triggerS_[1], "HARDWARE", "Hardware", ISS_OFF);
    IUFillSwitchVector(&triggerSP_, triggerS_, 2, getDeviceName(), "VELA2_TRIGGER", "Trigger",
                       MAIN_CONTROL_TAB, IP_RW, ISR_1OFMANY, 60, IPS_IDLE);
    registerProperty(&triggerSP_);

    IUFillNumber(&coolerN_[0], "HEAT_SINK", "Heat sink (C)", "%.2f", -100, 100, 0, 0);
    IUFillNumber(&coolerN_[1], "TOP_TEC", "Top TEC (A)", "%.3f", -100, 100, 0, 0);
    IUFillNumber(&coolerN_[2], "BOTTOM_TEC", "Bottom TEC (A)", "%.3f", -100, 100, 0, 0);
    IUFillNumberVector(&coolerNP_, coolerN_, 3, getDeviceName(), "VELA2_COOLER", "Cooler",
                       MAIN_CONTROL_TAB, IP_RO, 60, IPS_IDLE);

    IUFillNumber(&geometryN_[0], "QUADRANTS", "Quadrants", "%.f", 0, 4, 0, 0);
    IUFillNumber(&geometryN_[1], "QUADRANT_WIDTH", "Quadrant width", "%.f", 0, 65535, 0, 0);
    IUFillNumber(&geometryN_[2], "QUADRANT_HEIGHT", "Quadrant height", "%.f", 0, 65535, 0, 0);
    IUFillNumber(&geometryN_[3], "OVERSCAN_WIDTH", "Overscan width", "%.f", 0, 65535, 0, 0);
    IUFillNumber(&geometryN_[4], "OVERSCAN_HEIGHT", "Overscan height", "%.f", 0, 65535, 0, 0);
    IUFillNumberVector(&geometryNP_, geometryN_, 5, getDeviceName(), "VELA2_GEOMETRY", "Readout",
                       kCameraTab, IP_RO, 60, IPS_IDLE);

    IUFillText(&versionT_[0], "LIBRARY", "Library", "");
    IUFillText(&versionT_[1], "FIRMWARE", "Firmware", "");
    IUFillText(&versionT_[2], "REPORT", "Version report", "");
    IUFillTextVector(&versionTP_, versionT_, 3, getDeviceName(), "VELA2_VERSION", "Versions",
                     kCameraTab, IP_RO, 60, IPS_IDLE);
    return true;
}

// The saved choices that matter before connecting: the mode to connect in.
void Vela2Ccd::ISGetProperties(const char* dev) {
    INDI::CCD::ISGetProperties(dev);
    if (configLoaded_) return;
    configLoaded_ = true;
    loadConfig(true, modeFileTP_.name);
    loadConfig(true, modeSP_.name);
    loadConfig(true, triggerSP_.name);
}

bool Vela2Ccd::updateProperties() {
    INDI::CCD::updateProperties();
    if (isConnected()) {
        defineProperty(&coolerNP_);
        defineProperty(&geometryNP_);
        defineProperty(&versionTP_);
    } else {
        deleteProperty(coolerNP_.name);
        deleteProperty(geometryNP_.name);
        deleteProperty(versionTP_.name);
    }
    return true;
}

// The switch lists the mode file's modes with the binning their EPAL files
// give; the readout geometry follows once a mode is initialized.
void Vela2Ccd::BuildModeSwitch() {
    int32_t previous = modes_.empty() ? 0 : ChosenMode();
    std::string modeFile = modeFileT_[0].text ? modeFileT_[0].text : "";
    modes_ = vela2cam::ModeFile::Modes(modeFile);
    if (modes_.empty()) modes_.push_back(0);
    modeSwitches_.assign(modes_.size(), ISwitch{});
    bool chosen = false;
    for (size_t i = 0; i < modes_.size(); ++i) {
        std::string name = "MODE_" + std::to_string(modes_[i]);
        std::string label = "Mode " + std::to_string(modes_[i]);
        if (auto binning = vela2cam::ModeFile::BinningFor(modeFile, modes_[i]))
            label +=
                " (" + std::to_string(binning->columns) + "x" + std::to_string(binning->rows) + ")";
        bool on = modes_[i] == previous;
        chosen |= on;
        IUFillSwitch(&modeSwitches_[i], name.c_str(), label.c_str(), on ? ISS_ON : ISS_OFF);
    }
    if (!chosen) modeSwitches_[0].s = ISS_ON;
    IUFillSwitchVector(&modeSP_, modeSwitches_.data(), static_cast<int>(modeSwitches_.size()),
                       getDeviceName(), "VELA2_MODE", "Readout mode", MAIN_CONTROL_TAB, IP_RW,
                       ISR_1OFMANY, 60, IPS_IDLE);
}

int32_t Vela2Ccd::ChosenMode() const {
    for (size_t i = 0; i < modes_.size() && i < modeSwitches_.size(); ++i)
        if (modeSwitches_[i].s == ISS_ON) return modes_[i];
    return modes_.empty() ? 0 : modes_[0];
}

bool Vela2Ccd::ISNewText(const char* dev, const char* name, char* texts[], char* names[], int n) {
    if (dev && !std::strcmp(dev, getDeviceName()) && !std::strcmp(name, modeFileTP_.name)) {
        IUUpdateText(&modeFileTP_, texts, names, n);
        modeFileTP_.s = IPS_OK;
        IDSetText(&modeFileTP_, nullptr);
        deleteProperty(modeSP_.name);
        BuildModeSwitch();
        defineProperty(&modeSP_);
        if (isConnected()) LOG_INFO("The new mode file takes effect at the next connection.");
        return true;
    }
    return INDI::CCD::ISNewText(dev, name, texts, names, n);
}

bool Vela2Ccd::ISNewSwitch(const char* dev, const char* name, ISState* states, char* names[],
                           int n) {
    if (!dev || std::strcmp(dev, getDeviceName()) != 0)
        return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
    if (!std::strcmp(name, "CONNECTION")) {
        for (int i = 0; i < n; ++i) {
            if (states[i] != ISS_ON) continue;
            if (!std::strcmp(names[i], "CONNECT")) RequestConnect();
            if (!std::strcmp(names[i], "DISCONNECT")) RequestDisconnect();
        }
        return true;
    }
    if (!std::strcmp(name, triggerSP_.name)) {
        IUUpdateSwitch(&triggerSP_, states, names, n);
        triggerSP_.s = IPS_OK;
        IDSetSwitch(&triggerSP_, nullptr);
        return true;
    }
    if (!std::strcmp(name, modeSP_.name)) {
        int32_t before = ChosenMode();
        IUUpdateSwitch(&modeSP_, states, names, n);
        int32_t mode = ChosenMode();
        if (!isConnected() || mode == connectedMode_) {
            modeSP_.s = IPS_OK;
            IDSetSwitch(&modeSP_, nullptr);
            return true;
        }
        if (InExposure || busyConnecting_) {
            // Back to the mode the camera has: the frame in flight needs it.
            for (size_t i = 0; i < modes_.size(); ++i)
                modeSwitches_[i].s = modes_[i] == before ? ISS_ON : ISS_OFF;
            modeSP_.s = IPS_ALERT;
            IDSetSwitch(&modeSP_, "The mode changes only between exposures.");
            return false;
        }
        return ChooseMode(mode);
    }
    return INDI::CCD::ISNewSwitch(dev, name, states, names, n);
}

// Another mode is another initialization: binning and frame size follow it.
bool Vela2Ccd::ChooseMode(int32_t mode) {
    modeSP_.s = IPS_BUSY;
    IDSetSwitch(&modeSP_, nullptr);
    PostInitialize(mode, true);
    return true;
}

void Vela2Ccd::PostInitialize(int32_t mode, bool again) {
    busyConnecting_ = true;
    std::string modeFile = modeFileT_[0].text;
    bool simulated = isSimulation();
    worker_.Post([this, mode, modeFile, simulated, again] {
        std::string error;
        auto facts = InitializeCamera(mode, modeFile, simulated, error);
        mailbox_.Post([this, facts, error, again] {
            busyConnecting_ = false;
            if (facts && again) {
                Publish(*facts);
                modeSP_.s = IPS_OK;
                IDSetSwitch(&modeSP_, nullptr);
            } else if (facts) {
                Connected(*facts);
            } else {
                LOGF_ERROR("%s", error.c_str());
                connectedMode_ = -1;
                if (again) {
                    modeSP_.s = IPS_ALERT;
                    IDSetSwitch(&modeSP_, nullptr);
                }
                setConnected(false, IPS_ALERT);
                updateProperties();
            }
        });
    });
}

bool Vela2Ccd::Connect() {
    RequestConnect();
    return false;
}

bool Vela2Ccd::Disconnect() {
    RequestDisconnect();
    return true;
}

void Vela2Ccd::RequestConnect() {
    if (busyConnecting_) return;
    if (isConnected()) {
        setConnected(true, IPS_OK);
        return;
    }
    setConnected(false, IPS_BUSY);
    PostInitialize(ChosenMode(), false);
}

void Vela2Ccd::RequestDisconnect() {
    if (!isConnected() && !busyConnecting_) {
        setConnected(false, IPS_IDLE);
        return;
    }
    if (InExposure) {
        abortedId_ = exposureId_.load();
        InExposure = false;
        PrimaryCCD.setExposureFailed();
    }
    busyConnecting_ = true;
    worker_.Post([this] {
        Close();
        mailbox_.Post([this] {
            busyConnecting_ = false;
            connectedMode_ = -1;
            setConnected(false, IPS_IDLE);
            updateProperties();
            LOG_INFO("The camera is closed.");
        });
    });
}

void Vela2Ccd::Connected(const CameraFacts& facts) {
    Publish(facts);
    setConnected(true, IPS_OK);
    updateProperties();
    LOGF_INFO("Mode %d: %d quadrants of %dx%d, binning %dx%d.", facts.mode, facts.quadrants,
              facts.width, facts.height, facts.binX, facts.binY);
    ScheduleTimer();
}

// Frame size and binning as the mode fixes them: INDI counts the frame in
// unbinned pixels, the image holds the binned ones.
void Vela2Ccd::Publish(const CameraFacts& facts) {
    facts_ = facts;
    connectedMode_ = facts.mode;
    vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(facts.quadrants);
    int imageWidth = facts.width * layout.columns;
    int imageHeight = facts.height * layout.rows;
    SetCCDParams(imageWidth * facts.binX, imageHeight * facts.binY, 16, 0, 0);
    PrimaryCCD.setBin(facts.binX, facts.binY);
    PrimaryCCD.setFrameBufferSize(static_cast<uint32_t>(imageWidth) * imageHeight * 2);

    geometryN_[0].value = facts.quadrants;
    geometryN_[1].value = facts.width;
    geometryN_[2].value = facts.height;
    geometryN_[3].value = facts.overscanWidth;
    geometryN_[4].value = facts.overscanHeight;
    geometryNP_.s = IPS_OK;
    IUSaveText(&versionT_[0], facts.libraryVersion.c_str());
    IUSaveText(&versionT_[1], facts.firmware.c_str());
    IUSaveText(&versionT_[2], facts.versionReport.c_str());
    versionTP_.s = IPS_OK;
    if (isConnected()) {
        IDSetNumber(&geometryNP_, nullptr);
        IDSetText(&versionTP_, nullptr);
    }
}

std::optional<CameraFacts> Vela2Ccd::InitializeCamera(int32_t mode, const std::string& modeFile,
                                                      bool simulated, std::string& error) {
    int wanted = simulated ? 2 : 1;
    int expected = 0;
    if (!backend_.compare_exchange_strong(expected, wanted) && expected != wanted) {
        error = simulated ? "The real camera was used already: restart the driver to simulate."
                          : "The simulated camera was used already: restart the driver for the "
                            "real one.";
        return std::nullopt;
    }
    if (simulated) {
        // Before the library's first look at the bus; the simulated camera
        // reads its geometry from the same mode file.
        setenv("VELA2_USB_BACKEND", "sim", 1);
        if (!modeFile.empty()) setenv("VELA2_SIM_MODE_FILE", modeFile.c_str(), 0);
    }
    int32_t result = LD_Initialize(mode, 0, modeFile.c_str(), 0);
    if (result != CAMERA_SUCCESS) {
        const int32_t reason = vela2cam::InitializationFailure(result);
        error = "Cannot initialize mode " + std::to_string(mode) + ": " + StatusName(reason) +
                (reason == INVALID_USB_DEVICE ? " (no camera found)" : "");
        Close();
        return std::nullopt;
    }
    CameraFacts facts;
    facts.mode = mode;
    static_cast<vela2cam::QuadrantGeometry&>(facts) = vela2cam::QuadrantGeometry::Read();
    if (facts.quadrants <= 0 || facts.width <= 0 || facts.height <= 0) {
        error = "Mode " + std::to_string(mode) + " gives no image size.";
        Close();
        return std::nullopt;
    }
    if (auto binning = vela2cam::ModeFile::BinningFor(modeFile, mode)) {
        facts.binX = binning->columns;
        facts.binY = binning->rows;
    }
    facts.versionReport = VersionReport();
    facts.libraryVersion = vela2cam::ReportField(facts.versionReport, "ProductVersion");
    if (facts.libraryVersion.empty()) facts.libraryVersion = VELA2_LIBRARY_VERSION;
    facts.firmware = vela2cam::ReportField(facts.versionReport, "Firmware");

    // LD_StartPicture takes four image buffers whatever the quadrant count.
    size_t imagePixels = static_cast<size_t>(facts.width) * facts.height;
    size_t overscanPixels = static_cast<size_t>(facts.overscanWidth) * facts.overscanHeight;
    images_.assign(4, std::vector<uint16_t>(imagePixels, 0));
    overscans_.assign(overscanPixels ? 4 : 0, std::vector<uint16_t>(overscanPixels, 0));
    camera_ = facts;
    return facts;
}

bool Vela2Ccd::UpdateCCDFrameType(INDI::CCDChip::CCD_FRAME type) {
    PrimaryCCD.setFrameType(type);
    if (type == INDI::CCDChip::DARK_FRAME || type == INDI::CCDChip::BIAS_FRAME)
        LOG_WARN("The camera has no shutter: cover the telescope for dark and bias frames.");
    return true;
}

bool Vela2Ccd::StartExposure(float duration) {
    if (!isConnected() || busyConnecting_) {
        LOG_ERROR("The camera is not connected.");
        return false;
    }
    if (duration > kLongestExposure + 1e-6) {
        LOGF_ERROR("%.3f s is longer than the longest exposure the camera counts, %.3f s.",
                   duration, kLongestExposure);
        return false;
    }
    // A bias frame is the shortest exposure.
    if (PrimaryCCD.getFrameType() == INDI::CCDChip::BIAS_FRAME) duration = 0;
    uint32_t exposureMs = static_cast<uint32_t>(std::lround(std::max(0.0f, duration) * 1000.0));
    bool hardware = triggerS_[1].s == ISS_ON;
    uint64_t id = ++exposureId_;
    PrimaryCCD.setExposureDuration(exposureMs / 1000.0);
    exposureSeconds_ = exposureMs / 1000.0;
    exposureStart_ = SteadyClock::now();
    InExposure = true;
    worker_.Post([this, id, exposureMs, hardware] {
        FrameFacts frame;
        int32_t status = TakePicture(id, exposureMs, hardware, frame);
        mailbox_.Post([this, id, status, frame] { FinishExposure(id, status, frame); });
    });
    return true;
}

bool Vela2Ccd::AbortExposure() {
    abortedId_ = exposureId_.load();
    InExposure = false;
    return true;
}

int32_t Vela2Ccd::TakePicture(uint64_t id, uint32_t exposureMs, bool hardware, FrameFacts& frame) {
    if (abortedId_ >= id) return kAborted;
    frame.mode = camera_.mode;
    frame.hardwareTrigger = hardware;
    double celsius = 0.0;
    if (LD_GetCcdTemperature(&celsius) == CAMERA_SUCCESS) frame.ccdTemperature = celsius;

    LD_SetEnableSoftwareTrigger(hardware ? 0 : 1);
    // Set after the trigger: the capture timeout's margin depends on it.
    uint32_t exposure = 0, length = 0, start = 0;
    int32_t status = LD_GetExposureTime(&exposure, &length, &start);
    if (status == CAMERA_SUCCESS) status = LD_SetExposureTime(exposureMs, length, start);
    if (status != CAMERA_SUCCESS) return status;

    uint16_t* overscan[4] = {};
    for (size_t i = 0; i < overscans_.size(); ++i) overscan[i] = overscans_[i].data();
    int32_t started =
        LD_StartPicture(images_[0].data(), images_[1].data(), images_[2].data(), images_[3].data(),
                        camera_.width, camera_.height, overscan[0], overscan[1], overscan[2],
                        overscan[3], camera_.overscanWidth, camera_.overscanHeight);
    if (started != CAMERA_SUCCESS) {
        status = started == ERROR_TRIGGER_TIMEOUT ? LD_GetStatus() : started;
        if (status == CAMERA_SUCCESS || status == CAMERA_BUSY) status = started;
        LD_Reset(1);
        return status;
    }
    uint32_t timeout = 0;
    LD_GetTimeout(&timeout);
    auto limit = std::chrono::milliseconds(static_cast<uint64_t>(timeout) +
                                           std::max(0, LD_GetReadoutTime()) + kWaitMarginMs);
    auto armed = SteadyClock::now();
    for (;;) {
        if (abortedId_ >= id) {
            LD_Reset(1);
            return kAborted;
        }
        int32_t state = CompletionState();
        if (state == RECONSTRUCTION_COMPLETED) break;
        if (state != RECONSTRUCTION_IN_PROGRESS) {
            LD_Reset(1);
            return state;
        }
        if (SteadyClock::now() - armed > limit) {
            LD_Reset(1);
            return ERROR_CAMERA_TIMEOUT;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    status = LD_GetStatus();
    if (status != CAMERA_SUCCESS) {
        // Leaves the camera idle, so the next exposure starts at once.
        LD_Reset(1);
        return status;
    }
    std::vector<const uint16_t*> quadrants;
    for (int i = 0; i < camera_.quadrants && i < 4; ++i) quadrants.push_back(images_[i].data());
    std::vector<uint16_t> mosaic =
        vela2cam::Mosaic::Assemble(quadrants, camera_.width, camera_.height);
    std::lock_guard<std::mutex> guard(ccdBufferLock);
    size_t bytes = mosaic.size() * sizeof(uint16_t);
    if (bytes != static_cast<size_t>(PrimaryCCD.getFrameBufferSize())) return CAMERA_FAILURE;
    std::memcpy(PrimaryCCD.getFrameBuffer(), mosaic.data(), bytes);
    return CAMERA_SUCCESS;
}

void Vela2Ccd::FinishExposure(uint64_t id, int32_t status, const FrameFacts& frame) {
    // An aborted or superseded exposure ended on the event loop already.
    if (id != exposureId_ || !InExposure || status == kAborted) return;
    InExposure = false;
    if (status != CAMERA_SUCCESS) {
        // INDI shortens the polling for a short exposure and restores it
        // only when one completes.
        setCurrentPollingPeriod(getPollingPeriod());
        LOGF_ERROR("The exposure failed: %s (%d).", StatusName(status).c_str(), status);
        PrimaryCCD.setExposureFailed();
        return;
    }
    frameFacts_ = frame;
    PrimaryCCD.setExposureLeft(0);
    ExposureComplete(&PrimaryCCD);
}

void Vela2Ccd::addFITSKeywords(INDI::CCDChip* chip) {
    INDI::CCD::addFITSKeywords(chip);
    fitsfile* file = *chip->fitsFilePointer();
    if (!file) return;
    int status = 0;
    std::string type = ImageType(chip->getFrameType());
    fits_update_key_str(file, "IMAGETYP", type.c_str(), "frame type", &status);
    int mode = frameFacts_.mode;
    fits_update_key_lng(file, "READMODE", mode, "readout mode number", &status);
    if (frameFacts_.ccdTemperature) {
        double celsius = *frameFacts_.ccdTemperature;
        fits_update_key_dbl(file, "CCD-TEMP", celsius, 3, "[C] sensor at exposure start", &status);
    }
    vela2cam::MosaicLayout layout = vela2cam::Mosaic::LayoutFor(facts_.quadrants);
    fits_update_key_lng(file, "QUADRANT", 0, "0: mosaic of all quadrants", &status);
    fits_update_key_lng(file, "QUADNUM", facts_.quadrants, "quadrants in the mosaic", &status);
    fits_update_key_lng(file, "QUADCOLS", layout.columns, "quadrant columns, 1 2 / 3 4 order",
                        &status);
    fits_update_key_lng(file, "QUADROWS", layout.rows, "quadrant rows", &status);
    fits_update_key_str(file, "TRIGGER", frameFacts_.hardwareTrigger ? "HARDWARE" : "SOFTWARE",
                        "trigger mode", &status);
    fits_update_key_str(file, "LIBVER", facts_.libraryVersion.c_str(), "camera library version",
                        &status);
    if (!facts_.firmware.empty())
        fits_update_key_str(file, "FIRMWARE", facts_.firmware.c_str(), "camera firmware", &status);
    if (status) LOGF_WARN("Some FITS keywords are missing (cfitsio status %d).", status);
}

int Vela2Ccd::SetTemperature(double celsius) {
    worker_.Post([this, celsius] {
        int32_t status = vela2cam::Setpoint::Write(celsius);
        if (status == CAMERA_SUCCESS) return;
        mailbox_.Post([this, status] {
            LOGF_ERROR("Cannot set the cooler setpoint: %s (%d).", StatusName(status).c_str(),
                       status);
            TemperatureNP.s = IPS_ALERT;
            IDSetNumber(&TemperatureNP, nullptr);
        });
    });
    return 0;
}

void Vela2Ccd::ScheduleTimer() {
    // The polling period as the client set it, but never a busy loop.
    uint32_t period = std::max<uint32_t>(getCurrentPollingPeriod(), kShortestPollMs);
    if (!timerArmed_) timerId_ = SetTimer(period);
    timerArmed_ = true;
}

void Vela2Ccd::TimerHit() {
    timerArmed_ = false;
    if (!isConnected()) return;
    if (InExposure) {
        double elapsed = std::chrono::duration<double>(SteadyClock::now() - exposureStart_).count();
        PrimaryCCD.setExposureLeft(std::max(0.0, exposureSeconds_ - elapsed));
    } else if (!temperatureReadPending_ && !busyConnecting_) {
        // The readings wait behind a capture, so none is asked for meanwhile.
        temperatureReadPending_ = true;
        worker_.Post([this] { ReadTemperatures(); });
    }
    ScheduleTimer();
}

void Vela2Ccd::ReadTemperatures() {
    double ccd = 0, heatSink = 0, top = 0, bottom = 0;
    int32_t status = LD_GetCcdTemperature(&ccd);
    int32_t others = LD_GetHeatSinkTemperature(&heatSink);
    if (others == CAMERA_SUCCESS) others = LD_GetTopTecCurrent(&top);
    if (others == CAMERA_SUCCESS) others = LD_GetBottomTecCurrent(&bottom);
    mailbox_.Post([this, status, others, ccd, heatSink, top, bottom] {
        temperatureReadPending_ = false;
        if (!isConnected()) return;
        if (status == CAMERA_SUCCESS) {
            TemperatureN[0].value = ccd;
            IDSetNumber(&TemperatureNP, nullptr);
        } else {
            LOGF_WARN("Cannot read the CCD temperature: %s.", StatusName(status).c_str());
        }
        coolerN_[0].value = heatSink;
        coolerN_[1].value = top;
        coolerN_[2].value = bottom;
        coolerNP_.s = others == CAMERA_SUCCESS ? IPS_OK : IPS_ALERT;
        IDSetNumber(&coolerNP_, nullptr);
    });
}

bool Vela2Ccd::saveConfigItems(FILE* fp) {
    INDI::CCD::saveConfigItems(fp);
    IUSaveConfigText(fp, &modeFileTP_);
    IUSaveConfigSwitch(fp, &modeSP_);
    IUSaveConfigSwitch(fp, &triggerSP_);
    return true;
}

}  // namespace vela2indi
